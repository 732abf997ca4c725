#include "table/user_list.h"

#include <algorithm>

#include "text/exceptions.h"
#include "text/messages.h"

namespace table {

// While an edit is being applied, changes of the list neither recompute the rows nor close the
// editor (the editor is what is being applied); the rows are recomputed once the outermost edit
// ends, if the number of lines changed meanwhile.
class TUserList::TEditScope {
 public:
  explicit TEditScope(TUserList& table) : table_(table) {
    if (table_.edit_depth_++ == 0) table_.lines_at_edit_start_ = table_.strings_.Count();
  }
  ~TEditScope() {
    if (--table_.edit_depth_ == 0 && table_.strings_.Count() != table_.lines_at_edit_start_)
      table_.RecomputeRowCount();
  }
  TEditScope(const TEditScope&) = delete;
  TEditScope& operator=(const TEditScope&) = delete;

 private:
  TUserList& table_;
};

namespace {

// A key with "=" would read back as a shorter user name with the rest of it in the password:
// refused, so that a user is never silently changed into another.
void RefuseEqualsSign(std::string_view key) {
  if (key.find('=') != std::string_view::npos) throw text::Exception(std::string(messages::SNoEqualsInKey));
}

std::string JoinEntry(std::string_view key, std::string_view value) {
  std::string line(key);
  line.append("=").append(value);
  return line;
}

}  // namespace

TUserList::TUserList() { strings_.SetObserver(this); }

std::string TUserList::CellText(Column column, int row) const {
  if (row == 0) return std::string(column == Column::Key ? messages::SUserNameHeader : messages::SPasswordHeader);
  if (strings_.Count() == 0) return std::string();
  const std::string& line = strings_.Get(row - 1);
  return std::string(column == Column::Key ? TUserRecords::KeyOf(line) : TUserRecords::ValueOf(line));
}

void TUserList::SetCellText(Column column, int row, std::string_view text) {
  if (edit_depth_ == 0) CloseEditor();
  WriteCell(column, row, text);
}

void TUserList::WriteCell(Column column, int row, std::string_view text) {
  // Before the row is read, so that a bad name is named as such even for a row that is not there.
  if (column == Column::Key) RefuseEqualsSign(text);
  std::string line = column == Column::Key ? JoinEntry(text, CellText(Column::Value, row))
                                           : JoinEntry(CellText(Column::Key, row), text);
  if (row - 1 >= strings_.Count()) {
    strings_.Add(std::move(line));
    return;
  }
  // A password written over a held hash replaces it: the row now has a password of its own. A new
  // user name keeps it, since a hash does not depend on the name.
  const bool replaces_held = column == Column::Value && !strings_.Held(row - 1).empty() && line != strings_.Get(row - 1);
  strings_.Put(row - 1, std::move(line));
  if (replaces_held) strings_.Hold(row - 1, std::string());
}

int TUserList::InsertEntry(std::string_view key, std::string_view value, bool append) {
  if (edit_depth_ == 0) CloseEditor();
  // Refused before the batch opens: a refused first record must not announce a change to an
  // empty table, which would offer a build of nothing.
  RefuseEqualsSign(key);
  const int r = row_;
  if (IsEmptyRow(r)) {
    WriteCell(Column::Key, r, key);
    WriteCell(Column::Value, r, value);
    return r;
  }
  strings_.BeginUpdate();
  struct TEndBatch {
    TUserRecords& strings;
    ~TEndBatch() { strings.EndUpdate(); }
  } end_batch{strings_};
  std::string line = JoinEntry(key, value);
  if (append) return strings_.Add(std::move(line)) + 1;
  strings_.Insert(r - 1, std::move(line));
  return r;
}

bool TUserList::IsEmptyRow(int row) const {
  // A row that holds a hash is a user, whatever its cells show.
  if (row < 1 || row > strings_.Count() || !strings_.Held(row - 1).empty()) return false;
  const std::string& line = strings_.Lines()[static_cast<std::size_t>(row - 1)];
  return TUserRecords::KeyOf(line).empty() && TUserRecords::ValueOf(line).empty();
}

void TUserList::StringsChanging() {
  if (edit_depth_ == 0) CloseEditor();
}

void TUserList::StringsChanged(int first, bool count_changed) {
  if (edit_depth_ == 0) RecomputeRowCount();
  if (view_) view_->RowsChanged(first + 1, count_changed ? std::max(row_count_ - 1, first + 1) : first + 1);
  if (OnStringsChange) OnStringsChange();
}

void TUserList::RecomputeRowCount() {
  const int n = strings_.Count() > 0 ? strings_.Count() + 1 : 2;
  if (n == row_count_) return;
  const int old = row_count_;
  const bool row_moves = row_ > n - 1;
  if (row_moves) row_ = n - 1;
  row_count_ = n;
  if (view_) {
    view_->RowCountChanged(old, n);
    if (row_moves) view_->CurrentCellChanged();
  }
}

// --- Editing ---

void TUserList::ShowEditor() {
  if (!editor_ || editor_open_) return;
  editor_loaded_ = CellText(col_, row_);
  editor_loaded_held_ = col_ == Column::Value && row_ <= strings_.Count() ? strings_.Held(row_ - 1) : std::string();
  editor_col_ = col_;
  editor_row_ = row_;
  editor_modified_ = false;
  editor_open_ = true;
  editor_->Show(col_, row_, editor_loaded_);
}

void TUserList::CloseEditor() {
  if (!editor_open_) return;
  // A refused hand-over leaves the editor open with the user's text in it.
  HandOver(editor_col_, editor_row_, editor_->Text());
  editor_open_ = false;
  editor_->Hide();
}

void TUserList::AbandonEditor() {
  if (!editor_open_) return;
  editor_open_ = false;
  pending_key_.clear();
  editor_->Hide();
}

void TUserList::EditorTextChanged() {
  if (!editor_open_) return;
  editor_modified_ = true;
  ++editor_edits_;
  // A character the table cannot store is refused when the user leaves the cell, as a name that
  // matches another is: not with a message on every key, and never by storing the text without
  // it. Meanwhile the editor shows the text as typed and the table keeps what it held.
  std::string text;
  try {
    text = editor_->Text();
  } catch (const text::Exception&) {
    return;
  }
  HandOver(editor_col_, editor_row_, text);
}

void TUserList::HandOver(Column column, int row, const std::string& text) {
  TEditScope edit(*this);
  // Typing into the placeholder row of an empty list gives it a line to hold the text.
  if (row - 1 >= strings_.Count() && !text.empty()) strings_.Add(std::string());
  if (text == CellText(column, row)) return;
  if (column == Column::Key) {
    RefuseEqualsSign(text);  // here, so that a refused name leaves a held one held
    // A user name that matches another is held once without a word: typing "ab" while "a"
    // exists passes through "a". Handed over a second time in a row, it is tried and refused.
    if (!text.empty() && strings_.HasMatchingKey(text) && text != pending_key_) {
      pending_key_ = text;
      return;
    }
  }
  pending_key_.clear();
  WriteCell(column, row, text);
  // A held hash gives way only to a password the user typed: a password cell emptied again holds
  // the hash it was opened with, rather than leaving the build to generate a password in its place.
  if (column == Column::Value && text.empty() && column == editor_col_ && row == editor_row_ &&
      !editor_loaded_held_.empty() && row - 1 < strings_.Count() && strings_.Held(row - 1).empty())
    strings_.Hold(row - 1, editor_loaded_held_);
}

void TUserList::SetCurrent(Column column, int row) {
  col_ = column;
  row_ = row;
  if (view_) view_->CurrentCellChanged();
}

void TUserList::MoveTo(Column column, int row) {
  row = std::clamp(row, 1, row_count_ - 1);
  if (column == col_ && row == row_) return;
  CloseEditor();
  if (row != row_ && !deleting_ && strings_.Count() > 0 && IsEmptyRow(row_)) {
    // A row left empty goes when the user leaves it; a target below it moves up with the rows.
    const int deleted = row_;
    DeleteCurrentRow();
    if (row >= deleted) --row;
    row = std::clamp(row, 1, row_count_ - 1);
  }
  SetCurrent(column, row);
}

void TUserList::DeleteCurrentRow() {
  if (deleting_) return;
  deleting_ = true;
  struct TReset {
    bool& flag;
    ~TReset() { flag = false; }
  } reset{deleting_};
  const int r = row_;
  if (r == row_count_ - 1 && strings_.Count() > 1) MoveTo(col_, r - 1);
  strings_.Delete(r - 1);
}

void TUserList::RemoveRow(int row) {
  if (edit_depth_ == 0) CloseEditor();
  strings_.Delete(row - 1);
}

void TUserList::KeyDown() {
  if (row_ == row_count_ - 1 && !CellText(Column::Key, row_).empty()) {
    const int r = InsertEntry("", "", true);
    MoveTo(col_, r);
    return;
  }
  MoveTo(col_, row_ + 1);
}

void TUserList::KeyInsert() {
  if (!CellText(Column::Key, row_).empty()) InsertEntry("", "", false);
}

void TUserList::KeyEscape() {
  if (editor_open_ && editor_modified_) {
    // One edit: holding the hash again is part of putting the cell back, not a change that closes
    // the editor under it.
    TEditScope edit(*this);
    const std::string loaded = editor_loaded_;
    const bool changed = editor_->Restore(loaded);
    editor_modified_ = false;
    HandOver(editor_col_, editor_row_, loaded);
    // Escape takes back a password typed over a held hash: the hash is held again.
    if (!editor_loaded_held_.empty() && strings_.Held(editor_row_ - 1).empty())
      strings_.Hold(editor_row_ - 1, editor_loaded_held_);
    if (changed) {
      editor_->SelectAll();
      return;
    }
  }
  if (IsEmptyRow(row_)) DeleteCurrentRow();
}

}  // namespace table

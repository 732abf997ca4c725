// The credential table under arbitrary sequences of cell writes, entries, direct line changes,
// held hashes, batches and the editing keys with an in-place editor that the input types into.
//
// After every step the table must keep its promises: non-empty keys unique under
// platform::KeysMatch, the key index answering as a scan does, rows and the current cell
// following the lines, and no hash held twice. A step must also meet the failure and the result
// of a naive model, which starts from the table as the step found it or, where the step closes
// the editor, as the hand-over of the editor's text left it; while the editor stays open, only
// its own row may change. Failures the table reports are expected where the model says so or the
// editor's text is refused; anything else is a finding.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "platform/cp932.h"
#include "platform/key_fold.h"
#include "table/user_list.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace {

using namespace std::string_view_literals;
using enum table::Column;
using Lines = std::vector<std::string>;

// Small enough for the quadratic checks to stay cheap, large enough for edits in the middle: a run
// ends when its table reaches kMaxLines.
constexpr int kMaxSteps = 64, kMaxLines = 16;

// Letters whose case folding is interesting (ASCII, full width, Greek, Cyrillic, Roman numerals
// encoded twice), trail bytes 0x5C and 0x3D, stray lead bytes and separators. Any other byte
// stands for itself.
constexpr std::string_view kPieces[] = {
    "a"sv, "A"sv, "b"sv, "B"sv, "="sv, "\\"sv, "\0"sv, ","sv, "\""sv, " "sv, "\r\n"sv, "aB"sv, "a=b"sv,
    "\x82\x60"sv, "\x82\x81"sv, "\x83\x9f"sv, "\x83\xbf"sv, "\x84\x40"sv, "\x84\x70"sv,  // Ａ ａ Α α А а
    "\x87\x54"sv, "\xfa\x4a"sv, "\xfa\x40"sv, "\xee\xef"sv, "\x81\xca"sv, "\xee\xf9"sv,  // Ⅰ Ⅰ ⅰ ⅰ ¬ ¬
    "\xfa\x54"sv, "\x95\x5c"sv, "\x81\x3d"sv, "\x81"sv,     "\xfd"sv,                   // ¬ 表, lead bytes
};

std::string_view KeyOf(std::string_view line) { return line.find('=') == line.npos ? ""sv : line.substr(0, line.find('=')); }
std::string_view ValueOf(std::string_view line) { return line.substr(line.find('=') + 1); }  // npos + 1 is 0
// Empty keys never clash, so that rows being filled in can coexist.
bool Matches(std::string_view a, std::string_view b) { return !a.empty() && !b.empty() && platform::KeysMatch(a, b); }
template <class V> auto& At(V& v, int i) { return v[static_cast<std::size_t>(i)]; }

// A probe that must find whatever the key itself finds.
std::string SwapAsciiCase(std::string s) {
  for (char& c : s) c = static_cast<char>((c | 0x20) >= 'a' && (c | 0x20) <= 'z' ? c ^ 0x20 : c);
  return s;
}

struct Input {
  const std::uint8_t *data, *end;

  unsigned Below(unsigned n) { return (data == end ? 0u : *data++) % n; }
  bool Bit() { return Below(2) != 0; }
  // One step outside the valid range on either side, so that index failures are reached too.
  int Index(int count) { return static_cast<int>(Below(static_cast<unsigned>(count) + 3u)) - 1; }
  std::string Piece() {
    const unsigned b = Below(256);
    return b < std::size(kPieces) ? std::string(kPieces[b]) : std::string(1, static_cast<char>(b));
  }
  std::string Text(unsigned max_pieces) {
    std::string out;
    for (unsigned n = Below(max_pieces + 1); n > 0; --n) out += Piece();
    return out;
  }
};

// A step's failure is its message, empty for none: the model predicts the very text.
std::string IndexError(int i) { return text::FormatMessage(messages::SListIndexError, i); }
std::string Duplicate(std::string_view key) { return text::FormatMessage(messages::SDuplicateString, {key}); }
std::string Equals() { return std::string(messages::SNoEqualsInKey); }
std::string Unstorable() { return text::FormatMessage(messages::SNotCp932, {"1F600"}); }

// Only the product's own failures are caught, so that anything else ends the run.
template <class Step> std::string Attempt(Step&& step) try {
  return step(), std::string();
} catch (const text::Exception& e) { return e.Message(); }

// Line changes, numbered as both the model and the fuzzer's line steps take them.
enum Change : unsigned { kInsert, kAdd, kPut, kDelete, kHold, kRemoveRow, kClear };
// The keys and the editor's own steps, numbered likewise.
enum Keystroke : unsigned { kDown, kInsertKey, kEscape, kMove, kClose, kShow };

// Plain vectors of lines and of their held hashes where every check is a scan, so that it cannot
// share the index's bugs.
struct Model {
  Lines lines, held;
  int row = 1, shown_at = -1;
  table::Column col = Value;

  int Count() const { return static_cast<int>(lines.size()); }
  int Rows() const { return std::max(Count() + 1, 2); }
  std::string Line(int r) const { return lines.empty() ? "" : At(lines, r - 1); }
  // A row that holds a hash is a user, whatever its cells show.
  bool IsEmpty(int r) const { return r >= 1 && r <= Count() && At(held, r - 1).empty() && KeyOf(Line(r)).empty() && ValueOf(Line(r)).empty(); }

  // `text` is the new line, or the hash for kHold. An added line holds none, a put keeps it.
  std::string Apply(unsigned kind, int i, const std::string& text = {}) {
    const bool adds = kind <= kAdd;
    if (kind != kClear && (i < 0 || i > Count() - (adds ? 0 : 1))) return IndexError(i);
    for (int j = 0; j < Count() && kind <= kPut; ++j)
      if (j != (adds ? -1 : i) && Matches(KeyOf(At(lines, j)), KeyOf(text))) return Duplicate(KeyOf(text));
    if (adds) lines.insert(lines.begin() + i, text), held.insert(held.begin() + i, "");
    if (kind == kDelete || kind == kRemoveRow) lines.erase(lines.begin() + i), held.erase(held.begin() + i);
    if (kind == kPut || kind == kHold) At(kind == kPut ? lines : held, i) = text;
    if (kind == kClear) lines.clear(), held.clear();
    row = std::min(row, Rows() - 1);
    return {};
  }
  // An empty table still shows one row of empty cells, and writing to it creates its line.
  std::string SetCell(table::Column c, int r, const std::string& text) {
    if (c == Key && text.find('=') != std::string::npos) return Equals();
    if (r <= 0 || (Count() > 0 && r > Count())) return IndexError(r - 1);
    const std::string line = c == Key ? text + "=" + std::string(ValueOf(Line(r))) : std::string(KeyOf(Line(r))) + "=" + text;
    if (lines.empty()) return Apply(kAdd, 0, line);
    if (c == Value && line != Line(r)) At(held, r - 1).clear();  // a new password replaces a held hash
    return Apply(kPut, r - 1, line);
  }
  std::string InsertEntry(const std::string& key, const std::string& value, bool append) {
    if (key.find('=') != std::string::npos) return Equals();
    const bool fill = IsEmpty(row);  // an empty current row takes the entry in place
    shown_at = append && !fill ? Count() + 1 : row;
    return Apply(fill ? kPut : kInsert, append && !fill ? Count() : row - 1, key + "=" + value);
  }
  // Down adds an empty row below the last named one, Insert one before a named row; an empty row
  // can never clash, so adding one cannot fail. Down then moves to the row below, to (c, r).
  // Escape removes an empty row. Opening or closing the editor changes no line.
  void Press(unsigned key, table::Column c, int r) {
    if (key <= kInsertKey && !KeyOf(Line(row)).empty() && (key == kInsertKey || row == Rows() - 1)) InsertEntry("", "", key == kDown);
    if (key == kEscape && IsEmpty(row)) Apply(kDelete, row - 1);
    if (key != kDown && key != kMove) return;
    // Leaving an empty row for another row removes it, and a row below it moves up.
    r = std::clamp(r, 1, Rows() - 1);
    if (const int old = row; r != old && IsEmpty(old)) Apply(kDelete, old - 1), r = r > old ? r - 1 : r;
    col = c, row = r;
  }
};

// What a view shows of each row. Like the window's, it draws a row when the row appears and again
// only where the table says rows changed (at its next look, as the window draws once events settle),
// so that a change the table does not announce leaves the picture stale.
class TScreen : public table::TUserListView {
 public:
  explicit TScreen(const table::TUserList& table)
      : table_(table), rows_(static_cast<std::size_t>(table.RowCount())), dirty_(rows_.size(), 1) {}
  void RowCountChanged(int old_count, int new_count) override {
    rows_.resize(static_cast<std::size_t>(new_count));
    dirty_.resize(static_cast<std::size_t>(new_count));
    for (int r = old_count; r < new_count; ++r) dirty_[static_cast<std::size_t>(r)] = true;
  }
  void RowsChanged(int first, int last) override {
    for (int r = first; r <= last && r < static_cast<int>(dirty_.size()); ++r) dirty_[static_cast<std::size_t>(r)] = true;
  }
  void CurrentCellChanged() override {}
  bool Fresh() {
    bool fresh = true;
    for (std::size_t r = 1; r < rows_.size(); ++r) {
      const std::string now = table_.CellText(Key, static_cast<int>(r)) + '\0' + table_.CellText(Value, static_cast<int>(r));
      if (std::exchange(dirty_[r], false)) rows_[r] = now;
      fresh = fresh && rows_[r] == now;
    }
    return fresh;
  }

 private:
  const table::TUserList& table_;
  std::vector<std::string> rows_;
  std::vector<char> dirty_;  // rows to draw at the next look
};

// The run plays the in-place editor too, so that it knows what the user typed into which cell.
class Run : table::TCellEditor {
 public:
  void Go(Input in) {
    in_ = in, table_.SetEditor(this), table_.SetView(&screen_);
    table_.OnStringsChange = [this] { ++announced_; };
    static constexpr void (Run::*kSteps[])() = {&Run::SetCell, &Run::InsertEntry, &Run::LineStep, &Run::LineStep, &Run::Batch, &Run::Type,
                                                &Run::Type,    &Run::Keys,        &Run::Keys,     &Run::Keys,     &Run::Click, &Run::Lookups};
    for (int step = 0; step < kMaxSteps && in_.data != in_.end && strings_.Count() < kMaxLines; ++step) {
      handed_ = false, probes_.assign(1, "");
      (this->*kSteps[in_.Below(std::size(kSteps))])();
      CheckTable();
    }
  }

 private:
  // The editor. Unstorable: holds a character the code page cannot store. Typed: changed since shown.
  std::string Text() const override {
    CHECK(shown_);
    if (unstorable_) throw text::Exception(Unstorable());
    handed_ = handed_ || (typed_ && col_ == Value);
    return text_;
  }
  void Show(table::Column c, int r, std::string_view t) override {
    CHECK(!shown_ && t == table_.CellText(c, r));
    shown_ = true, col_ = c, row_ = r, text_ = loaded_ = t, unstorable_ = typed_ = false;
    loaded_held_ = r <= strings_.Count() ? strings_.Held(r - 1) : "";
  }
  // What the hand-over left is where the model starts from.
  void Hide() override { CHECK(shown_), CheckOnlyEditorRow(), shown_ = false, model_ = Snapshot(); }
  bool Restore(std::string_view t) override {
    CHECK(shown_);
    const bool changed = text_ != t || unstorable_;
    return text_ = t, unstorable_ = typed_ = false, changed;
  }
  void SelectAll() override { CHECK(shown_); }

  Model Snapshot() const {
    Model m{strings_.Lines(), {}, table_.Row(), -1, table_.Col()};
    for (int i = 0; i < m.Count(); ++i) m.held.push_back(strings_.Held(i));
    return m;
  }
  // With the editor open a step first hands the editor's text over, which the model does not
  // follow: it predicts from where the editor closed. Inside a batch the table learns of changes
  // only at its end, so rows are not yet due.
  template <class Predict, class Act>
  std::string Modeled(Predict predict, Act act, bool rows = true) {
    const bool was_open = shown_;
    model_ = Snapshot();
    std::string got = Attempt(act);
    if (was_open && shown_) return CheckOnlyEditorRow(), got;
    const Model now = Snapshot();
    CHECK(got == predict() && now.lines == model_.lines && now.held == model_.held);
    if (rows) CHECK(now.row == model_.row && now.col == model_.col);
    return got;
  }
  // While the editor is open only its own row changes (on the placeholder row, a line appears for
  // it): the text handed over, its hash let go for a typed password or held again by Escape.
  void CheckOnlyEditorRow() const {
    const Model now = Snapshot();
    CHECK(now.Count() == model_.Count() || (model_.Count() == 0 && now.Count() == 1 && now.held[0].empty()));
    for (int i = 0; i < model_.Count(); ++i) {
      const std::string &was = At(model_.held, i), &is = At(now.held, i);
      CHECK(i == row_ - 1 ? is == was || is == loaded_held_ || (is.empty() && handed_) : At(now.lines, i) == At(model_.lines, i) && is == was);
    }
  }
  // What handing over the editor's text may fail with.
  bool Refused(const std::string& got) const { return got == Equals() || got == Unstorable() || got == Duplicate(text_); }
  // A new name, or often one that the table has, maybe in another case, which the index must treat alike.
  std::string Name() {
    const unsigned how = in_.Below(4);
    const Lines& lines = strings_.Lines();
    const std::string name = how < 2 || lines.empty() ? in_.Text(4) : std::string(KeyOf(lines[in_.Below(static_cast<unsigned>(lines.size()))]));
    return probes_.emplace_back(how == 3 ? SwapAsciiCase(name) : name);
  }

  void Lookups() { for (unsigned n = in_.Below(4); n > 0; --n) probes_.push_back(in_.Text(4)); }
  void SetCell() {
    const table::Column col = in_.Bit() ? Key : Value;
    const int row = in_.Index(table_.RowCount() - 1);
    const std::string text = col == Key ? Name() : in_.Text(4);
    Modeled([&] { return model_.SetCell(col, row, text); }, [&] { table_.SetCellText(col, row, text); });
  }
  void InsertEntry() {
    const std::string key = Name(), value = in_.Text(3);
    const bool append = in_.Bit();
    int r = 0;
    if (Modeled([&] { return model_.InsertEntry(key, value, append); }, [&] { r = table_.InsertEntry(key, value, append); }).empty())
      CHECK(r == model_.shown_at && table_.CellText(Key, r) == key && table_.CellText(Value, r) == value);
  }

  // The line list's own changes, a hash held anew (or let go) and a row removed through the table.
  void LineStep() { LineStep(in_.Below(kClear + 1), false); }
  void LineStep(unsigned kind, bool in_batch) {
    const int i = kind == kAdd ? strings_.Count() : in_.Index(strings_.Count());
    std::string text = kind <= kPut ? Name() : kind == kHold && in_.Bit() ? "$h$" + std::to_string(++hashes_) : "";
    if (kind <= kPut && in_.Bit()) text += "=" + in_.Text(3);  // else a line with no "=" (all password), or the name's own
    Modeled([&] { return model_.Apply(kind, i, text); }, [&] {
      kind == kInsert ? strings_.Insert(i, text) : kind == kAdd ? void(strings_.Add(text)) : kind == kPut ? strings_.Put(i, text)
      : kind == kDelete ? strings_.Delete(i) : kind == kHold ? strings_.Hold(i, text) : kind == kRemoveRow ? table_.RemoveRow(i + 1)
      : strings_.Clear();
    }, !in_batch);
  }

  // The table hears of a batch's changes once, at its end, and must then be whole.
  void Batch() {
    if (const std::string begun = Modeled([] { return std::string(); }, [&] { strings_.BeginUpdate(); }); !begun.empty())
      return CHECK(Refused(begun));
    CHECK(!shown_), announced_ = 0;
    for (unsigned n = in_.Below(4); n > 0; --n) LineStep(in_.Below(kClear), true);
    strings_.EndUpdate();
    CHECK(announced_ == 1);
  }

  // The user's text goes to the editor's cell, or is held once as a name the table already has, or
  // (a character the table cannot store) stays in the editor alone. Into a closed editor it goes
  // nowhere.
  void Type() {
    const bool was_open = shown_;
    const unsigned how = in_.Below(4);
    text_ = how == 0 ? Name() : how == 1 ? text_ + in_.Piece() : how == 2 ? text_.substr(0, platform::LastCharStart(text_)) : text_;
    unstorable_ = how == 3, typed_ = true;
    const std::string before = was_open ? table_.CellText(col_, row_) : "";
    const std::string got = Modeled([] { return std::string(); }, [&] { table_.EditorTextChanged(); });
    // Text the table cannot store stays in the editor, unannounced, until the user leaves the cell.
    if (!was_open || how == 3) return CHECK(got.empty() && (!was_open || table_.CellText(col_, row_) == before));
    // The first keystroke into the placeholder row gives it a line, whatever becomes of the text.
    CHECK(shown_ && (text_.empty() || row_ <= strings_.Count()) &&
          (got.empty() ? table_.CellText(col_, row_) == text_ || (col_ == Key && table_.PendingDuplicateKey() == text_)
                       : col_ == Key && got == (text_.find('=') != std::string::npos ? Equals() : Duplicate(text_))));
  }

  void Click() { Keys(kShow), Keys(kMove), Keys(kShow); }  // as the view handles one
  void Keys() { Keys(in_.Below(kShow + 1)); }
  void Keys(unsigned key) {
    const table::Column col = key == kMove ? (in_.Index(1) <= 0 ? Key : Value) : table_.Col();
    const int row = key == kMove ? in_.Index(table_.RowCount()) : table_.Row() + 1;
    const bool restoring = key == kEscape && shown_ && typed_;
    const std::string got = Modeled([&] { return model_.Press(key, col, row), std::string(); }, [&] {
      key == kDown ? table_.KeyDown() : key == kInsertKey ? table_.KeyInsert() : key == kEscape ? table_.KeyEscape()
      : key == kMove ? table_.MoveTo(col, row) : key == kClose ? table_.CloseEditor() : table_.ShowEditor();
    });
    // Opening never fails; a refused hand-over leaves the editor open with the user's text in it.
    CHECK(got.empty() ? key < kClose || shown_ == (key == kShow) : key != kShow && shown_ && Refused(got));
    // Escape puts back the text the editor was opened with, in the editor and in its cell, and the
    // hash that its password cell held.
    if (!restoring || !got.empty()) return;
    if (shown_) CHECK(text_ == loaded_ && !unstorable_ && (table_.CellText(col_, row_) == loaded_ || table_.PendingDuplicateKey() == loaded_));
    if (col_ == Value && !loaded_held_.empty()) CHECK(row_ <= strings_.Count() && strings_.Held(row_ - 1) == loaded_held_);
  }

  void CheckTable() {
    const Model m = Snapshot();
    // One row per line after the title row, or the placeholder row alone; the current cell on one.
    CHECK(strings_.Count() == m.Count() && table_.RowCount() == m.Rows() && m.row >= 1 && m.row < m.Rows());
    CHECK(table_.CellText(Key, 0) == messages::SUserNameHeader && table_.CellText(Value, 0) == messages::SPasswordHeader);
    CHECK(screen_.Fresh());
    std::string known;
    for (int r = 1; r < m.Rows(); ++r) {
      const std::string line = m.Line(r), hash = m.held.empty() ? "" : At(m.held, r - 1);
      const std::string_view key = KeyOf(line);
      // A row that holds a hash is never empty, so it is neither removed nor filled in as one.
      CHECK(table_.CellText(Key, r) == key && table_.CellText(Value, r) == ValueOf(line) && table_.IsEmptyRow(r) == m.IsEmpty(r));
      for (int other = r + 1; other <= m.Count(); ++other) CHECK(!Matches(key, KeyOf(m.Line(other))));
      probes_.emplace_back(key), probes_.push_back(SwapAsciiCase(std::string(key)));
      if (!m.held.empty() && hash.empty()) known += line + "\r\n";
      CHECK(hash.empty() || std::count(m.held.begin(), m.held.end(), hash) == 1);  // no hash is ever held twice
    }
    CHECK(strings_.KnownText() == known && strings_.AnyHeld() == (m.held != Lines(m.held.size())));
    for (const std::string& probe : probes_)
      CHECK(strings_.HasMatchingKey(probe) == std::ranges::any_of(m.lines, [&](const std::string& l) { return Matches(KeyOf(l), probe); }));
    CHECK(shown_ == table_.EditorOpen() && (!shown_ || (col_ == m.col && row_ == m.row)));
    // A held user name must be one that could never be stored.
    CHECK(table_.PendingDuplicateKey().find('=') == std::string::npos);
  }

  Input in_{};
  table::TUserList table_;
  table::TUserRecords& strings_ = table_.Strings();
  TScreen screen_{table_};
  Model model_;  // the table as the current step found it, or as the editor left it
  // The editor's text, what it was opened with, and what its row held then.
  std::string text_, loaded_, loaded_held_;
  bool shown_ = false, typed_ = false, unstorable_ = false;
  mutable bool handed_ = false;  // a typed password was handed over in this step
  table::Column col_ = Key;
  int row_ = -1, announced_ = 0, hashes_ = 0;
  Lines probes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Run().Go({data, data + size});
  return 0;
}

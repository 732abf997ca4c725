// The credential table `UserList`: rows and cells over the line list `Strings`, the current cell,
// and the rules by which the user edits it. The table keeps no copy of any cell text: every cell
// is read from `Strings` when it is asked for.
//
// Rows count from 0, the title row; data row r shows line r - 1. An empty list shows one
// placeholder row with no line behind it, so RowCount() is at least 2.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "table/user_records.h"

namespace table {

// The two columns, the user name and the password.
enum class Column : int { Key = 0, Value = 1 };

// The column as Qt's models and views number it.
constexpr int ColumnIndex(Column column) noexcept { return static_cast<int>(column); }
// The column a Qt index or the page names: 0 the user name, anything else the password.
constexpr Column ColumnAt(int index) noexcept { return index == 0 ? Column::Key : Column::Value; }

// The in-place cell editor, as the table sees it. The table decides when it opens, what it is
// loaded with and when its text is handed over; the widget that implements it only shows it.
class TCellEditor {
 public:
  virtual ~TCellEditor() = default;
  // The text in the editor, as code page 932 bytes. May throw when the editor holds a character
  // that the code page cannot store: the hand-over then fails like any refused edit.
  virtual std::string Text() const = 0;
  virtual void Show(Column column, int row, std::string_view text) = 0;  // load and show
  virtual void Hide() = 0;
  // Puts `text` back into the editor; true when that changed what the editor showed.
  virtual bool Restore(std::string_view text) = 0;
  virtual void SelectAll() = 0;
};

// What the table tells whoever draws it.
class TUserListView {
 public:
  virtual ~TUserListView() = default;
  virtual void RowCountChanged(int old_count, int new_count) = 0;
  virtual void RowsChanged(int first_row, int last_row) = 0;  // redraw these rows
  virtual void CurrentCellChanged() = 0;
};

class TUserList : private TUserRecords::TObserver {
 public:
  TUserList();
  TUserList(const TUserList&) = delete;
  TUserList& operator=(const TUserList&) = delete;

  TUserRecords& Strings() { return strings_; }
  const TUserRecords& Strings() const { return strings_; }
  // Grows with every change of the lines and every edit typed into the cell editor, stored or not:
  // what the screen shows has changed either way.
  std::uint64_t ChangeCount() const noexcept { return strings_.ChangeCount() + editor_edits_; }

  int RowCount() const noexcept { return row_count_; }
  Column Col() const noexcept { return col_; }
  int Row() const noexcept { return row_; }

  // Row 0 gives the headers; the placeholder row gives empty texts; a data row without a line
  // fails with the list index error.
  std::string CellText(Column column, int row) const;
  // Replaces the key or the value of data row `row`, rebuilding its line from the other cell.
  void SetCellText(Column column, int row, std::string_view text);

  // Puts key and value into the current row if it is an empty row, else into a new line, appended
  // or inserted before the current row. Returns the row that shows them.
  int InsertEntry(std::string_view key, std::string_view value, bool append);

  // A row with a line whose key and value are both empty, and which holds no hash.
  bool IsEmptyRow(int row) const;
  // Removes data row `row` (after the editor's text is handed over).
  void RemoveRow(int row);

  std::function<void()> OnStringsChange;

  // --- Editing, as the view drives it ---
  void SetView(TUserListView* view) { view_ = view; }
  void SetEditor(TCellEditor* editor) { editor_ = editor; }
  bool EditorOpen() const noexcept { return editor_open_; }
  void ShowEditor();              // opens the editor on the current cell (the table has the focus)
  void CloseEditor();             // hands the editor's text over, then closes it
  // Closes the editor without handing its text over, after a hand-over was refused where the
  // user cannot stay in the cell: what the cell shows is then again what it stores.
  void AbandonEditor();
  void EditorTextChanged();       // the user changed the editor's text
  void MoveTo(Column column, int row);
  void KeyDown();                 // Down on the last row of a named user adds an empty row
  void KeyInsert();               // Insert in a named user's row inserts an empty row before it
  void KeyEscape();               // restores the cell, or removes an empty row

  const std::string& PendingDuplicateKey() const noexcept { return pending_key_; }

 private:
  class TEditScope;

  void StringsChanging() override;
  void StringsChanged(int first, bool count_changed) override;
  void RecomputeRowCount();
  void WriteCell(Column column, int row, std::string_view text);
  void HandOver(Column column, int row, const std::string& text);
  void DeleteCurrentRow();
  void SetCurrent(Column column, int row);

  TUserRecords strings_;
  int row_count_ = 2;
  Column col_ = Column::Key;  // a name comes first
  int row_ = 1;

  TUserListView* view_ = nullptr;
  TCellEditor* editor_ = nullptr;
  bool editor_open_ = false;
  Column editor_col_ = Column::Key;
  int editor_row_ = 0;
  std::string editor_loaded_;
  std::string editor_loaded_held_;  // the hash the editor's password cell held when it was loaded
  bool editor_modified_ = false;
  std::uint64_t editor_edits_ = 0;

  std::string pending_key_;
  bool deleting_ = false;
  int edit_depth_ = 0;
  int lines_at_edit_start_ = 0;
};

}  // namespace table

// `UserList` on the screen: a grid over the credential table with an edit box that stands on the
// current cell while the grid has the keyboard focus. Every rule about what an edit does lives in
// table::TUserList; this widget turns keys, clicks and focus changes into calls to it.
#pragma once

#include <QLineEdit>
#include <QTableView>

#include "table/user_list.h"
#include "table/user_list_model.h"

class TUserListGrid;

// The in-place editor. It shows text decoded from code page 932 and hands back code page 932
// bytes, refusing a character the code page cannot hold rather than storing another one.
class TInplaceEdit final : public QLineEdit, public table::TCellEditor {
  Q_OBJECT

 public:
  explicit TInplaceEdit(TUserListGrid* grid);
  static constexpr std::size_t kEditableBytes = std::size_t{64} * 1024;

  std::string Text() const override;
  void Show(table::Column column, int row, std::string_view bytes) override;
  void Hide() override;
  bool Restore(std::string_view bytes) override;
  void SelectAll() override;

  bool exact = false;  // refuses characters held only in another's place (see Cp932Text)

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  // Tab and Shift+Tab leave the table; they never move between cells.
  bool focusNextPrevChild(bool next) override;

 private:
  friend class TUserListGrid;
  QString Present(std::string_view bytes);
  TUserListGrid* grid_;
  table::Column column_ = table::Column::Key;
  int row_ = 0;
  std::string loaded_bytes_;
  QString loaded_shown_;
  bool loaded_held_ = false;  // loaded on the password cell of a held hash
};

class TUserListGrid final : public QTableView {
  Q_OBJECT

 public:
  static constexpr int kKeyColumnWidth = 130;
  static constexpr int kRowHeight = 18;
  static constexpr int kMinValueWidth = 48;

  explicit TUserListGrid(QWidget* parent = nullptr);
  ~TUserListGrid() override;

  table::TUserList& Table() { return table_; }
  const table::TUserList& Table() const { return table_; }
  TInplaceEdit* Editor() const { return editor_; }
  table::TUserListModel& Model() { return model_; }
  bool HasTableFocus() const;

  // Handles a key meant for the grid; false when the editor should treat it as text editing.
  bool HandleKey(QKeyEvent* event);

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void updateGeometries() override;
  bool focusNextPrevChild(bool next) override;

 private:
  friend class TInplaceEdit;
  void FocusChanged(QWidget* old, QWidget* now);
  void SyncCurrentCell();
  void PlaceEditor();
  void AdjustColumns();
  void OpenEditorIfFocused();
  void ReopenEditor();
  // Tab (forward) or Shift+Tab: the next cell, or out of the table from its last (first) cell.
  void TabStep(bool forward);
  void LeaveTable(bool forward);
  int RowsPerPage() const;

  table::TUserList table_;
  table::TUserListModel model_;
  TInplaceEdit* editor_;
  bool adjusting_columns_ = false;
  bool reopen_pending_ = false;
  bool passing_focus_back_ = false;
};

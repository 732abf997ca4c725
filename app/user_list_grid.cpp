#include "app/user_list_grid.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <limits>
#include <string>

#include "app/busy.h"
#include "app/application.h"
#include "app/screen_text.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace {

using table::TUserListModel;

// The two columns as the view numbers its sections.
constexpr int kKeySection = table::ColumnIndex(table::Column::Key);
constexpr int kValueSection = table::ColumnIndex(table::Column::Value);

// Cells draw their text 2 pixels right of and below the cell's corner, clipped to the cell; the
// style's own item margins would put it elsewhere.
class TCellDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    painter->save();
    painter->fillRect(option.rect, option.palette.base());
    painter->setClipRect(option.rect);
    // The placeholder of a held hash is no data: it is greyed as a line edit greys its own.
    painter->setPen(option.palette.color(index.data(table::TUserListModel::HeldRole).toBool() ? QPalette::PlaceholderText
                                                                                           : QPalette::Text));
    painter->drawText(option.rect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                      index.data(Qt::DisplayRole).toString());
    // A cell the server will read otherwise than it stands carries a mark; its tool tip says why.
    if (!index.data(Qt::ToolTipRole).toString().isEmpty()) {
      const int side = option.rect.height() - 4;
      const QRect mark(option.rect.right() - side - 1, option.rect.top() + 2, side, side);
      painter->fillRect(mark, option.palette.base());
      QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning).paint(painter, mark);
    }
    painter->restore();
  }
};

}  // namespace

// --- TInplaceEdit ---

TInplaceEdit::TInplaceEdit(TUserListGrid* grid) : QLineEdit(grid->viewport()), grid_(grid) {
  setObjectName(QStringLiteral("UserListEditor"));
  setFrame(false);
  setMaxLength(std::numeric_limits<int>::max());  // no length limit on user names or passwords
  hide();
}

std::string TInplaceEdit::Text() const {
  const QString shown = text();
  // Unchanged text hands back the bytes it was loaded from, even those the screen could not show.
  if (shown == loaded_shown_) return loaded_bytes_;
  try {
    return Cp932Text(shown, exact);
  } catch (const text::Exception& failure) {
    // Said when the user has gone on elsewhere: the cell is named.
    throw text::Exception(text::FormatMessage(messages::SCellOf, {std::to_string(row_), column_ == table::Column::Key
                                                                                          ? messages::SUserNameHeader
                                                                                          : messages::SPasswordHeader}) +
                          failure.Message());
  }
}

// A line edit lays out its whole text on every change: a cell of hundreds of megabytes would
// freeze the window for minutes. Such a cell is shown cut short and cannot be edited in place,
// so its bytes stay exactly as loaded.
QString TInplaceEdit::Present(std::string_view bytes) {
  const bool huge = bytes.size() > kEditableBytes;
  setReadOnly(huge);
  setToolTip(huge ? ScreenText(messages::STooLongToEdit) : QString());
  return huge ? table::TUserListModel::DisplayText(bytes) : ScreenText(bytes);
}

void TInplaceEdit::Show(table::Column column, int row, std::string_view bytes) {
  column_ = column;
  row_ = row;
  const table::TUserRecords& strings = grid_->Table().Strings();
  loaded_held_ = column == table::Column::Value && row <= strings.Count() && !strings.Held(row - 1).empty();
  setPlaceholderText(loaded_held_ ? table::TUserListModel::HeldPlaceholder() : QString());
  loaded_bytes_ = std::string(bytes);
  loaded_shown_ = Present(bytes);
  setText(loaded_shown_);
  selectAll();
  grid_->PlaceEditor();
  show();
  if (grid_->HasTableFocus()) setFocus(Qt::OtherFocusReason);
}

void TInplaceEdit::Hide() {
  // Hiding the focused editor would send the focus on to the next control; it goes back to the
  // grid instead, which still has it as far as anyone else can tell.
  if (hasFocus()) {
    grid_->passing_focus_back_ = true;
    grid_->setFocus(Qt::OtherFocusReason);
    grid_->passing_focus_back_ = false;
  }
  hide();
}

bool TInplaceEdit::Restore(std::string_view bytes) {
  // The restored bytes become the ones an unchanged editor hands back, so that neither a cut
  // short text nor one the screen cannot show is ever stored in their place.
  loaded_bytes_ = std::string(bytes);
  loaded_shown_ = Present(bytes);
  setPlaceholderText(loaded_held_ ? table::TUserListModel::HeldPlaceholder() : QString());
  const bool changed = text() != loaded_shown_;
  setText(loaded_shown_);
  return changed;
}

void TInplaceEdit::SelectAll() { selectAll(); }

bool TInplaceEdit::focusNextPrevChild(bool next) {
  grid_->TabStep(next);
  return true;
}

void TInplaceEdit::keyPressEvent(QKeyEvent* event) {
  if (!grid_->HandleKey(event)) QLineEdit::keyPressEvent(event);
}

// --- TUserListGrid ---

TUserListGrid::TUserListGrid(QWidget* parent)
    : QTableView(parent), model_(table_), editor_(new TInplaceEdit(this)) {
  setObjectName(QStringLiteral("UserList"));
  setModel(&model_);
  table_.SetEditor(editor_);

  QFont font(ScreenText(messages::SGothicFont));
  font.setPixelSize(13);
  setFont(font);
  editor_->setFont(font);
  horizontalHeader()->setFont(font);

  verticalHeader()->hide();  // and so no row can be resized
  verticalHeader()->setMinimumSectionSize(kRowHeight);
  verticalHeader()->setDefaultSectionSize(kRowHeight);
  QHeaderView* header = horizontalHeader();
  header->setFixedHeight(kRowHeight);
  header->setSectionsClickable(false);
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setMinimumSectionSize(0);
  header->setSectionResizeMode(kKeySection, QHeaderView::Interactive);
  header->setSectionResizeMode(kValueSection, QHeaderView::Fixed);
  header->resizeSection(kKeySection, kKeyColumnWidth);

  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setSelectionMode(QAbstractItemView::NoSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTabKeyNavigation(false);
  setShowGrid(true);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setItemDelegate(new TCellDelegate(this));

  connect(&model_, &TUserListModel::currentCellChanged, this, &TUserListGrid::SyncCurrentCell);
  const auto list_changed = [this] {
    SyncCurrentCell();
    // A change made by a handler closed the editor; it opens again once the handler is done.
    if (!reopen_pending_ && !table_.EditorOpen()) {
      reopen_pending_ = true;
      QTimer::singleShot(0, this, &TUserListGrid::ReopenEditor);
    }
  };
  connect(&model_, &QAbstractItemModel::rowsInserted, this, list_changed);
  connect(&model_, &QAbstractItemModel::rowsRemoved, this, list_changed);
  connect(&model_, &QAbstractItemModel::dataChanged, this, list_changed);
  connect(qApp, &QApplication::focusChanged, this, &TUserListGrid::FocusChanged);
  connect(header, &QHeaderView::sectionResized, this, [this](int column) {
    // Never less than a usable password column: a boundary dragged past the table's edge could
    // not be grabbed back.
    const int widest_key = std::max(0, viewport()->width() - kMinValueWidth);
    if (column == kKeySection && columnWidth(column) > widest_key) setColumnWidth(column, widest_key);
    AdjustColumns();
  });
  // A double-click on the boundary brings the user-name column back to its own width, not to the
  // width of its contents.
  disconnect(header, &QHeaderView::sectionHandleDoubleClicked, this, nullptr);
  connect(header, &QHeaderView::sectionHandleDoubleClicked, this,
          [this] { setColumnWidth(kKeySection, kKeyColumnWidth); });
  connect(editor_, &QLineEdit::textEdited, this, [this] {
    editor_->setPlaceholderText(QString());  // typing replaces a held hash, even when it empties the cell
    Guarded([this] { table_.EditorTextChanged(); });
  });
  SyncCurrentCell();
}

TUserListGrid::~TUserListGrid() {
  disconnect(qApp, &QApplication::focusChanged, this, &TUserListGrid::FocusChanged);
  table_.SetEditor(nullptr);
  setModel(nullptr);
}

bool TUserListGrid::HasTableFocus() const {
  const QWidget* focus = QApplication::focusWidget();
  return focus != nullptr && (focus == this || focus == editor_);
}

void TUserListGrid::OpenEditorIfFocused() {
  if (!HasTableFocus()) return;
  if (table_.EditorOpen()) {
    if (!editor_->hasFocus()) editor_->setFocus(Qt::OtherFocusReason);
    return;
  }
  Guarded([this] { table_.ShowEditor(); });
}

void TUserListGrid::ReopenEditor() {
  if (TBusyScope::Active()) {  // not in the middle of a handler's work
    TBusyScope::WhenIdle(this, [this] { ReopenEditor(); });
    return;
  }
  reopen_pending_ = false;
  OpenEditorIfFocused();
}

void TUserListGrid::focusInEvent(QFocusEvent* event) {
  QTableView::focusInEvent(event);
  if (!passing_focus_back_) OpenEditorIfFocused();
}

void TUserListGrid::FocusChanged(QWidget* old, QWidget* now) {
  const auto ours = [this](const QWidget* w) { return w != nullptr && (w == this || w == editor_); };
  // Only a move to another control of this window leaves the table. A dialog or message box
  // coming up, another program taking the focus, or the menu bar taken from the keyboard, leaves
  // the editor as it is: the menu's items act like the buttons, which take no focus.
  if (ours(old) && !ours(now) && now != nullptr && now->window() == window() && !qobject_cast<QMenuBar*>(now)) {
    Guarded([this] { table_.CloseEditor(); });
    // A refused name cannot stay in an editor the user has left: it would show a user name the
    // table does not hold, and a later build would quietly use the stored one.
    table_.AbandonEditor();
  }
}

void TUserListGrid::SyncCurrentCell() {
  const QModelIndex current = model_.index(TUserListModel::ModelRow(table_.Row()), table::ColumnIndex(table_.Col()));
  if (selectionModel() && selectionModel()->currentIndex() != current)
    selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
  if (current.isValid()) scrollTo(current);
  PlaceEditor();
}

void TUserListGrid::PlaceEditor() {
  model_.Flush();  // the editor's cell may be a row the view has not been told of yet
  const QModelIndex cell = model_.index(TUserListModel::ModelRow(editor_->row_), table::ColumnIndex(editor_->column_));
  if (cell.isValid()) editor_->setGeometry(visualRect(cell));
}

void TUserListGrid::AdjustColumns() {
  // The password column fills whatever the user-name column leaves, whatever the user dragged.
  if (adjusting_columns_) return;
  adjusting_columns_ = true;
  const int fill = std::max(0, viewport()->width() - columnWidth(kKeySection));
  if (columnWidth(kValueSection) != fill) setColumnWidth(kValueSection, fill);
  adjusting_columns_ = false;
  PlaceEditor();
}

// Qt calls this on every resize, on new rows and when a scroll bar comes or goes: the fill of
// the password column holds through all of them.
void TUserListGrid::updateGeometries() {
  QTableView::updateGeometries();
  AdjustColumns();
}

void TUserListGrid::scrollContentsBy(int dx, int dy) {
  QTableView::scrollContentsBy(dx, dy);
  PlaceEditor();
}

bool TUserListGrid::focusNextPrevChild(bool next) {
  TabStep(next);
  return true;
}

void TUserListGrid::TabStep(bool forward) {
  // Tab goes from cell to cell, name then password, row by row; it leaves the table only from its
  // last cell (Shift+Tab from its first), so that typed work is not left behind for a box that
  // cannot take it.
  using table::Column;
  const Column col = table_.Col();
  const int row = table_.Row(), last = table_.RowCount() - 1;
  const auto move = [this](Column c, int r) {
    Guarded([&] { table_.MoveTo(c, r); });
    OpenEditorIfFocused();
  };
  if (forward && (col == Column::Key || row < last))
    move(col == Column::Key ? Column::Value : Column::Key, col == Column::Key ? row : row + 1);
  else if (!forward && (col == Column::Value || row > 1))
    move(col == Column::Value ? Column::Key : Column::Value, col == Column::Value ? row : row - 1);
  else
    LeaveTable(forward);
}

int TUserListGrid::RowsPerPage() const { return std::max(1, viewport()->height() / kRowHeight); }

void TUserListGrid::LeaveTable(bool forward) {
  QWidget* w = this;
  for (int guard = 0; guard < 1000; ++guard) {
    w = forward ? w->nextInFocusChain() : w->previousInFocusChain();
    if (w == nullptr || w == this) return;
    if (isAncestorOf(w)) continue;
    if (w->window() == window() && w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) {
      w->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
      return;
    }
  }
}

bool TUserListGrid::HandleKey(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods =
      event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  const bool plain = mods == Qt::NoModifier;
  const bool ctrl = mods == Qt::ControlModifier;
  const table::Column col = table_.Col();
  const int row = table_.Row();
  const auto act = [this](auto&& action) {
    Guarded(action);
    OpenEditorIfFocused();
    return true;
  };
  // A cell shown cut short has no caret worth moving: the arrows go straight to the next cell.
  const bool whole_selected =
      editor_->isReadOnly() || (editor_->hasSelectedText() && editor_->selectedText() == editor_->text());

  switch (event->key()) {
    case Qt::Key_Tab:
      if (plain || mods == Qt::ShiftModifier) TabStep(plain);
      return true;
    case Qt::Key_Backtab:
      TabStep(false);
      return true;
    case Qt::Key_Escape:
      return act([this] { table_.KeyEscape(); });
    case Qt::Key_Up:
      if (plain) return act([&] { table_.MoveTo(col, row - 1); });
      if (ctrl) return act([&] { table_.MoveTo(col, 1); });
      return false;
    case Qt::Key_Down:
      if (plain) return act([this] { table_.KeyDown(); });
      if (ctrl) return act([&] { table_.MoveTo(col, table_.RowCount() - 1); });
      return false;
    case Qt::Key_PageUp:
      if (plain) return act([&] { table_.MoveTo(col, row - RowsPerPage()); });
      return false;
    case Qt::Key_PageDown:
      if (plain) return act([&] { table_.MoveTo(col, row + RowsPerPage()); });
      return false;
    case Qt::Key_Home:
      if (ctrl) return act([&] { table_.MoveTo(col, 1); });
      return false;
    case Qt::Key_End:
      if (ctrl) return act([&] { table_.MoveTo(col, table_.RowCount() - 1); });
      return false;
    case Qt::Key_Left:
      if (plain && col == table::Column::Value &&
          ((editor_->cursorPosition() == 0 && !editor_->hasSelectedText()) || whole_selected))
        return act([&] { table_.MoveTo(table::Column::Key, row); });
      return false;
    case Qt::Key_Right:
      if (plain && col == table::Column::Key &&
          ((editor_->cursorPosition() == editor_->text().size() && !editor_->hasSelectedText()) || whole_selected))
        return act([&] { table_.MoveTo(table::Column::Value, row); });
      return false;
    case Qt::Key_Insert:
      if (plain) return act([this] { table_.KeyInsert(); });
      return false;
    case Qt::Key_Delete:
      return ctrl;  // rows are never deleted from the keyboard
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (!plain) return false;
      if (whole_selected) {
        editor_->deselect();
        editor_->end(false);
      } else {
        editor_->selectAll();
      }
      return true;
    default:
      return false;
  }
}

void TUserListGrid::keyPressEvent(QKeyEvent* event) {
  // A key the editor did not want comes here on its way up to the window: it goes on up.
  if (QApplication::focusWidget() != this) {
    event->ignore();
    return;
  }
  if (HandleKey(event)) return;
  OpenEditorIfFocused();
  if (table_.EditorOpen() && editor_->hasFocus()) QCoreApplication::sendEvent(editor_, event);
}

void TUserListGrid::mousePressEvent(QMouseEvent* event) {
  model_.Flush();  // what the user clicked is what the screen shows
  const QModelIndex cell = indexAt(event->position().toPoint());
  if (cell.isValid()) Guarded([&] { table_.MoveTo(table::ColumnAt(cell.column()), TUserListModel::TableRow(cell.row())); });
  if (!HasTableFocus()) setFocus(Qt::MouseFocusReason);
  OpenEditorIfFocused();
}

void TUserListGrid::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

#include "table/user_list_model.h"

#include <QTimer>

#include "platform/cp932.h"
#include "text/messages.h"

namespace table {

namespace {
constexpr std::size_t kMaxShownBytes = 4096;
}

TUserListModel::TUserListModel(TUserList& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table), shown_rows_(table.RowCount() - 1) {
  table_.SetView(this);
}

TUserListModel::~TUserListModel() { table_.SetView(nullptr); }

int TUserListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shown_rows_; }

int TUserListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QString TUserListModel::DisplayText(std::string_view bytes) {
  if (bytes.size() <= kMaxShownBytes) return QString::fromStdString(platform::Cp932ToUtf8(bytes));
  std::size_t cut = 0;
  while (cut < kMaxShownBytes) cut = platform::CharNext(bytes, cut);
  return QString::fromStdString(platform::Cp932ToUtf8(bytes.substr(0, cut))) + QChar(0x2026);
}

QString TUserListModel::HeldPlaceholder() { return DisplayText(messages::SHeldPlaceholder); }

QVariant TUserListModel::data(const QModelIndex& index, int role) const {
  const bool tip = role == Qt::ToolTipRole && annotator_;
  if ((role != Qt::DisplayRole && role != HeldRole && !tip) || !index.isValid()) return {};
  const int row = TableRow(index.row());
  const TUserRecords& strings = table_.Strings();
  // While an edit is applied the row count may lag the lines by design; a row without a line
  // simply shows nothing.
  if (row - 1 >= strings.Count()) return role == HeldRole ? QVariant(false) : QVariant(QString());
  const std::string& line = strings.Lines()[static_cast<std::size_t>(row - 1)];
  const TRow cells{TUserRecords::KeyOf(line), TUserRecords::ValueOf(line), !strings.Held(row - 1).empty()};
  const Column column = ColumnAt(index.column());
  const std::string_view bytes = column == Column::Key ? cells.key : cells.value;
  const bool held = column == Column::Value && bytes.empty() && cells.held;
  if (role == HeldRole) return held;
  if (held) return tip ? QVariant() : QVariant(HeldPlaceholder());
  return tip ? annotator_(column, cells) : DisplayText(bytes);
}

void TUserListModel::SetAnnotator(TAnnotator annotator) {
  annotator_ = std::move(annotator);
  AnnotationsChanged();
}

void TUserListModel::AnnotationsChanged() {
  if (shown_rows_ > 0) emit dataChanged(this->index(0, 0), this->index(shown_rows_ - 1, 1), {Qt::ToolTipRole});
}

QVariant TUserListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section > 1) return {};
  return DisplayText(table_.CellText(ColumnAt(section), 0));
}

Qt::ItemFlags TUserListModel::flags(const QModelIndex& index) const {
  // Cells are edited through the table's own editor, never through Qt's editing machinery.
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void TUserListModel::RowCountChanged(int, int) { ScheduleFlush(); }

void TUserListModel::RowsChanged(int first_row, int last_row) {
  const int first = ModelRow(first_row), last = ModelRow(last_row);
  dirty_first_ = dirty_first_ < 0 ? first : std::min(dirty_first_, first);
  dirty_last_ = std::max(dirty_last_, last);
  ScheduleFlush();
}

void TUserListModel::CurrentCellChanged() {
  current_moved_ = true;
  ScheduleFlush();
}

void TUserListModel::ScheduleFlush() {
  if (flush_scheduled_) return;
  flush_scheduled_ = true;
  QTimer::singleShot(0, this, &TUserListModel::Flush);
}

void TUserListModel::Flush() {
  flush_scheduled_ = false;
  if (flushing_) return;
  flushing_ = true;
  struct TDone {
    bool& flag;
    ~TDone() { flag = false; }
  } done{flushing_};
  // Rows inserted in the middle are told as rows added at the end plus changed texts below the
  // insertion: the same picture, with one notification instead of one per row.
  const int rows = table_.RowCount() - 1;
  if (rows > shown_rows_) {
    beginInsertRows(QModelIndex(), shown_rows_, rows - 1);
    shown_rows_ = rows;
    endInsertRows();
  } else if (rows < shown_rows_) {
    beginRemoveRows(QModelIndex(), rows, shown_rows_ - 1);
    shown_rows_ = rows;
    endRemoveRows();
  }
  const int first = std::max(dirty_first_, 0);
  const int last = std::min(dirty_last_, shown_rows_ - 1);
  dirty_first_ = dirty_last_ = -1;
  if (first <= last) emit dataChanged(index(first, 0), index(last, 1), {Qt::DisplayRole});
  if (current_moved_) {
    current_moved_ = false;
    emit currentCellChanged();
  }
}

}  // namespace table

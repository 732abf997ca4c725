// The credential table as a Qt item model. It holds no cell text: data() reads the table and
// converts the bytes for display each time a cell is drawn.
//
// The table may change a hundred thousand times in one handler (a load, a build). The model does
// not pass each change on: it notes what changed and tells the views once, when the event loop
// next runs (or when Flush() is called), so that a handler's cost per row does not depend on the
// views at all.
#pragma once

#include <QAbstractTableModel>
#include <functional>

#include "table/user_list.h"

namespace table {

class TUserListModel : public QAbstractTableModel, private TUserListView {
  Q_OBJECT

 public:
  explicit TUserListModel(TUserList& table, QObject* parent = nullptr);
  ~TUserListModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // True for a password cell that shows the placeholder of a held hash rather than data.
  static constexpr int HeldRole = Qt::UserRole;
  // What such a cell shows.
  static QString HeldPlaceholder();

  // The table row (title row 0) that a model row shows, and back.
  static int TableRow(int model_row) { return model_row + 1; }
  static int ModelRow(int table_row) { return table_row - 1; }

  // A cell as the screen shows it: decoded from code page 932, and cut short when it is so long
  // that drawing it whole would only cost time (a file may hold a line of many megabytes).
  static QString DisplayText(std::string_view bytes);

  // Why a cell's bytes will not work on a server as they read (shown as the cell's tool tip and a
  // mark), or an empty text. Given the cell's column and its row: the name, the password, and
  // whether the row holds a hash instead of a password. Asked whenever a cell is drawn, so it must
  // be cheap.
  struct TRow {
    std::string_view key;
    std::string_view value;
    bool held = false;
  };
  using TAnnotator = std::function<QString(Column column, const TRow& row)>;
  void SetAnnotator(TAnnotator annotator);
  // What the annotator says may have changed for every cell.
  void AnnotationsChanged();

 public:
  // Brings the views up to date with the table now.
  void Flush();

 signals:
  void currentCellChanged();

 private:
  void ScheduleFlush();
  void RowCountChanged(int old_count, int new_count) override;
  void RowsChanged(int first_row, int last_row) override;
  void CurrentCellChanged() override;

  TUserList& table_;
  TAnnotator annotator_;
  int shown_rows_;
  bool flush_scheduled_ = false;
  bool flushing_ = false;
  int dirty_first_ = -1;  // model rows whose text may have changed, or -1
  int dirty_last_ = -1;
  bool current_moved_ = false;
};

}  // namespace table

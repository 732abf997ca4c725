#include "app/cell_warnings.h"

#include "app/screen_text.h"
#include "core/cell_marks.h"

QString CellWarning(table::Column column, const table::TUserListModel::TRow& row, const core::TSettings& options, bool case_twin) {
  return ScreenText(column == table::Column::Key ? core::NameMark(row.key, row.value, row.held, case_twin)
                                                 : core::PasswordMark(row.value, options));
}

// The marks in the table: a cell whose text the server will not read as it stands.
#pragma once

#include <QString>
#include <string_view>

#include "app/options.h"
#include "table/user_list_model.h"

// Why the cell of `column` in `row` will not work as it reads on a server, under the chosen format
// and encoding, or an empty text: the core's NameMark or PasswordMark, which the page shows too.
// `case_twin`: another row's name differs from this one's only in letter case.
QString CellWarning(table::Column column, const table::TUserListModel::TRow& row, const core::TSettings& options,
                    bool case_twin = false);

// The marks in the table: a cell whose text the server will not read as it stands.
#pragma once

#include <QString>
#include <string_view>

#include "app/options.h"
#include "table/user_list_model.h"

// Why the cell of `column` in `row` will not work as it reads on a server, under the chosen format
// and encoding, or an empty text: a user name with ":" or starting with "#" can never log in, an
// empty one with a password is written as a line without a name, one starting with a blank is
// another name to Apache than to nginx, one ending in a blank needs that blank at the login, and
// `case_twin` (another row's name differs from it only in letter case) are two users to a
// server; a password the format cuts short or changes is checked only in part.
QString CellWarning(table::Column column, const table::TUserListModel::TRow& row, const core::TSettings& options,
                    bool case_twin = false);

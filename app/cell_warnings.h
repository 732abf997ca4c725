// The marks in the table: a cell whose text the server will not read as it stands.
#pragma once

#include <QString>
#include <string_view>

#include "app/options.h"

// Why the cell of `column` holding `bytes` will not work as it reads on a server, under the chosen
// format and encoding, or an empty text: a user name with ":" can never log in; a password the
// format cuts short or changes is checked only in part.
QString CellWarning(int column, std::string_view bytes, const Options& options);

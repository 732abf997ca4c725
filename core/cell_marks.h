// The marks on a table cell, which the window and the page both show: why a user name or a password
// will not work as it reads on a server.
#pragma once

#include <string>
#include <string_view>

#include "core/job.h"

namespace core {

// Why the user name `key` will not work as it reads on a server, a text of the message table, or
// "": one with ":" or starting with "#" can never log in, one starting with a blank is another name
// to Apache than to nginx, one ending in a blank needs that blank at the login, a `case_twin` (another
// row's name differs from it only in letter case) is a second user to a server, and an empty one in
// a row with a password or a held hash (`value`, `held`) is written as a line without a name.
std::string NameMark(std::string_view key, std::string_view value, bool held, bool case_twin);

// Why the password `value` (code page 932) is checked only in part under `settings`, one line for
// each reason, or "": the format cuts it short, drops bits or stops at NUL.
std::string PasswordMark(std::string_view value, const TSettings& settings);

}  // namespace core

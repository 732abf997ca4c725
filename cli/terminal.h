// What crosses the terminal: messages, typed passwords, texts between UTF-8 and the table's code
// page, and the progress of a long build.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/failure.h"
#include "core/job.h"

namespace cli {

// The messages more than one command gives, in one place.
std::string NoSuchUser(std::string_view name);
std::string NoUsersIn(std::string_view path);

// The system's text for `errnum`, in UTF-8.
std::string ErrorText(int errnum);
// Writes all of `bytes` to `fd`, retrying after a signal; a closed pipe ends it silently.
void WriteAll(int fd, std::string_view bytes);
// Fails with ExitCode::BadInput unless `bytes` are UTF-8.
void RequireUtf8(std::string_view bytes);

// One line on stderr, "vastelo-cli: " and `utf8`.
void Complain(std::string_view utf8);
// Writes `utf8` to stdout as it stands.
void Print(std::string_view utf8);

// A UTF-8 text of the command line or the terminal as the table holds it: code page 932 of its
// Normalization Form C. ExitCode::BadInput for bytes that are no UTF-8 or a character the code page lacks.
std::string TableText(std::string_view utf8);
// Bytes of a file or the table for the terminal: UTF-8 as it stands, anything else read as code page 932.
std::string Shown(std::string_view bytes);
// Where a line of a file stands, as compilers and the other commands' failures say it, for editors
// and scripts to follow: "/absolute/path:line: ".
std::string FileLine(std::string_view path, std::size_t line);

// A password, never from the command line: one line of stdin (its "\n" or "\r\n" dropped) when
// stdin is no terminal, else typed on the terminal without echo, twice when `confirm` (a mismatch
// is ExitCode::BadInput).
std::string ReadPassword(bool confirm);

// Shows "作成中 N/M" on stderr while a build that has taken more than a second goes on, when
// stderr is a terminal; the line is ended when the last copy of the function is gone.
std::function<bool(std::size_t done, std::size_t total)> ShowProgress();
// The hashes of `jobs` in their order, on every core, showing the count so.
std::vector<std::string> HashShowingProgress(const std::vector<core::THashJob>& jobs);

// Writes `utf8` to stdout and flushes it, a closed pipe an error rather than a signal; ExitCode::BadInput
// when it cannot all be written.
void PrintOrFail(std::string_view utf8);

}  // namespace cli

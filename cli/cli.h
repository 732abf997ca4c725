// vastelo-cli: the job of the window, done from a shell or a script, over the same core.
#pragma once

#include <string>
#include <vector>

namespace cli {

// Runs the command that `args` (the words after the program's name) give, with stdin, stdout and
// stderr; messages are Japanese UTF-8, one line on stderr per failure. Gives the exit code: 0 done,
// 1 check findings, 2 wrong usage, 3 password mismatch, 4 bad input or a file that cannot be read
// or written (nothing written), 6 unknown user.
int Run(const std::vector<std::string>& args);

}  // namespace cli

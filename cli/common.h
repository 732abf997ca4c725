// What the commands share, one header for each role: their failures with exit codes (failure.h),
// their arguments (arguments.h), texts crossing from the terminal into the table's code page and
// back (terminal.h), the lock and signal mask around a save (lock.h), and users changed in a file
// (user_edits.h).
#pragma once

#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/failure.h"
#include "cli/lock.h"
#include "cli/terminal.h"
#include "cli/user_edits.h"

namespace cli {

// The commands, each given the words after its name.
ExitCode Build(const std::vector<std::string>& words);
ExitCode Add(const std::vector<std::string>& words);
ExitCode Import(const std::vector<std::string>& words);
ExitCode Delete(const std::vector<std::string>& words);
ExitCode Verify(const std::vector<std::string>& words);
ExitCode Check(const std::vector<std::string>& words);

}  // namespace cli

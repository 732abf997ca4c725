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

// The commands, each given the words after its name as its declaration reads them.
ExitCode Build(const TArguments& args);
ExitCode Add(const TArguments& args);
ExitCode Import(const TArguments& args);
ExitCode Delete(const TArguments& args);
ExitCode Verify(const TArguments& args);
ExitCode Check(const TArguments& args);

}  // namespace cli

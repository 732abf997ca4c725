#include "cli/cli.h"

#include <new>
#include <string_view>

#include "cli/common.h"
#include "cli/interface.h"
#include "platform/cp932.h"
#include "platform/system.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace cli {
namespace {

ExitCode Dispatch(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") {
      Print(Help());
      return ExitCode::Done;
    }
  }
  if (args.empty()) throw TFailure(ExitCode::Usage, text::Utf8Message(messages::SNoCommand));
  if (args[0] == "--version") {
    Print("vastelo-cli " VASTELO_VERSION "\n");
    return ExitCode::Done;
  }
  for (const TCommand& command : Commands())
    if (args[0] == command.name) return command.run(TArguments({args.begin() + 1, args.end()}, command));
  throw TFailure(ExitCode::Usage, text::Utf8Message(messages::SUnknownCommand, {args[0]}));
}

// A failure in the message table's words, with what it is about as a command's user needs it: the
// file named as the file system has it (the window's code page may lack some of its characters),
// and a file's line where the sentence does not name the file, as "file:line: ", as compilers do.
std::string Worded(const text::Exception& failure) {
  std::string said = platform::Cp932ToUtf8(failure.Message());
  const text::TFacts& facts = failure.Facts();
  if (facts.path.empty()) return said;
  const std::string path = platform::AbsolutePath(facts.path);
  const std::string shown = platform::Cp932ToUtf8(text::PathForMessage(facts.path));
  if (const std::size_t at = said.find(shown); at != std::string::npos) return said.replace(at, shown.size(), path);
  if (facts.line > 0) return FileLine(facts.path, static_cast<std::size_t>(facts.line)) + said;
  return path + ": " + said;
}

}  // namespace

int Run(const std::vector<std::string>& args) {
  try {
    return static_cast<int>(Dispatch(args));
  } catch (const TFailure& failure) {
    if (*failure.what() != '\0') Complain(failure.what());
    return static_cast<int>(failure.Code());
  } catch (const text::Exception& failure) {
    Complain(Worded(failure));
  } catch (const std::bad_alloc&) {
    Complain(text::Utf8Message(messages::SOutOfMemory));
  } catch (const std::exception& failure) {
    Complain(failure.what());
  }
  return static_cast<int>(ExitCode::BadInput);
}

}  // namespace cli

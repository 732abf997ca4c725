// check: every line that a server reads otherwise than it seems to say, or whose hash is weak.
#include <utility>

#include "cli/common.h"
#include "platform/cp932.h"
#include "platform/system.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace cli {

ExitCode Check(const TArguments& args) {
  const core::TCheckBars defaults;
  const core::TCheckBars bars{args.Number("--min-cost", defaults.min_cost, hashes::kMinBcryptCost, hashes::kMaxBcryptCost),
                              args.Number("--min-rounds", defaults.min_rounds, hashes::kMinSha512Rounds, hashes::kMaxSha512Rounds)};
  RecoverFolder(platform::FolderOf(args[0]));
  TFileReader file(args[0], false);
  bool any = false;
  std::string findings;
  // A file may give a finding on each of millions of lines: its absolute name, which FileLine asks
  // the system for, is asked for once, and a text like the one before is not converted again.
  const std::string where = platform::AbsolutePath(args[0]) + ":";
  std::string said, shown_said;
  const std::string named = platform::Cp932ToUtf8(messages::SNamedCause);
  core::CheckUsers(file.Read(), bars, [&](const core::TFinding& finding) {
    any = true;
    if (finding.text != said) shown_said = platform::Cp932ToUtf8(said = finding.text);
    findings += where + std::to_string(finding.line) + ": " + text::FormatMessage(named, {Shown(finding.name), shown_said}) + "\n";
    // Written as they come, so that a file of millions of lines needs no list of them.
    if (findings.size() > 65536) Print(std::exchange(findings, {}));
  });
  Print(findings);
  return any ? ExitCode::Findings : ExitCode::Done;
}

}  // namespace cli

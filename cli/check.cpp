// check: every line that a server reads otherwise than it seems to say, or whose hash is weak.
#include <utility>

#include "cli/common.h"
#include "platform/cp932.h"

namespace cli {

int Check(const std::vector<std::string>& words) {
  const TArguments args(words, {"--min-cost", "--min-rounds"}, {}, 1, 1);
  const core::TCheckBars bars{args.Number("--min-cost", 10, hashes::kMinBcryptCost, hashes::kMaxBcryptCost),
                              args.Number("--min-rounds", 5000, hashes::kMinSha512Rounds, hashes::kMaxSha512Rounds)};
  TFileReader file(args[0], false);
  bool any = false;
  std::string findings;
  core::CheckUsers(file.Read(), bars, [&](const core::TFinding& finding) {
    any = true;
    findings += FileLine(args[0], finding.line) + "「" + Shown(finding.name) + "」: " + platform::Cp932ToUtf8(finding.text) + "\n";
    // Written as they come, so that a file of millions of lines needs no list of them.
    if (findings.size() > 65536) Print(std::exchange(findings, {}));
  });
  Print(findings);
  return any ? kFindings : kDone;
}

}  // namespace cli

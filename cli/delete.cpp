// delete: users removed from a .htpasswd, every other line left as it stood.
#include "cli/common.h"

namespace cli {

ExitCode Delete(const TArguments& args) {
  const bool utf8 = SettingsFrom(args).utf8;
  const TWait wait = WaitFrom(args);
  std::vector<core::TUserChange> changes;
  for (std::size_t i = 1; i < args.Positional().size(); ++i) changes.push_back({UserName(args[i], utf8, true), {}});
  ChangeUsers(args[0], changes, wait);
  return ExitCode::Done;
}

}  // namespace cli

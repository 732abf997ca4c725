// add: one user added to a .htpasswd, or given a new password, every other line left as it stood.
#include "cli/common.h"
#include "core/encrypt_password.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace cli {

ExitCode Add(const TArguments& args) {
  const std::string& path = args[0];
  const core::TSettings settings = SettingsFrom(args);
  const TWait wait = WaitFrom(args);
  const std::string name = UserName(args[1], settings.utf8);
  const bool generate = args.Flag("--generate");
  // Asked before the lock is taken: a prompt must not keep another run waiting.
  const std::string password = generate ? std::string() : Password(ReadPassword(true), settings.utf8);
  if (password.empty() && !generate) throw TFailure(ExitCode::BadInput, text::Utf8Message(messages::SEmptyPassword));
  const core::THashJob job = core::DrawHashJob(password, settings.format, settings.strength);
  const std::string hash = HashShowingProgress({job}).front();
  ChangeUsers(path, {{name, hash}}, wait, [&] {
    // Shown before the save commits: a password nobody saw is never saved.
    if (generate) PrintOrFail(Shown(name) + "=" + job.password + "\n");
    return std::vector<core::TFileToSave>{};
  });
  return ExitCode::Done;
}

}  // namespace cli

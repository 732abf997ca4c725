// import: the users of a credential file added to a .htpasswd, those already there given the
// file's passwords; every other line left as it stood.
#include <unordered_map>

#include "cli/common.h"
#include "core/credential_build.h"
#include "core/encrypt_password.h"
#include "platform/cp932.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace cli {

ExitCode Import(const TArguments& args) {
  const std::string& path = args[0];
  const core::TSettings settings = SettingsFrom(args);
  const TWait wait = WaitFrom(args);
  const std::optional<std::string> passwd_out = args.Value("--passwd-out");
  std::vector<core::THashJob> jobs;
  std::vector<std::string> names;
  std::unordered_map<std::string, long long> lines;  // of each name, to name a name given twice
  core::ForEachRecord(args[1], settings.utf8, [&](std::string name, const std::string& password, long long line) {
    if (const std::string_view problem = core::NameProblem(name); !problem.empty())
      throw TFailure(ExitCode::BadInput, FileLine(args[1], static_cast<std::size_t>(line)) + platform::Cp932ToUtf8(problem));
    if (const auto [at, fresh] = lines.emplace(name, line); !fresh)
      throw TFailure(ExitCode::BadInput, FileLine(args[1], static_cast<std::size_t>(line)) +
                                    text::Utf8Message(messages::SNameAgainInCsv, {Shown(name), std::to_string(at->second)}));
    jobs.push_back(core::DrawHashJob(password, settings.format, settings.strength));
    names.push_back(std::move(name));
  });
  if (names.empty()) throw TFailure(ExitCode::BadInput, NoUsersIn(args[1]));
  const std::vector<std::string> hashes = HashShowingProgress(jobs);
  std::vector<core::TUserChange> changes;
  changes.reserve(names.size());
  std::string generated;
  for (std::size_t i = 0; i < names.size(); ++i) changes.push_back({names[i], hashes[i]});
  for (std::size_t i = 0; i < names.size(); ++i)
    if (jobs[i].generated) generated += names[i] + "=" + jobs[i].password + "\n";
  ChangeUsers(path, changes, wait, [&] {
    // Every new password is shown, or written with the .htpasswd in one set, before anything is saved.
    std::vector<core::TFileToSave> extra;
    if (passwd_out) extra.push_back({*passwd_out, generated, core::FileKind::Secret});
    else if (!generated.empty()) PrintOrFail(Shown(generated));
    return extra;
  });
  return ExitCode::Done;
}

}  // namespace cli

// build: a credential file turned into the three files of a folder, as the window's build and save.
#include <sys/stat.h>

#include <cerrno>

#include "cli/common.h"
#include "core/credential_build.h"
#include "core/defaults.h"
#include "core/job.h"
#include "platform/cp932.h"
#include "platform/system.h"
#include "table/user_list.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace cli {
namespace {

// mkdir -p, each folder made 0755 whatever the umask: the web server must enter it.
void MakeFolders(const std::string& folder) {
  for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
    const std::string part = folder.substr(0, end);
    if (!part.empty() && !Exists(part)) {
      if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
        throw TFailure(ExitCode::BadInput, text::Utf8Message(messages::SFolderNotMade, {Shown(part), ErrorText(errno)}));
      ::chmod(part.c_str(), 0755);
    }
    if (end == std::string::npos) return;
  }
}

}  // namespace

ExitCode Build(const TArguments& args) {
  const std::optional<std::string> folder = args.Value("-o");
  if (!folder || folder->empty()) throw TFailure(ExitCode::Usage, text::Utf8Message(messages::SNoOutputFolder));
  const core::TSettings settings = SettingsFrom(args);
  const TWait wait = WaitFrom(args);
  const bool classic = args.Flag("--classic");
  const std::string out = platform::WithSlash(platform::AbsolutePath(*folder));
  const core::TFolderFiles paths = core::FolderFiles(out);
  // The window's defaults with --classic; otherwise the file this build writes, which is what a
  // server must be told.
  const std::string auth_user_file = args.Value("--auth-user-file").value_or(classic ? std::string(core::kDefaultAuthUserFile) : paths.htpasswd);
  const std::string auth_name = args.Value("--auth-name").value_or(std::string(core::kDefaultAuthName));
  for (const auto& [option, value] : {std::pair{"--auth-user-file", &auth_user_file}, {"--auth-name", &auth_name}}) {
    std::string_view problem = core::DirectiveArgumentProblem(*value);
    // The window's lines quote AuthName only: a blank would cut the unquoted AuthUserFile short.
    if (problem.empty() && classic && *value == auth_user_file && value->find_first_of(" \t") != std::string::npos)
      problem = messages::SBlankInClassicPath;
    if (!problem.empty()) throw TFailure(ExitCode::BadInput, std::string(option) + ": " + platform::Cp932ToUtf8(problem));
  }
  std::vector<core::TFileToSave> files;
  if (classic) {
    // The window's files by the window's rules: the file loaded into its table and built as it builds.
    table::TUserList table;
    core::TJob job(table);
    job.SetSettings(settings);
    job.SetAuth(TableText(auth_user_file), TableText(auth_name));
    job.LoadCredentials(args[0]);
    // The window's table builds its one empty placeholder row as a user; a command has no such row.
    if (table.Strings().Count() == 0) throw TFailure(ExitCode::BadInput, NoUsersIn(args[0]));
    job.Build(ShowProgress());
    files = job.NewSetFiles(out);
  } else {
    // Straight from the file to the files' bytes: a million users need no table of rows. A user is
    // the file's bytes, as a live file's users are.
    core::TBuiltFiles built = core::BuildCredentialFile(args[0], settings, ShowProgress()).value();
    if (built.users == 0) throw TFailure(ExitCode::BadInput, NoUsersIn(args[0]));
    // The path as the file system has it; the realm in the files' encoding, as browsers get it.
    std::string htaccess = core::ServedHtaccessText(auth_user_file, settings.utf8 ? auth_name : TableText(auth_name));
    files = {{paths.htpasswd, std::move(built.htpasswd), core::FileKind::Public},
             {paths.htaccess, std::move(htaccess), core::FileKind::Public},
             {paths.passwd, std::move(built.passwd), core::FileKind::Secret}};
  }
  MakeFolders(*folder);
  const TFolderLock lock(paths.htpasswd, wait);
  RecoverFolder(*folder);
  if (!args.Flag("--replace"))
    for (const core::TFileToSave& file : files)
      if (Exists(file.path))
        throw TFailure(ExitCode::BadInput, text::Utf8Message(messages::SFileExists, {Shown(file.path)}));
  const TSignalsHeld held;
  core::SaveFileSet(files);
  return ExitCode::Done;
}

}  // namespace cli

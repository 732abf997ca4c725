// build: a credential file turned into the three files of a folder, as the window's build and save.
#include <sys/stat.h>

#include <cerrno>

#include "cli/common.h"
#include "core/credential_build.h"
#include "platform/cp932.h"
#include "platform/system.h"

namespace cli {
namespace {

// mkdir -p, each folder made 0755 whatever the umask: the web server must enter it.
void MakeFolders(const std::string& folder) {
  for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
    const std::string part = folder.substr(0, end);
    if (!part.empty() && !Exists(part)) {
      if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
        throw TFailure(kBadInput, "フォルダ \"" + Shown(part) + "\" を作れません: " +
                                      platform::Cp932ToUtf8(platform::SystemErrorText(errno)));
      ::chmod(part.c_str(), 0755);
    }
    if (end == std::string::npos) return;
  }
}

}  // namespace

int Build(const std::vector<std::string>& words) {
  const TArguments args(words, {"-o", "--format", "--cost", "--rounds", "--encoding", "--auth-user-file", "--auth-name"},
                        {}, 1, 1);
  const std::optional<std::string> folder = args.Value("-o");
  if (!folder || folder->empty()) throw TFailure(kUsage, "保存先のフォルダ（-o DIR）がありません");
  // Straight from the file to the files' bytes: a million users need no table of rows.
  const core::TSettings settings = SettingsFrom(args);
  const core::TBuiltFiles built = core::BuildCredentialFile(
      args[0], settings, TableText(args.Value("--auth-user-file").value_or("//.htpasswd")),
      TableText(args.Value("--auth-name").value_or("Protected_area")), ShowProgress()).value();
  // The window's table builds its one empty placeholder row as a user; a command has no such row.
  if (built.users == 0) throw TFailure(kBadInput, NoUsersIn(args[0]));
  MakeFolders(*folder);
  const std::string base = platform::WithSlash(*folder);
  const TFolderLock lock(*folder);
  const TSignalsHeld held;
  core::SaveFileSet({{base + ".htpasswd", built.htpasswd, core::FileKind::Public},
                     {base + ".htaccess", built.htaccess, core::FileKind::Public},
                     {base + "passwd.txt", built.passwd, core::FileKind::Secret}});
  return kDone;
}

}  // namespace cli

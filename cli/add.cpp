// add: one user added to a .htpasswd, or given a new password, every other line left as it stood.
#include "cli/common.h"
#include "platform/system.h"
#include "platform/cp932.h"

namespace cli {

int Add(const std::vector<std::string>& words) {
  const TArguments args(words, {"--format", "--cost", "--rounds", "--encoding"}, {"--generate"}, 2, 2);
  const std::string& path = args[0];
  const std::string key = TableText(args[1]);
  if (key.empty()) throw TFailure(kBadInput, "ユーザ名が空です");
  const bool generate = args.Flag("--generate");
  table::TUserList table;
  core::TJob job(table);
  job.SetSettings(SettingsFrom(args));
  // From before the file is read until it is saved: a concurrent add waits, then reads our result.
  const TFolderLock lock(platform::FolderOf(path));
  if (Exists(path)) job.OpenHtpasswd(path);
  const std::string password = generate ? std::string() : TableText(ReadPassword(true));
  if (password.empty() && !generate) throw TFailure(kBadInput, "パスワードが空です（生成するには --generate を付けます）");
  const int row = SetPassword(table, key, password);
  BuildShowingProgress(job);
  // Taken before the save, which reopens the saved file and so leaves only hashes in the table.
  const std::string user = table.CellText(table::KeyColumn, row);
  const std::string shown = platform::Cp932ToUtf8(user + "=" + table.CellText(table::ValueColumn, row)) + "\n";
  SaveHtpasswd(job, path, {user}, {}, [&] {
    if (generate) Print(shown);
  });
  return kDone;
}

}  // namespace cli

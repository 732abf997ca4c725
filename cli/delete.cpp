// delete: users removed from a .htpasswd, every other line left as it stood.
#include <algorithm>

#include "cli/common.h"
#include "platform/system.h"

namespace cli {

int Delete(const std::vector<std::string>& words) {
  const TArguments args(words, {"--encoding"}, {}, 2, static_cast<std::size_t>(-1));
  const std::string& path = args[0];
  table::TUserList table;
  core::TJob job(table);
  job.SetSettings(SettingsFrom(args));
  const TFolderLock lock(platform::FolderOf(path));
  job.OpenHtpasswd(path);
  std::vector<int> rows;
  bool missing = false;
  for (std::size_t i = 1; i < args.Positional().size(); ++i) {
    const int row = FindRow(table, TableText(args[i]));
    if (row == 0) Complain(NoSuchUser(args[i]));
    missing = missing || row == 0;
    rows.push_back(row);
  }
  if (missing) throw TFailure(kUnknownUser, "");
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  // The core builds an empty table as one user without a name, as the window's placeholder row.
  if (static_cast<int>(rows.size()) == table.Strings().Count())
    throw TFailure(kBadInput, "すべてのユーザを削除することはできません");
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) table.RemoveRow(*row);
  BuildShowingProgress(job);
  SaveHtpasswd(job, path, {});
  return kDone;
}

}  // namespace cli

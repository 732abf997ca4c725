// import: the users of a credential file added to a .htpasswd, those already there given the
// file's passwords; every other line left as it stood.
#include "cli/common.h"
#include "platform/system.h"
#include "core/encoding.h"
#include "platform/cp932.h"
#include "text/string_list.h"

namespace cli {

int Import(const std::vector<std::string>& words) {
  const TArguments args(words, {"--format", "--cost", "--rounds", "--encoding", "--passwd-out"}, {}, 2, 2);
  const std::string& path = args[0];
  const core::TSettings settings = SettingsFrom(args);
  const std::optional<std::string> passwd_out = args.Value("--passwd-out");
  table::TUserList table;
  core::TJob job(table);
  job.SetSettings(settings);
  const TFolderLock lock(platform::FolderOf(path));
  if (Exists(path)) job.OpenHtpasswd(path);
  // The credential file read by the core's own reader into a table of its own: the opened table
  // would refuse a user it already has, where import gives that user the new password.
  table::TUserList loaded;
  core::TJob reader(loaded);
  reader.SetSettings(settings);
  reader.LoadCredentials(args[1]);
  if (loaded.Strings().Count() == 0) throw TFailure(kBadInput, NoUsersIn(args[1]));
  std::vector<std::string> keys;
  std::vector<int> generated;
  for (const std::string& line : loaded.Strings().Lines()) {
    const std::string_view password = table::TUserRecords::ValueOf(line);
    const int row = SetPassword(table, std::string(table::TUserRecords::KeyOf(line)), std::string(password));
    keys.push_back(table.CellText(table::KeyColumn, row));
    if (password.empty()) generated.push_back(row);
  }
  BuildShowingProgress(job);
  std::vector<std::string> lines;
  lines.reserve(generated.size());
  for (const int row : generated)
    lines.push_back(table.CellText(table::KeyColumn, row) + "=" + table.CellText(table::ValueColumn, row));
  std::vector<core::TFileToSave> extra;
  // Written as passwd.txt is, and in the same set as the .htpasswd: a password never exists only
  // in a hash.
  if (passwd_out) extra.push_back({*passwd_out, core::OutputBytes(text::JoinLines(lines), settings.utf8), core::FileKind::Secret});
  SaveHtpasswd(job, path, keys, extra, [&] {
    if (passwd_out) return;
    std::string shown;
    for (const std::string& line : lines) shown += platform::Cp932ToUtf8(line) + "\n";
    Print(shown);
  });
  return kDone;
}

}  // namespace cli

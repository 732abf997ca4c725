#include "core/job.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "core/credential_build.h"
#include "core/encoding.h"
#include "core/encrypt_password.h"
#include "platform/cp932.h"
#include "platform/key_fold.h"
#include "platform/system.h"
#include "text/exceptions.h"
#include "text/messages.h"
#include "text/string_list.h"

namespace core {
namespace {

// The file at `path`, or nothing when there is none. Any other failure to read it is reported:
// a file that is there but cannot be read must not pass for one that is not there.
std::optional<std::string> ReadIfPresent(const std::string& path) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) return std::nullopt;
  return text::ReadFileBytes(path);
}

// The file a path names once every link and "." or ".." is resolved, for telling whether two paths
// name the same file; the path made absolute where it does not exist.
std::string RealPath(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : platform::AbsolutePath(path);
}

}  // namespace

std::string HtaccessText(std::string_view auth_user_file, std::string_view auth_name) {
  return text::JoinLines({"AuthUserFile " + std::string(auth_user_file), "AuthGroupFile /dev/null",
                          "AuthName \"" + std::string(auth_name) + "\"", "AuthType Basic", "Require valid-user", "",
                          "<Files ~ \"^.(htpasswd|htaccess)$\">", "deny from all", "</Files>"});
}

std::string ServedHtaccessText(std::string_view auth_user_file, std::string_view auth_name) {
  const auto quoted = [](std::string_view value) { return "\"" + std::string(value) + "\""; };
  return "AuthType Basic\nAuthName " + quoted(auth_name) + "\nAuthUserFile " + quoted(auth_user_file) +
         "\nRequire valid-user\n\n<Files ~ \"^(\\.ht|passwd\\.txt$)\">\nRequire all denied\n</Files>\n";
}

std::string_view DirectiveArgumentProblem(std::string_view value) {
  if (value.empty()) return messages::SEmptyDirectiveArgument;
  if (std::any_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
    return messages::SControlInDirective;
  if (value.find_first_of("\"\\") != std::string_view::npos) return messages::SQuoteInDirective;
  return {};
}

TJob::TJob(table::TUserList& table) : table_(table) {}

TJob::~TJob() = default;

void TJob::SetSettings(const TSettings& settings) {
  if (settings == settings_) return;
  settings_ = settings;
  Changed();
}

void TJob::SetAuth(std::string auth_user_file, std::string auth_name) {
  if (auth_user_file == auth_user_file_ && auth_name == auth_name_) return;
  auth_user_file_ = std::move(auth_user_file);
  auth_name_ = std::move(auth_name);
  Changed();
}

const std::string& TJob::OpenedPath() const {
  static const std::string none;
  return opened_ ? opened_->path : none;
}

const std::string& TJob::OpenedBytes() const {
  static const std::string none;
  return opened_ ? opened_->bytes : none;
}

void TJob::ForgetOpened() {
  if (!opened_) return;
  opened_.reset();
  if (table_.Strings().Count() == 0) table_.Strings().SetExactKeys(false);
  Changed();
}

THtaccessSettings TJob::OpenHtpasswd(const std::string& path) {
  // Read whole before the table is touched: a file refused leaves the table as it was.
  TOpenedFile opened{platform::AbsolutePath(path), text::ReadFileBytes(path), {}, 0};
  text::ReadingFile(path, 0, [&] {
    TOpenedUsers users = ReadOpenedUsers(opened.bytes, settings_.utf8);
    opened.users = std::move(users.users);
    opened.kept = users.kept;
  });
  table::TUserRecords& strings = table_.Strings();
  table_.AbandonEditor();
  strings.Clear();
  ForgetOpened();
  strings.SetExactKeys(true);
  strings.Reserve(static_cast<int>(opened.users.size()));
  // One batch, so that the view is told once; the lines go in directly rather than through the
  // table's insertion, which would fill a row of an empty name and password instead of adding one.
  strings.BeginUpdate();
  try {
    for (std::size_t i = 0; i < opened.users.size(); ++i) {
      const int index = strings.Add(opened.users[i].key + "=");
      strings.Hold(index, opened.users[i].hash);
      strings.SetOrigin(index, static_cast<int>(i));
    }
  } catch (...) {
    strings.Clear();
    strings.EndUpdate();
    throw;
  }
  strings.EndUpdate();
  opened_ = std::move(opened);
  Changed();
  MarkSaved();
  const std::optional<std::string> htaccess =
      ReadIfPresent(FolderFiles(platform::WithSlash(platform::FolderOf(opened_->path))).htaccess);
  return htaccess ? ReadHtaccessSettings(*htaccess) : THtaccessSettings{};
}

TResult::TRow TJob::RowResult(int index, const std::string& hash) const {
  const table::TUserRecords& strings = table_.Strings();
  const std::string& line = strings.Get(index);
  TResult::TRow row;
  row.key = std::string(table::TUserRecords::KeyOf(line));
  row.hash = hash;
  row.known = strings.Held(index).empty();
  if (row.known) row.passwd_line = OutputBytes(line, settings_.utf8);
  const int origin = strings.Origin(index);
  if (opened_ && origin >= 0) row.origin_name = opened_->users[static_cast<std::size_t>(origin)].name;
  row.untouched = Untouched(index);
  if (opened_) row.name = WrittenName(index);
  return row;
}

bool TJob::Untouched(int index) const {
  const table::TUserRecords& strings = table_.Strings();
  const int origin = index < strings.Count() ? strings.Origin(index) : -1;
  if (!opened_ || origin < 0) return false;
  const TOpenedUser& read = opened_->users[static_cast<std::size_t>(origin)];
  return strings.Held(index) == read.hash && table::TUserRecords::KeyOf(strings.Get(index)) == read.key;
}

std::string TJob::WrittenName(int index) const {
  const table::TUserRecords& strings = table_.Strings();
  const std::string_view key = table::TUserRecords::KeyOf(strings.Get(index));
  const int origin = strings.Origin(index);
  if (opened_ && origin >= 0 && opened_->users[static_cast<std::size_t>(origin)].key == key)
    return opened_->users[static_cast<std::size_t>(origin)].name;
  return OutputBytes(key, settings_.utf8);
}

bool TJob::Build(const std::function<bool(std::size_t done, std::size_t total)>& keep_going) {
  const std::unique_ptr<TBuildRun> run = StartBuild();
  return AwaitHashes(run->hashing_, [&](std::size_t done) { return keep_going(done, run->Total()); }) &&
         FinishBuild(*run);
}

namespace {

// A held hash keeps the row's line byte for byte: nothing is drawn for it and no password is made.
const std::string& HeldAt(const table::TUserRecords& strings, int row) {
  static const std::string none;
  return row <= strings.Count() ? strings.Held(row - 1) : none;
}

}  // namespace

std::unique_ptr<TBuildRun> TJob::StartBuild() {
  // Apache reads the realm as one quoted argument, which a quote would end early: the server
  // would answer every request with an error instead of asking for a login.
  if (auth_name_.find('"') != std::string::npos) throw text::Exception(std::string(messages::SQuoteInAuthName));
  // A user name that the table refuses stops the build here, before any time is spent hashing.
  table_.CloseEditor();
  const table::TUserRecords& strings = table_.Strings();
  const int rows = table_.RowCount() - 1;
  // The random draws in row order, the hashes on all cores, then the write-backs in row order:
  // every observable step is what hashing row by row would give.
  std::vector<THashJob> jobs;
  jobs.reserve(static_cast<std::size_t>(std::max(rows, 0)));
  for (int r = 1; r <= rows; ++r) {
    // A name that cannot leave the program as the chosen encoding stops the build before hashing;
    // an untouched line of an opened file leaves as it came, whatever the encoding.
    if (settings_.utf8 && !Untouched(r - 1)) (void)OutputBytes(table_.CellText(table::Column::Key, r), true);
    // A maintained file is read by servers: a name they would split or skip is not written into it.
    if (opened_ && r <= strings.Count() && !Untouched(r - 1)) {
      const std::string name = WrittenName(r - 1);
      if (const std::string_view problem = NameProblem(name); !problem.empty() && problem != messages::SNameEmpty)
        throw text::Exception(text::FormatMessage(messages::SUserNameRefused, {table_.CellText(table::Column::Key, r), problem}));
    }
    if (HeldAt(strings, r).empty())
      jobs.push_back(DrawHashJob(table_.CellText(table::Column::Value, r), settings_.format, settings_.strength, settings_.utf8));
  }
  return std::unique_ptr<TBuildRun>(new TBuildRun(std::move(jobs), Revision()));
}

bool TJob::FinishBuild(TBuildRun& run) {
  if (run.revision_ != Revision() || run.hashing_.Cancelled() || !run.Finished()) return false;
  const std::vector<std::string> hashes = run.hashing_.TakeHashes();
  const std::vector<THashJob>& jobs = run.hashing_.Jobs();
  const table::TUserRecords& strings = table_.Strings();
  const int rows = table_.RowCount() - 1;
  TResult result;
  result.htaccess = OutputBytes(HtaccessText(auth_user_file_, auth_name_), settings_.utf8);
  std::vector<std::string> row_hashes;
  row_hashes.reserve(static_cast<std::size_t>(std::max(rows, 0)));
  for (int r = 1, j = 0; r <= rows; ++r) {
    const std::string& held = HeldAt(strings, r);
    row_hashes.push_back(held.empty() ? hashes[static_cast<std::size_t>(j++)] : held);
  }
  // Composed before any cell changes, so that a change the file refuses leaves the table as it was.
  if (opened_) {
    result.changes = OpenedChanges(row_hashes);
    result.htpasswd = EditUsers(BytesReader(opened_->bytes), result.changes).bytes;
  }
  std::vector<std::string> lines;
  lines.reserve(row_hashes.size());
  for (int r = 1, j = 0; r <= rows; ++r) {
    if (HeldAt(strings, r).empty()) table_.SetCellText(table::Column::Value, r, jobs[static_cast<std::size_t>(j++)].password);
    const std::string& hash = row_hashes[static_cast<std::size_t>(r - 1)];
    lines.push_back(table_.CellText(table::Column::Key, r) + ":" + hash);
    result.rows.push_back(RowResult(r - 1, hash));
  }
  if (opened_) {
    // The box shows lines ended as it ends them, whatever ends the file's lines.
    result.htpasswd_shown = ShownText(result.htpasswd, settings_.utf8);
  } else {
    result.htpasswd_shown = text::JoinLines(lines);
    result.htpasswd = OutputBytes(result.htpasswd_shown, settings_.utf8);
  }
  result.revision = Revision();
  result_ = std::move(result);
  return true;
}

std::vector<TUserChange> TJob::OpenedChanges(const std::vector<std::string>& hashes) const {
  const table::TUserRecords& strings = table_.Strings();
  std::vector<bool> stays(opened_->users.size());
  std::vector<TUserChange> changes, others;
  for (int i = 0; i < static_cast<int>(hashes.size()) && i < strings.Count(); ++i) {
    const int origin = strings.Origin(i);
    std::string name = WrittenName(i);
    if (origin >= 0 && name == opened_->users[static_cast<std::size_t>(origin)].name) {
      stays[static_cast<std::size_t>(origin)] = true;
      if (Untouched(i)) continue;
    }
    others.push_back({std::move(name), hashes[static_cast<std::size_t>(i)]});
  }
  for (std::size_t u = 0; u < stays.size(); ++u)
    if (!stays[u]) changes.push_back({opened_->users[u].name, std::nullopt});
  changes.insert(changes.end(), std::make_move_iterator(others.begin()), std::make_move_iterator(others.end()));
  return changes;
}

std::string TJob::BuiltHash(std::string_view key) const {
  if (!result_ || key.empty()) return {};
  for (const TResult::TRow& row : result_->rows)
    if (table_.Strings().ExactKeys() ? row.key == key : platform::KeysMatch(row.key, key)) return row.hash;
  return {};
}

std::optional<std::string> TJob::HashForLogin(std::string_view name) const {
  const table::TUserRecords& strings = table_.Strings();
  for (int i = 0; i < strings.Count(); ++i) {
    const std::string_view key = table::TUserRecords::KeyOf(strings.Get(i));
    // The name the row's line carries: an untouched line's as the file has it, any other's as the
    // build writes it. A name that cannot be written matches nothing.
    std::string written;
    try {
      written = WrittenName(i);
    } catch (const text::Exception&) {
      continue;
    }
    if (key.empty() || written != name) continue;
    if (!strings.Held(i).empty()) return strings.Held(i);
    return BuiltHash(key);
  }
  return std::nullopt;
}

std::string TJob::PasswdText(const std::string& folder, std::string_view htpasswd) const {
  std::vector<std::string> lines;
  // Only users of the .htpasswd being written: one removed there meanwhile goes from the record too.
  std::set<std::string, std::less<>> users;
  if (opened_)
    for (std::string& name : UserNames(htpasswd)) users.insert(std::move(name));
  const auto written = [&](const TResult::TRow& row) {
    return !opened_ || users.count(row.name) != 0;
  };
  // A maintained file's users whose passwords the table does not know keep their lines of the
  // passwd.txt there: the record of a password is not lost because the user was left alone.
  // Indexed once by name (the first line of each), so that a file of many users is not searched
  // again for every row.
  std::map<std::string, std::string, std::less<>> existing;
  if (opened_)
    if (const std::optional<std::string> bytes = ReadIfPresent(FolderFiles(folder).passwd))
      text::ForEachLine(*bytes, [&](std::string_view line) {
        if (const std::size_t eq = line.find('='); eq != std::string_view::npos && eq > 0)
          existing.emplace(line.substr(0, eq), line);
      });
  const auto find = [&](const std::string& name) -> const std::string* {
    const auto it = existing.find(name);
    return it == existing.end() ? nullptr : &it->second;
  };
  for (const TResult::TRow& row : result_->rows) {
    if (!written(row)) continue;
    if (row.known) {
      lines.push_back(row.passwd_line);
    } else if (const std::string* kept = row.origin_name.empty() ? nullptr : find(row.origin_name)) {
      // A renamed user's password is still the one the record holds: the hash did not change.
      lines.push_back(row.name + kept->substr(row.origin_name.size()));
    }
  }
  return text::JoinLines(lines);
}

std::string TJob::PlanHtpasswdFile(TSavePlan& plan) const {
  if (!CanSave()) throw std::logic_error("nothing built for the rows as they stand");
  std::string htpasswd = result_->htpasswd;
  plan.htpasswd_on_disk = ReadIfPresent(plan.htpasswd_path);
  if (!plan.htpasswd_on_disk) return htpasswd;
  const bool maintained = opened_ && RealPath(plan.htpasswd_path) == RealPath(opened_->path);
  // Changes made to the opened file since it was read are kept: ours go on top of them.
  if (maintained && *plan.htpasswd_on_disk != opened_->bytes) {
    TMerge merged = MergeUsers(opened_->bytes, *plan.htpasswd_on_disk, result_->changes);
    htpasswd = std::move(merged.bytes);
    plan.conflicts = std::move(merged.conflicts);
  }
  plan.changes = CompareUsers(*plan.htpasswd_on_disk, htpasswd);
  plan.replaces_other = !maintained;
  return htpasswd;
}

bool TJob::Unsaved() const {
  const table::TUserRecords& strings = table_.Strings();
  const bool holds_user = strings.Count() > 1 || (strings.Count() == 1 && !table_.IsEmptyRow(1));
  return holds_user && Revision() != saved_revision_;
}

TSavePlan TJob::PlanHtpasswd(const std::string& path) const {
  TSavePlan plan;
  plan.folder = platform::WithSlash(platform::FolderOf(path));
  plan.htpasswd_path = path;
  std::string htpasswd = PlanHtpasswdFile(plan);
  plan.files.push_back({path, std::move(htpasswd), FileKind::Public});
  return plan;
}

TSavePlan TJob::PlanSave(const std::string& folder) const {
  TSavePlan plan;
  plan.folder = platform::WithSlash(folder);
  const TFolderFiles paths = FolderFiles(plan.folder);
  plan.htpasswd_path = paths.htpasswd;
  const std::string& htaccess_path = paths.htaccess;
  std::string htpasswd = PlanHtpasswdFile(plan);
  const std::optional<std::string> htaccess = ReadIfPresent(htaccess_path);
  plan.htaccess_differs = htaccess && *htaccess != result_->htaccess;
  const bool write_htaccess = !(htaccess && *htaccess == result_->htaccess);
  std::string passwd = PasswdText(plan.folder, htpasswd);
  plan.files.push_back({plan.htpasswd_path, std::move(htpasswd), FileKind::Public});
  if (write_htaccess) plan.files.push_back({htaccess_path, result_->htaccess, FileKind::Public});
  plan.files.push_back({paths.passwd, std::move(passwd), FileKind::Secret});
  return plan;
}

std::vector<TFileToSave> TJob::NewSetFiles(const std::string& folder) const {
  if (!CanSave() || opened_) throw std::logic_error("no new set built for the rows as they stand");
  const TFolderFiles paths = FolderFiles(folder);
  return {{paths.htpasswd, result_->htpasswd, FileKind::Public},
          {paths.htaccess, result_->htaccess, FileKind::Public},
          {paths.passwd, PasswdText(folder, result_->htpasswd), FileKind::Secret}};
}

void TJob::Save(const TSavePlan& plan, bool replace_htaccess) {
  if (ReadIfPresent(plan.htpasswd_path) != plan.htpasswd_on_disk) throw text::Exception(std::string(messages::SChangedMeanwhile));
  std::vector<TFileToSave> files;
  for (const TFileToSave& file : plan.files)
    if (replace_htaccess || !plan.htaccess_differs || file.path != FolderFiles(plan.folder).htaccess) files.push_back(file);
  SaveFileSet(files);
  // What was saved is now the file being maintained, with whatever the merge brought in from disk.
  if (opened_) OpenHtpasswd(plan.htpasswd_path);
  MarkSaved();
}

void TJob::LoadCredentials(const std::string& path, const std::function<void(long long, long long)>& progress,
                           bool replace) {
  if (!replace) table_.CloseEditor();
  const std::string bytes = text::ReadFileBytes(path);
  // The lines the file has, as a line list counts them: a line end each (CR LF being one), and a
  // last line without one.
  long long lines = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] == '\n' ? i == 0 || bytes[i - 1] != '\r' : bytes[i] == '\r') ++lines;
  if (!bytes.empty() && bytes.back() != '\r' && bytes.back() != '\n') ++lines;
  // Every record is read and checked against the table's rules before the first goes in: a file
  // refused at any line leaves the table as it was.
  std::vector<TCredential> records;
  long long at = 0;
  text::ReadingFile(path, at, [&] {
    std::unordered_map<std::string, std::string> keys;  // the form compared, and the name as it came
    const table::TUserRecords& strings = table_.Strings();
    // A table filled anew compares keys ignoring letter case, as every table of new users does.
    const bool fold = replace || !strings.ExactKeys();
    ForEachCredential(bytes, settings_.utf8, [&](TCredential&& record, long long line) {
      at = line;
      if (progress) progress(line, lines);
      if (record.key.find('=') != std::string::npos) throw text::Exception(std::string(messages::SNoEqualsInKey), {{}, line, 0});
      if (record.key.empty()) {
        records.push_back(std::move(record));
        return;
      }
      // The name it clashes with, as the table or the file has it, is named beside the new one.
      const std::string form = fold ? platform::FoldKey(record.key) : record.key;
      const auto earlier = keys.find(form);
      std::optional<std::string> other = earlier != keys.end() ? std::optional<std::string>(earlier->second) : std::nullopt;
      if (!other && !replace && strings.HasMatchingKey(record.key))
        for (const std::string& row : strings.Lines())
          if (const std::string_view key = table::TUserRecords::KeyOf(row); !key.empty() && strings.IndexForm(key) == strings.IndexForm(record.key))
            other = std::string(key);
      if (other)
        throw text::Exception(text::FormatMessage(*other == record.key ? messages::SSameUserAgain : messages::SUserDiffersInCaseOnly,
                                                  {record.key, *other}), {{}, line, 0});
      keys.emplace(form, record.key);
      records.push_back(std::move(record));
    });
  });
  if (replace) {
    table_.AbandonEditor();
    table_.Strings().Clear();
    ForgetOpened();
  }
  table_.Strings().Reserve(static_cast<int>(std::min<long long>(table_.Strings().Count() + lines, INT_MAX)));
  table_.Strings().BeginUpdate();
  try {
    for (const TCredential& record : records) table_.InsertEntry(record.key, record.value, true);
  } catch (...) {
    table_.Strings().EndUpdate();
    throw;
  }
  table_.Strings().EndUpdate();
}

}  // namespace core

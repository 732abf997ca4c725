// The job the tool does, whoever drives it: the rows with what they hold, the settings the files
// depend on, a build that turns them into the three files' bytes, and the save of those bytes as
// one set. A build's result is stamped with the revision it was made from, and only a result of
// the current revision can be saved: what is saved is always what the rows and settings say now.
//
// Two ways lead to a save. A credential file loaded or typed in is built and written as it stands.
// An opened .htpasswd is maintained: every line of it is written back byte for byte unless the
// user changed it, changes made on disk since it was opened are merged, and the save asks (through
// the plan) before it removes users, overrides a change made on both sides, or replaces a
// different .htaccess.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/encrypt_password.h"
#include "core/defaults.h"
#include "core/htpasswd_file.h"
#include "core/save_set.h"
#include "hashes/hashes.h"
#include "table/user_list.h"

namespace core {

// The choices under 設定 that the files depend on.
struct TSettings {
  hashes::Format format = hashes::Format::Des;
  hashes::TStrength strength;
  bool utf8 = false;  // files in and out in UTF-8 rather than Shift-JIS bytes as they stand
  bool operator==(const TSettings&) const = default;
};

// The nine .htaccess lines for `auth_user_file` and `auth_name`, in code page 932, each followed by
// CR LF, exactly as given (no trimming, quoting or escaping).
std::string HtaccessText(std::string_view auth_user_file, std::string_view auth_name);

// The .htaccess a server administrator's build writes: what a stock Debian Apache 2.4 serves (no
// directive of a module Debian leaves disabled), AuthUserFile and AuthName each quoted so that
// Apache reads it as one argument, the password files and passwd.txt denied to every request.
// Lines end in LF. The arguments, bytes as they are to stand, must pass DirectiveArgumentProblem.
std::string ServedHtaccessText(std::string_view auth_user_file, std::string_view auth_name);
// Why `value` cannot stand as a quoted directive argument that Apache reads back as it is (the
// message table's text), or empty: empty, a control byte (it would end the directive and start
// another), a '"' or a backslash (Apache ends the quotes at the one, and the realm a browser shows
// loses the other).
std::string_view DirectiveArgumentProblem(std::string_view value);

// What a build made, and from which revision.
struct TResult {
  std::uint64_t revision = 0;
  std::string htaccess;        // the bytes of .htaccess
  std::string htpasswd;        // the bytes of .htpasswd, before any merge with the file on disk
  std::string htpasswd_shown;  // the same as code page 932 text, for the screen
  // For passwd.txt and the password check, one entry per row in row order.
  struct TRow {
    std::string key;             // code page 932
    std::string hash;            // what the row's .htpasswd line carries
    bool known = false;          // the password is in the table (typed, loaded or generated)
    std::string passwd_line;     // when known: the passwd.txt line, in the output encoding, no end
    std::string name;            // for an opened file: the name its line carries, as written
    std::string origin_name;     // for a row read from an opened file: its name as the file had it
    bool untouched = false;      // ... and its line goes back as it stood
  };
  std::vector<TRow> rows;
  // For an opened file: what the rows change of its users, applied to the file as it is on disk
  // when it is saved.
  std::vector<TUserChange> changes;
};

// What saving into a folder would do, for the front end to ask about before anything is written.
struct TSavePlan {
  std::string folder;  // ends with "/"
  std::string htpasswd_path;
  std::vector<TFileToSave> files;
  // Only when an opened .htpasswd is being maintained:
  std::vector<std::string> conflicts;  // users changed both on disk and here since the opening
  // Whenever a .htpasswd is there:
  TUserChanges changes;                // what the save does to the users of the .htpasswd there
  bool replaces_other = false;         // it is not the opened file: the save replaces it whole
  bool htaccess_differs = false;       // an .htaccess is there and differs from the built one
  // The .htpasswd on disk as the plan saw it: saving refuses if it changed meanwhile.
  std::optional<std::string> htpasswd_on_disk;
};

// A build under way: its hashing runs on other threads from the start, so the thread that began
// it stays free to paint and to listen for a cancel. Dropping it cancels it.
class TBuildRun {
 public:
  std::size_t Done() const { return hashing_.Done(); }
  std::size_t Total() const { return hashing_.Jobs().size(); }  // the rows being hashed, held ones not counted
  bool Finished() const { return hashing_.Finished(); }
  bool WaitFor(std::chrono::milliseconds timeout) const { return hashing_.WaitFor(timeout); }
  void Cancel() { hashing_.Cancel(); }
  bool Cancelled() const { return hashing_.Cancelled(); }

 private:
  friend class TJob;
  TBuildRun(std::vector<THashJob> jobs, std::uint64_t revision) : hashing_(std::move(jobs)), revision_(revision) {}
  THashRun hashing_;
  std::uint64_t revision_;
};

class TJob {
 public:
  explicit TJob(table::TUserList& table);
  TJob(const TJob&) = delete;
  TJob& operator=(const TJob&) = delete;
  ~TJob();

  table::TUserList& Table() { return table_; }
  const table::TUserList& Table() const { return table_; }

  // Every change of the rows or of anything the files depend on gives a new revision.
  std::uint64_t Revision() const noexcept { return revision_ + table_.ChangeCount(); }
  // The table holds a user, and the rows or settings changed since it was last filled from a file,
  // opened or saved: closing or replacing it would lose work.
  bool Unsaved() const;
  // What the table holds now is what its files hold (it was just filled from one).
  void MarkSaved() noexcept { saved_revision_ = Revision(); }

  const TSettings& Settings() const noexcept { return settings_; }
  void SetSettings(const TSettings& settings);
  // The two .htaccess settings, in code page 932.
  void SetAuth(std::string auth_user_file, std::string auth_name);

  // Opens an existing .htpasswd into the emptied table, whose keys then match byte for byte: a row
  // for each user both servers read alike (ReadOpenedUsers), holding its hash; every other line is
  // kept to be written back as it stands. A file that cannot be read as lines is refused whole, and
  // the table stays as it was. Gives the settings of an .htaccess beside it.
  THtaccessSettings OpenHtpasswd(const std::string& path);
  // User lines of the opened file that have no row and are kept as they stand.
  std::size_t KeptUserLines() const noexcept { return opened_ ? opened_->kept : 0; }
  // Reads a credential file (one user,password a record: CSV in UTF-8 mode, lines split as a
  // delimited-text reader does in Shift-JIS mode; see ForEachCredential) and adds its rows below
  // those there, or with `replace` in place of them (and of an opened file). A file with a line the
  // reader or the table refuses is refused whole, naming the line, and the table stays as it was.
  // `progress(line, lines)` is told of every record.
  void LoadCredentials(const std::string& path, const std::function<void(long long, long long)>& progress = {},
                       bool replace = false);

  // Leaves the opened file: what follows is built and saved as a new set. An empty table compares
  // keys ignoring letter case again.
  void ForgetOpened();
  bool Opened() const noexcept { return opened_.has_value(); }
  const std::string& OpenedPath() const;
  const std::string& OpenedBytes() const;  // the opened file as it was read

  // Builds the three files from the rows as they stand. Closes the table's editor first (which may
  // fail for a name the table refuses), draws salts and generated passwords in row order, hashes on
  // every core and writes the effective passwords back. `keep_going(done, total)` is called while
  // the hashing runs; when it returns false the build stops and nothing at all has changed. True
  // when the build finished.
  bool Build(const std::function<bool(std::size_t done, std::size_t total)>& keep_going);
  // The same in two steps, for a caller that must stay responsive: StartBuild does every check and
  // draw and sets the hashing going; FinishBuild, once the run is Finished, writes the passwords
  // back and makes the result. A run whose rows or settings changed meanwhile is refused (false),
  // as is one that was cancelled; nothing then changes.
  std::unique_ptr<TBuildRun> StartBuild();
  bool FinishBuild(TBuildRun& run);
  const std::optional<TResult>& Result() const noexcept { return result_; }
  void DropResult() noexcept { result_.reset(); }
  // A result of the current revision exists: it is what would be saved.
  bool CanSave() const noexcept { return result_ && result_->revision == Revision(); }
  // The hash the last build made for the row whose key matches `key`, or "".
  std::string BuiltHash(std::string_view key) const;
  // パスワードの確認 looks a user up as a server does: `name` is the bytes a browser sends (in the
  // output encoding), compared byte for byte with the name each row's line will carry. The hash
  // held for that user or built by the last build, "" when it has none yet; nullopt when no row
  // has that name.
  std::optional<std::string> HashForLogin(std::string_view name) const;

  // What saving into `folder` would write and change. Reads the files there; writes nothing.
  TSavePlan PlanSave(const std::string& folder) const;
  // The same for the .htpasswd at `path` alone, as a command that maintains one file saves it.
  TSavePlan PlanHtpasswd(const std::string& path) const;
  // The three files of the last build as a new set in `folder` (ending in "/"), whatever is there
  // now, for a command that writes a folder afresh. Reads nothing; not for an opened file.
  std::vector<TFileToSave> NewSetFiles(const std::string& folder) const;
  // Writes the plan's files as one set (without .htaccess unless `replace_htaccess` where the plan
  // found a different one). Refuses, writing nothing, when the .htpasswd there changed since the
  // plan was made. After a save that maintained an opened file, the saved file is the opened one;
  // after any save nothing is unsaved.
  void Save(const TSavePlan& plan, bool replace_htaccess);

 private:
  void Changed() noexcept { ++revision_; }
  struct TOpenedFile {
    std::string path;
    std::string bytes;  // as read: the base of every merge
    std::vector<TOpenedUser> users;  // a row's origin indexes this
    std::size_t kept = 0;
  };
  TResult::TRow RowResult(int index, const std::string& hash) const;
  // Whether row `index` still is the opened line it was read from, to be written back as it stood.
  bool Untouched(int index) const;
  // What the rows, whose built hashes are `hashes`, change of the opened file's users: removals
  // first, so that a name given up by one row and taken by another ends with the taker.
  std::vector<TUserChange> OpenedChanges(const std::vector<std::string>& hashes) const;
  // The name row `index` gives a browser: an opened user's own bytes while the row keeps its key.
  std::string WrittenName(int index) const;
  std::string PasswdText(const std::string& folder, std::string_view htpasswd) const;
  // Fills the plan's .htpasswd: ours, or merged with what changed on disk since the opening.
  std::string PlanHtpasswdFile(TSavePlan& plan) const;

  table::TUserList& table_;
  TSettings settings_;
  std::string auth_user_file_{kDefaultAuthUserFile};
  std::string auth_name_{kDefaultAuthName};
  std::uint64_t revision_ = 1;
  std::uint64_t saved_revision_ = 1;
  std::optional<TResult> result_;
  std::optional<TOpenedFile> opened_;
};

}  // namespace core

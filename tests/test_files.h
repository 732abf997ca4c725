// Real files for tests: a temporary folder that removes itself, and byte-exact reading and writing
// that bypass the code under test.
#pragma once

#include <functional>
#include <sys/types.h>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }
  std::string Listing() const;  // as ::Listing

 private:
  std::string path_;
};

// Names of the entries in the folder, sorted, so a test can see that nothing was left behind; "" for no folder.
std::string Listing(const std::string& folder);
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, std::string_view bytes);
unsigned FileMode(const std::string& path);  // permission bits

// Runs `piece` as a user without privileges, so that the kernel checks permissions as it would for
// anybody: as root, in a child process that takes user and group 65534 after `dir` and everything
// in it are handed to them; otherwise right here. Gives what the piece returns, or nothing when the
// machine does not let the child give up root.
std::optional<std::string> AsOrdinaryUser(const TempDir& dir, const std::function<std::string()>& piece);

// A program started as a user starts it: `env` added to its environment, in the folder `cwd`
// ("": this one), `input` written to its stdin and stdin closed once `before_input` has run; its
// stdout is `stdout_fd` when given, else a pipe like its stderr.
struct TChild {
  pid_t pid;
  int out, err;
};
TChild StartProgram(const std::string& program, const std::vector<std::string>& args,
                    const std::vector<std::pair<std::string, std::string>>& env, const std::string& input = "",
                    const std::function<void(pid_t)>& before_input = {}, int stdout_fd = -1, const std::string& cwd = "");
// What the program wrote, once it has ended; `code` is its exit status, or 128 + the signal that ended it.
struct TRun {
  int code;
  std::string out, err;
};
TRun Finish(const TChild& child);

// UTF-8 source text as code page 932 bytes, and back, through the C library's converter.
std::string Sjis(std::string_view utf8);
std::string Utf8(std::string_view cp932);

// Hashes made by the libraries the servers use: crypt(3) for a setting ("ab", "$5$salt", ...), and
// apr-util's MD5 for a salt.
std::string Crypt(const std::string& password, const std::string& setting);
std::string Apr1(const std::string& password, const std::string& salt);

// What the servers run to check a password: apr-util's check (Apache) and the system crypt(3) (nginx).
bool AprAccepts(const std::string& password, const std::string& hash);
bool CryptAccepts(const std::string& password, const std::string& hash);

// The users of a .htpasswd as a server reads them: name to hash, from the first line of each name.
std::map<std::string, std::string> ServerUsers(const std::string& bytes);

// The table's refusals of a user name, in code page 932.
inline std::string DuplicateMessage(const std::string& key) { return Sjis("キー名 \"" + key + "\" はすでに存在します"); }
inline const std::string kEqualsMessage = Sjis("キーは等号記号（“=”）を含めません。");

// What the `Failure` that `action` throws says: its sentence, and what it tells a front end apart
// from it as "path:line:errno"; both "" when it throws nothing. A failure of another kind escapes,
// and fails the test.
struct TCaught {
  std::string message, facts;
};
template <class Failure, class Action>
TCaught Caught(const Action& action) {
  try {
    action();
  } catch (const Failure& failure) {
    const auto& f = failure.Facts();
    return {failure.Message(), f.path + ":" + std::to_string(f.line) + ":" + std::to_string(f.error)};
  }
  return {};
}

template <class Failure, class Action>
std::string FailureMessage(const Action& action) {
  return Caught<Failure>(action).message;
}

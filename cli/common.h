// What the commands share: their arguments (arguments.cpp), their failures with exit codes, texts
// crossing from the terminal into the table's code page and back (terminal.cpp), the lock and
// signal mask around a save (lock.cpp), and users changed in a file (user_edits.cpp).
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

#include "core/job.h"
#include "core/user_file.h"

namespace cli {

// How a run ends, as the process exits (the values are the documented exit codes).
enum class ExitCode : int { Done = 0, Findings = 1, Usage = 2, Mismatch = 3, BadInput = 4, UnknownUser = 6 };

// A command's failure: its exit code and its one-line message in UTF-8 (empty when already told).
class TFailure : public std::runtime_error {
 public:
  TFailure(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
  ExitCode Code() const noexcept { return code_; }

 private:
  ExitCode code_;
};

// The messages more than one command gives, in one place.
std::string NoSuchUser(std::string_view name);
std::string NoUsersIn(std::string_view path);

// The system's text for `errnum`, in UTF-8.
std::string ErrorText(int errnum);
// Writes all of `bytes` to `fd`, retrying after a signal; a closed pipe ends it silently.
void WriteAll(int fd, std::string_view bytes);
// Fails with ExitCode::BadInput unless `text` is UTF-8.
void RequireUtf8(std::string_view text);

// One line on stderr, "vastelo-cli: " and `utf8`.
void Complain(std::string_view utf8);
// Writes `utf8` to stdout as it stands.
void Print(std::string_view utf8);

// The words after a command's name: options from `valued` take the next word (or "=value"),
// options from `flags` take none, everything else is positional. Fails with ExitCode::Usage for any other
// option, for a valued one at the end, and for a positional count outside `min` to `max`.
class TArguments {
 public:
  TArguments(const std::vector<std::string>& words, std::initializer_list<std::string_view> valued,
             std::initializer_list<std::string_view> flags, std::size_t min, std::size_t max);
  const std::string& operator[](std::size_t i) const { return positional_.at(i); }
  const std::vector<std::string>& Positional() const noexcept { return positional_; }
  std::optional<std::string> Value(std::string_view option) const;  // the last one given
  bool Flag(std::string_view option) const;
  // The option's number, `fallback` when absent; ExitCode::Usage outside `low` to `high`.
  unsigned long Number(std::string_view option, unsigned long fallback, unsigned long low, unsigned long high) const;

 private:
  std::vector<std::string> positional_;
  std::vector<std::pair<std::string, std::string>> options_;
};

// --format, --cost, --rounds and --encoding over the command's defaults: bcrypt at cost 10, UTF-8.
core::TSettings SettingsFrom(const TArguments& args);

// A UTF-8 text of the command line or the terminal as the table holds it: code page 932 of its
// Normalization Form C. ExitCode::BadInput for bytes that are no UTF-8 or a character the code page lacks.
std::string TableText(std::string_view utf8);
// The same text as a server receives it: NFC UTF-8, or in Shift-JIS mode its code page 932 bytes.
std::string ServerBytes(std::string_view utf8, bool utf8_mode);
// Bytes of a file or the table for the terminal: UTF-8 as it stands, anything else read as code page 932.
std::string Shown(std::string_view bytes);
// Where a line of a file stands, as compilers and the other commands' failures say it, for editors
// and scripts to follow: "/absolute/path:line: ".
std::string FileLine(std::string_view path, std::size_t line);

// A password, never from the command line: one line of stdin (its "\n" or "\r\n" dropped) when
// stdin is no terminal, else typed on the terminal without echo, twice when `confirm` (a mismatch
// is ExitCode::BadInput).
std::string ReadPassword(bool confirm);

bool Exists(const std::string& path);

// How long a command waits for another run's lock: --wait SECONDS, or without end when absent.
using TWait = std::optional<unsigned long>;
TWait WaitFrom(const TArguments& args);

// An exclusive flock(2) for the object's lifetime on the folder of the file that saving `path`
// writes, after the links the save follows: every path to one file takes the same lock, so runs of
// the command that change it take turns and none saves over what another has just saved. Says on
// stderr that it waits once it has waited a second; ExitCode::BadInput when `wait` runs out.
class TFolderLock {
 public:
  TFolderLock(const std::string& path, TWait wait);
  ~TFolderLock();
  TFolderLock(const TFolderLock&) = delete;
  TFolderLock& operator=(const TFolderLock&) = delete;

 private:
  int fd_ = -1;
};

// Undoes a save into `folder` that a crash cut off, and removes what it left there, telling so in
// one line on stderr; a command calls it before it reads a file of the folder.
void RecoverFolder(const std::string& folder);

// SIGINT, SIGTERM and SIGHUP held back for the object's lifetime, so that a save, once begun, ends
// with the whole set written; a signal that came meanwhile takes effect afterwards.
class TSignalsHeld {
 public:
  TSignalsHeld();
  ~TSignalsHeld();
  TSignalsHeld(const TSignalsHeld&) = delete;
  TSignalsHeld& operator=(const TSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Shows "作成中 N/M" on stderr while a build that has taken more than a second goes on, when
// stderr is a terminal; the line is ended when the last copy of the function is gone.
std::function<bool(std::size_t done, std::size_t total)> ShowProgress();
// Builds the job's rows, showing the count so.
void BuildShowingProgress(core::TJob& job);
// The hashes of `jobs` in their order, on every core, showing the count so.
std::vector<std::string> HashShowingProgress(const std::vector<core::THashJob>& jobs);

// A name or password from the command line or stdin (UTF-8) as the bytes a browser sends: in UTF-8
// mode the bytes as they stand, never normalized (servers compare bytes); in Shift-JIS mode their
// code page 932 form. ExitCode::BadInput for bytes that are no UTF-8, a character the code page lacks, or a
// name or password that no server could match as written (a user that is only to be removed or
// checked may be any name a server reads: `maintainable` skips the name rules).
std::string UserName(std::string_view utf8, bool utf8_mode, bool maintainable = false);
std::string Password(std::string_view utf8, bool utf8_mode);

// A reader of the file at `path` for the core's streams; ExitCode::BadInput when it cannot be opened. A
// missing file reads as empty when `missing_ok`.
class TFileReader {
 public:
  TFileReader(const std::string& path, bool missing_ok);
  ~TFileReader();
  TFileReader(const TFileReader&) = delete;
  TFileReader& operator=(const TFileReader&) = delete;
  std::function<std::size_t(char*, std::size_t)> Read();
  bool Existed() const { return fd_ >= 0; }
  // Whether the file at the path is still the one that was read, as it was read: the same file, size
  // and modification time, its bytes read again to the same length and hash, and the size and time
  // the same after the first reading as before it. `again` false: the path's stat alone.
  bool Unchanged(bool again = true) const;

 private:
  std::string path_;
  int fd_ = -1;
  struct stat st_{};
  std::uint64_t hash_ = 14695981039346656037ull;  // FNV-1a of the bytes read so far
  std::uint64_t length_ = 0;
};

// Changes users of the .htpasswd at `path` (created when missing) and saves it, with `extra` files
// in the same set, under the lock waited for as `wait` says; `before_save` runs first, under the
// lock, and must show every new password (it throws when it cannot, and nothing is saved). Refuses
// when the file read is no longer as read right before the save commits it. Tells on stderr of
// users of other names that a server loses with a changed line.
core::TEditedFile ChangeUsers(const std::string& path, const std::vector<core::TUserChange>& changes, TWait wait,
                              const std::function<std::vector<core::TFileToSave>()>& before_save = {});

// Writes `utf8` to stdout and flushes it, a closed pipe an error rather than a signal; ExitCode::BadInput
// when it cannot all be written.
void PrintOrFail(std::string_view utf8);

// The commands, each given the words after its name.
ExitCode Build(const std::vector<std::string>& words);
ExitCode Add(const std::vector<std::string>& words);
ExitCode Import(const std::vector<std::string>& words);
ExitCode Delete(const std::vector<std::string>& words);
ExitCode Verify(const std::vector<std::string>& words);
ExitCode Check(const std::vector<std::string>& words);

}  // namespace cli

// What the commands share: their arguments, their failures with exit codes, texts crossing from the
// terminal into the table's code page and back, and the lock and signal mask around a save.
#pragma once

#include <csignal>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/job.h"

namespace cli {

enum ExitCode : int { kDone = 0, kFindings = 1, kUsage = 2, kMismatch = 3, kBadInput = 4, kUnknownUser = 6 };

// A command's failure: its exit code and its one-line message in UTF-8 (empty when already told).
class TFailure : public std::runtime_error {
 public:
  TFailure(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int Code() const noexcept { return code_; }

 private:
  int code_;
};

// The messages more than one command gives, in one place.
std::string NoSuchUser(std::string_view name);
std::string NoUsersIn(std::string_view path);

// One line on stderr, "vastelo-cli: " and `utf8`.
void Complain(std::string_view utf8);
// Writes `utf8` to stdout as it stands.
void Print(std::string_view utf8);

// The words after a command's name: options from `valued` take the next word (or "=value"),
// options from `flags` take none, everything else is positional. Fails with kUsage for any other
// option, for a valued one at the end, and for a positional count outside `min` to `max`.
class TArguments {
 public:
  TArguments(const std::vector<std::string>& words, std::initializer_list<std::string_view> valued,
             std::initializer_list<std::string_view> flags, std::size_t min, std::size_t max);
  const std::string& operator[](std::size_t i) const { return positional_.at(i); }
  const std::vector<std::string>& Positional() const noexcept { return positional_; }
  std::optional<std::string> Value(std::string_view option) const;  // the last one given
  bool Flag(std::string_view option) const;
  // The option's number, `fallback` when absent; kUsage outside `low` to `high`.
  unsigned long Number(std::string_view option, unsigned long fallback, unsigned long low, unsigned long high) const;

 private:
  std::vector<std::string> positional_;
  std::vector<std::pair<std::string, std::string>> options_;
};

// --format, --cost, --rounds and --encoding over the command's defaults: bcrypt at cost 10, UTF-8.
core::TSettings SettingsFrom(const TArguments& args);

// A UTF-8 text of the command line or the terminal as the table holds it: code page 932 of its
// Normalization Form C. kBadInput for bytes that are no UTF-8 or a character the code page lacks.
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
// is kBadInput).
std::string ReadPassword(bool confirm);

bool Exists(const std::string& path);

// An exclusive flock(2) on a folder for the object's lifetime: runs of the command that change files
// there take turns, so that none saves over what another has just saved.
class TFolderLock {
 public:
  explicit TFolderLock(const std::string& folder);
  ~TFolderLock();
  TFolderLock(const TFolderLock&) = delete;
  TFolderLock& operator=(const TFolderLock&) = delete;

 private:
  int fd_;
};

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

// Saves the built job to the .htpasswd at `path` alone. kBadInput, writing nothing, when a user of
// `keys` would not get the built line because an earlier line of that name (one the table does not
// hold) takes precedence, when a user was changed both here and by another program since the
// opening, or when a file appeared where there was none; the core refuses a file changed after the
// plan. `extra` files join the set; `after_save` runs while the signals are still held, so that
// what it tells belongs to a finished save.
void SaveHtpasswd(core::TJob& job, const std::string& path, const std::vector<std::string>& keys,
                  const std::vector<core::TFileToSave>& extra = {}, const std::function<void()>& after_save = {});

// The row whose non-empty key matches `key` ignoring letter case, as the table matches keys, or 0.
int FindRow(const table::TUserList& table, std::string_view key);
// Gives the user of `key` the password `password` (code page 932; empty: the build generates
// one, also in place of a held hash), adding the user when the table has none. Gives the row.
// A name with ':' is kBadInput: servers would read it as a shorter name.
int SetPassword(table::TUserList& table, const std::string& key, const std::string& password);

// The commands, each given the words after its name.
int Build(const std::vector<std::string>& words);
int Add(const std::vector<std::string>& words);
int Import(const std::vector<std::string>& words);
int Delete(const std::vector<std::string>& words);
int Verify(const std::vector<std::string>& words);
int Check(const std::vector<std::string>& words);

}  // namespace cli

// Turning table passwords into .htpasswd hashes: an empty password is first replaced by a random
// one of 8 letters and digits, and every hash gets a fresh random salt. Every random draw happens
// on the window's thread in row order; only the hashing itself runs on other threads or in other
// processes.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hashes/hashes.h"
#include "hashes/random_source.h"

namespace core {

// What a row hashes: the given password, or a new one of 8 characters from CryptAlphabet
// positions 2 to 63 when it is empty, and a fresh setting (salt) for the format. The bytes hashed
// are the password's as they leave the program: the same bytes, or UTF-8 (see OutputBytes).
struct THashJob {
  std::string password;  // as the table holds it
  std::string hashed;    // the bytes hashed, when they are not the password's own
  std::string setting;
  bool generated = false;  // the password was drawn here, not given
  const std::string& Hashed() const { return hashed.empty() ? password : hashed; }
};
THashJob DrawHashJob(std::string_view password, hashes::Format format, const hashes::TStrength& strength,
                    bool utf8 = false);

// The hashing of a batch of jobs on all processor cores, under way from the moment it is made, so
// that the thread that made it stays free. A single hash cannot be interrupted and one can take
// half an hour, so the slow formats are hashed in child processes (where the system has them),
// which a cancel or a drop kills at once: nothing of a given-up run goes on using the processor.
// The children die with the thread that made the run, should it end first. DES, a thousand
// hashes a millisecond, stays on threads that stop between chunks of 1,024.
class THashRun {
 public:
  explicit THashRun(std::vector<THashJob> jobs);
  ~THashRun();  // cancels
  THashRun(const THashRun&) = delete;
  THashRun& operator=(const THashRun&) = delete;

  const std::vector<THashJob>& Jobs() const;
  std::size_t Done() const;
  // Every hash is made, or one failed.
  bool Finished() const;
  // Waits until Finished or `timeout` passes; whether Finished.
  bool WaitFor(std::chrono::milliseconds timeout) const;
  void Cancel();
  bool Cancelled() const { return cancelled_; }
  // The hashes in job order, handed over (once), when Finished; a failure of the hashing is
  // rethrown here.
  std::vector<std::string> TakeHashes();

 private:
  struct TShared;
  std::shared_ptr<TShared> shared_;
  bool cancelled_ = false;
};

// Waits for `run` to finish, calling `keep_going(done)` every few milliseconds and once more at the
// end; false, with the run cancelled, as soon as it returns false.
bool AwaitHashes(THashRun& run, const std::function<bool(std::size_t done)>& keep_going);

// The hashes of `jobs`, in their order, computed on all processor cores. The calling thread
// waits, calling `keep_going(done)` every few milliseconds with the number of jobs finished; when
// it returns false the work stops and nothing is returned. A failure of the hashing is rethrown
// here.
std::optional<std::vector<std::string>> HashJobs(const std::vector<THashJob>& jobs,
                                                const std::function<bool(std::size_t done)>& keep_going);

// What ends the work of one background task (core/background.h): a check that task runs through
// CheckApart is computed in a child process, which Stop kills.
class TStopper {
 public:
  // Kills the check under way, and any that starts later, as soon as it starts.
  void Stop();
  // The stopper of the task the calling thread runs, or null: TBackground sets it.
  static TStopper*& Current();

 private:
  friend hashes::Verdict CheckApart(std::string_view password, std::string_view hash);
  std::mutex mutex_;
  bool stopped_ = false;
  int child_ = 0;  // the process of the check under way, until it is being reaped
};

// hashes::Check, computed in a child process where the system has them, so that the
// TStopper::Current of the calling thread can end it; throws std::runtime_error when it was
// stopped or its process ended without an answer.
hashes::Verdict CheckApart(std::string_view password, std::string_view hash);

// The 13-character DES hash, ":" and the password that was hashed (the given one or a generated
// one). The hash holds no ":", so the result splits at its first ":". An empty salt is drawn.
std::string EncryptPassword(std::string_view password, std::string_view salt);

}  // namespace core

#include "core/encrypt_password.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <span>
#include <thread>

#include "core/encoding.h"
#include "core/hash_workers.h"
#include "des_crypt/des_crypt.h"

namespace core {
namespace {

std::string Generated() {
  std::string password;
  for (int i = 0; i < 8; ++i) password += CryptAlphabet[2 + hashes::RandomBelow(62)];
  return password;
}

// DES goes through the bitsliced batch hash, a chunk of rows at once.
void HashDes(const std::vector<THashJob>& jobs, std::size_t from, std::size_t to, std::vector<std::string>& hashes) {
  std::vector<std::string_view> passwords, salts;
  passwords.reserve(to - from);
  salts.reserve(to - from);
  for (std::size_t i = from; i < to; ++i) {
    passwords.push_back(jobs[i].Hashed());
    salts.push_back(jobs[i].setting);
  }
  DesCryptBatch(passwords, salts, std::span(hashes).subspan(from, to - from));
}

}  // namespace

THashJob DrawHashJob(std::string_view password, hashes::Format format, const hashes::TStrength& strength, bool utf8) {
  THashJob job{password.empty() ? Generated() : std::string(password), {}, {}};
  job.generated = password.empty();
  if (utf8) job.hashed = OutputBytes(job.password, true);
  job.setting = hashes::DrawSetting(format, strength);
  return job;
}

// What the workers and the run share: a worker holds it for as long as it runs, so that a run
// given up while a long hash is under way leaves that worker nothing freed to write into.
struct THashRun::Shared {
  std::vector<THashJob> jobs;
  std::vector<std::string> hashes;
  bool fast = false;
  std::size_t chunk = 1, chunks = 0;
  std::atomic<std::size_t> next{0}, done{0};
  std::atomic<bool> stop{false};
  mutable std::mutex mutex;
  mutable std::condition_variable finished;
  std::exception_ptr failure;

  // Hashes the next free chunk; false when none is left or the run stopped.
  bool Step() {
    std::size_t c = 0;
    if (stop || (c = next++) >= chunks) return false;
    const std::size_t from = c * chunk, to = std::min(jobs.size(), from + chunk);
    try {
      if (fast)
        HashDes(jobs, from, to, hashes);
      else
        for (std::size_t i = from; i < to; ++i) hashes[i] = hashes::HashWithSetting(jobs[i].Hashed(), jobs[i].setting);
    } catch (...) {
      const std::lock_guard lock(mutex);
      if (!failure) failure = std::current_exception();
      stop = true;
    }
    {
      // Under the lock, so that a waiter cannot miss the last notification between its test
      // and its wait.
      const std::lock_guard lock(mutex);
      done += to - from;
    }
    finished.notify_all();
    return true;
  }
  bool Finished() const { return done == jobs.size() || failure; }
};

THashRun::THashRun(std::vector<THashJob> jobs) : shared_(std::make_shared<Shared>()) {
  Shared& s = *shared_;
  s.jobs = std::move(jobs);
  s.hashes.resize(s.jobs.size());
  // Jobs are taken in chunks, each worker taking the next free one, so that the cores stay busy to
  // the end even when one chunk costs more than another; the results land in their own places.
  // DES goes in chunks of 1,024, a whole number of the widest batch pass; the slow formats one
  // at a time, so that a cancel is heard within one hash. A batch is DES only when every job is.
  s.fast = !s.jobs.empty() &&
           std::all_of(s.jobs.begin(), s.jobs.end(), [](const THashJob& job) { return job.setting.size() == 2; });
  s.chunk = s.fast ? 1024 : 1;
  s.chunks = (s.jobs.size() + s.chunk - 1) / s.chunk;
  const std::size_t workers = std::min<std::size_t>(s.chunks, std::max(1u, std::thread::hardware_concurrency()));
  StartHashWorkers(workers, [shared = shared_] { return shared->Step(); });
}

THashRun::~THashRun() { Cancel(); }

const std::vector<THashJob>& THashRun::Jobs() const { return shared_->jobs; }

std::size_t THashRun::Done() const { return shared_->done; }

bool THashRun::Finished() const {
  const std::lock_guard lock(shared_->mutex);
  return shared_->Finished();
}

bool THashRun::WaitFor(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(shared_->mutex);
  return shared_->finished.wait_for(lock, timeout, [this] { return shared_->Finished(); });
}

void THashRun::Cancel() {
  cancelled_ = true;
  shared_->stop = true;
}

std::vector<std::string> THashRun::TakeHashes() {
  const std::lock_guard lock(shared_->mutex);
  if (shared_->failure) std::rethrow_exception(shared_->failure);
  // Every hash is in place and no worker writes any more: they move out rather than being copied,
  // a million of them in a large build.
  return std::move(shared_->hashes);
}

bool AwaitHashes(THashRun& run, const std::function<bool(std::size_t done)>& keep_going) {
  while (!run.WaitFor(std::chrono::milliseconds(20)))
    if (!keep_going(run.Done())) {
      run.Cancel();
      return false;
    }
  keep_going(run.Done());
  return true;
}

std::optional<std::vector<std::string>> HashJobs(const std::vector<THashJob>& jobs,
                                                const std::function<bool(std::size_t done)>& keep_going) {
  THashRun run(jobs);
  if (!AwaitHashes(run, keep_going)) return std::nullopt;
  return run.TakeHashes();
}

std::string EncryptPassword(std::string_view password, std::string_view salt) {
  // The one-row form of what a build does for every row: the same draw, the same hash.
  THashJob job = DrawHashJob(password, hashes::Format::Des, {});
  if (!salt.empty()) job.setting = std::string(salt);
  return hashes::HashWithSetting(job.Hashed(), job.setting) + ":" + job.password;
}

}  // namespace core

#include "core/encrypt_password.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <span>
#include <stdexcept>
#include <thread>

#include "core/encoding.h"
#include "core/hash_workers.h"
#include "des_crypt/des_crypt.h"
#include "platform/cp932.h"
#include "text/messages.h"

#if defined(__linux__)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#define VASTELO_HASH_APART 1
#endif

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

#if VASTELO_HASH_APART
namespace apart {

// A child process runs in a copy of a process that may hold other threads, Qt's among them, some
// perhaps inside a lock at the moment of the fork. So a child does nothing but hash (libxcrypt,
// apr-util and DesCrypt take no lock; malloc is made safe across fork by the C library), write to
// its pipe and _exit: no atexit handler, no stdio buffer flushed twice, no exception let out.

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The first steps of a child, writing to `out`: it dies with the thread that made it (a crash of
// the program leaves no orphan hashing for half an hour), a signal takes its default action rather
// than running a handler of the program (Ctrl+C ends it with the command), and it holds no pipe
// but its own, so that every other pipe's end is seen when its own child ends. Its descriptor.
int BecomeChild(int out, pid_t parent) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(1);
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction action{};
    if (::sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_IGN || action.sa_handler == SIG_DFL)
      continue;
    action = {};
    action.sa_handler = SIG_DFL;
    ::sigaction(signal, &action, nullptr);
  }
  constexpr int kOut = 3;
  if (out != kOut && ::dup2(out, kOut) < 0) ::_exit(1);
  if (::close_range(kOut + 1, ~0u, 0) != 0)
    for (int fd = kOut + 1; fd < 65536; ++fd) ::close(fd);
  return kOut;
}

// Starts a child that runs `work` with the write end of a pipe and ends; its pid and the read end,
// or -1 when no child can be made.
template <class F>
pid_t Spawn(const F& work, int& read_end) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    try {
      work(BecomeChild(fds[1], parent));
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    return -1;
  }
  read_end = fds[0];
  return pid;
}

void Reap(pid_t pid) {
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// What a child sends back for each job it takes: the job's index (8 bytes), what came of it (1)
// and the length (4) of the text that follows, the hash or what the failure said. A failure is
// rebuilt in the program as the same standard exception, so that it is rethrown as before.
enum class Outcome : std::uint8_t { Hash, InvalidArgument, LogicError, NoMemory, Other };
constexpr std::size_t kHead = 13;

bool Send(int out, std::uint64_t index, Outcome outcome, const std::string& text) {
  const auto length = static_cast<std::uint32_t>(text.size());
  std::string record(kHead, '\0');
  std::memcpy(record.data(), &index, 8);
  record[8] = static_cast<char>(outcome);
  std::memcpy(record.data() + 9, &length, 4);
  return WriteAll(out, (record + text).data(), kHead + text.size());
}

// A child's share of the run: the next job no child has taken yet, until none is left or one fails.
void HashJobs(const std::vector<THashJob>& jobs, std::atomic<std::uint64_t>& next, int out) {
  for (std::uint64_t i; (i = next++) < jobs.size();) {
    Outcome outcome = Outcome::Hash;
    std::string text;
    try {
      text = hashes::HashWithSetting(jobs[i].Hashed(), jobs[i].setting);
    } catch (const std::bad_alloc&) {
      outcome = Outcome::NoMemory;
    } catch (const std::invalid_argument& e) {
      outcome = Outcome::InvalidArgument, text = e.what();
    } catch (const std::logic_error& e) {
      outcome = Outcome::LogicError, text = e.what();
    } catch (const std::exception& e) {
      outcome = Outcome::Other, text = e.what();
    } catch (...) {
      outcome = Outcome::Other;
    }
    if (!Send(out, i, outcome, text) || outcome != Outcome::Hash) return;
  }
}

std::exception_ptr Rebuilt(Outcome outcome, const std::string& what) {
  switch (outcome) {
    case Outcome::InvalidArgument:
      return std::make_exception_ptr(std::invalid_argument(what));
    case Outcome::LogicError:
      return std::make_exception_ptr(std::logic_error(what));
    case Outcome::NoMemory:
      return std::make_exception_ptr(std::bad_alloc());
    default:
      return std::make_exception_ptr(std::runtime_error(what));
  }
}

}  // namespace apart
#endif

}  // namespace

THashJob DrawHashJob(std::string_view password, hashes::Format format, const hashes::TStrength& strength, bool utf8) {
  THashJob job{password.empty() ? Generated() : std::string(password), {}, {}};
  job.generated = password.empty();
  if (utf8) job.hashed = OutputBytes(job.password, true);
  job.setting = hashes::DrawSetting(format, strength);
  return job;
}

// What the workers and the run share: a worker holds it for as long as it runs, so that a run
// given up while a DES chunk is under way leaves that worker nothing freed to write into.
struct THashRun::TShared {
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

#if VASTELO_HASH_APART
  // The children, each taking the next job from a counter they share with the program, and one
  // thread of the program reading what they send back.
  struct TChild {
    pid_t pid;
    int fd;             // the reader's alone
    std::string bytes;  // the reader's alone: the start of a record not yet whole
    bool ending = false;  // its pipe is closed, so it ends or has ended: it may be reaped, never killed
  };
  static_assert(std::atomic<std::uint64_t>::is_always_lock_free, "the counter is shared by processes");
  std::atomic<std::uint64_t>* taken = nullptr;
  std::vector<TChild> children;

  ~TShared() {
    for (const TChild& child : children)
      if (child.fd >= 0) ::close(child.fd);
    if (taken) ::munmap(taken, sizeof *taken);
  }

  // Starts up to `count` children; whether any started.
  bool StartChildren(std::size_t count) {
    void* memory = ::mmap(nullptr, sizeof *taken, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return false;
    taken = new (memory) std::atomic<std::uint64_t>(0);
    children.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
      int fd = -1;
      const pid_t pid = apart::Spawn([this](int out) { apart::HashJobs(jobs, *taken, out); }, fd);
      if (pid < 0) break;
      children.push_back({pid, fd, {}});
    }
    return !children.empty();
  }

  // Under the lock.
  void KillChildren() {
    for (const TChild& child : children)
      if (!child.ending) ::kill(child.pid, SIGKILL);
  }

  void Take(TChild& child) {
    while (child.bytes.size() >= apart::kHead) {
      std::uint64_t index;
      std::uint32_t length;
      std::memcpy(&index, child.bytes.data(), 8);
      const auto outcome = static_cast<apart::Outcome>(child.bytes[8]);
      std::memcpy(&length, child.bytes.data() + 9, 4);
      if (child.bytes.size() < apart::kHead + length) return;
      std::string text = child.bytes.substr(apart::kHead, length);
      child.bytes.erase(0, apart::kHead + length);
      {
        const std::lock_guard lock(mutex);
        if (outcome != apart::Outcome::Hash) {
          if (!failure) failure = apart::Rebuilt(outcome, text);
          stop = true;
          KillChildren();
        } else if (index < hashes.size()) {
          hashes[index] = std::move(text);
          ++done;
        }
      }
      finished.notify_all();
    }
  }

  // The reader's loop, until every child has ended: a child's pipe closes only when it ends.
  void Read() {
    std::vector<pollfd> polled;
    std::vector<TChild*> polling;
    char buffer[4096];
    for (;;) {
      polled.clear(), polling.clear();
      for (TChild& child : children)
        if (child.fd >= 0) polled.push_back({child.fd, POLLIN, 0}), polling.push_back(&child);
      if (polled.empty()) break;
      if (::poll(polled.data(), polled.size(), -1) < 0) {
        if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      for (std::size_t j = 0; j < polled.size(); ++j) {
        if (polled[j].revents == 0) continue;
        TChild& child = *polling[j];
        const ssize_t n = ::read(child.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n > 0) {
          child.bytes.append(buffer, static_cast<std::size_t>(n));
          Take(child);
          continue;
        }
        ::close(child.fd);
        child.fd = -1;
        {
          const std::lock_guard lock(mutex);
          child.ending = true;
        }
        apart::Reap(child.pid);
      }
    }
    {
      // Every child ended, yet a job is without its hash: one was killed from outside, or could
      // not write.
      const std::lock_guard lock(mutex);
      if (!stop && !failure && done < jobs.size())
        failure = std::make_exception_ptr(std::runtime_error(platform::Cp932ToUtf8(messages::SHashingDied)));
    }
    finished.notify_all();
  }
#endif
};

THashRun::THashRun(std::vector<THashJob> jobs) : shared_(std::make_shared<TShared>()) {
  TShared& s = *shared_;
  s.jobs = std::move(jobs);
  s.hashes.resize(s.jobs.size());
  // Jobs are taken in chunks, each worker taking the next free one, so that the cores stay busy to
  // the end even when one chunk costs more than another; the results land in their own places.
  // DES goes in chunks of 1,024, a whole number of the widest batch pass; the slow formats one
  // at a time. A batch is DES only when every job is.
  s.fast = !s.jobs.empty() &&
           std::all_of(s.jobs.begin(), s.jobs.end(), [](const THashJob& job) { return job.setting.size() == 2; });
  s.chunk = s.fast ? 1024 : 1;
  s.chunks = (s.jobs.size() + s.chunk - 1) / s.chunk;
  const std::size_t workers = std::min<std::size_t>(s.chunks, std::max(1u, std::thread::hardware_concurrency()));
#if VASTELO_HASH_APART
  if (!s.fast && s.StartChildren(workers)) {
    try {
      StartDetached([shared = shared_] { shared->Read(); });
    } catch (...) {
      for (TShared::TChild& child : s.children) ::kill(child.pid, SIGKILL), apart::Reap(child.pid);
      throw;
    }
    return;
  }
#endif
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
#if VASTELO_HASH_APART
  // The reader reaps them as their pipes close.
  const std::lock_guard lock(shared_->mutex);
  shared_->KillChildren();
#endif
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

void TStopper::Stop() {
  const std::lock_guard lock(mutex_);
  stopped_ = true;
#if VASTELO_HASH_APART
  if (child_ != 0) ::kill(child_, SIGKILL);
#endif
}

TStopper*& TStopper::Current() {
  thread_local TStopper* current = nullptr;
  return current;
}

hashes::Verdict CheckApart(std::string_view password, std::string_view hash) {
#if VASTELO_HASH_APART
  int fd = -1;
  const pid_t pid = apart::Spawn(
      [&](int out) {
        const char verdict = static_cast<char>(hashes::Check(password, hash));
        apart::WriteAll(out, &verdict, 1);
      },
      fd);
  if (pid < 0) return hashes::Check(password, hash);
  TStopper* const stopper = TStopper::Current();
  if (stopper) {
    const std::lock_guard lock(stopper->mutex_);
    if (stopper->stopped_) ::kill(pid, SIGKILL);
    stopper->child_ = pid;
  }
  char verdict = 0;
  ssize_t n;
  while ((n = ::read(fd, &verdict, 1)) < 0 && errno == EINTR) {
  }
  ::close(fd);
  if (stopper) {
    const std::lock_guard lock(stopper->mutex_);
    stopper->child_ = 0;
  }
  // The child has written its answer or died: either way it ends, and is no longer killed.
  apart::Reap(pid);
  if (n != 1) throw std::runtime_error(platform::Cp932ToUtf8(messages::SCheckCancelled));
  return static_cast<hashes::Verdict>(verdict);
#else
  return hashes::Check(password, hash);
#endif
}

std::string EncryptPassword(std::string_view password, std::string_view salt) {
  // The one-row form of what a build does for every row: the same draw, the same hash.
  THashJob job = DrawHashJob(password, hashes::Format::Des, {});
  if (!salt.empty()) job.setting = std::string(salt);
  return hashes::HashWithSetting(job.Hashed(), job.setting) + ":" + job.password;
}

}  // namespace core

// A save's guards: the folder lock that makes runs take turns, the recovery of a save a crash
// cut off, and the signals held back while the files are written.
#include "cli/lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "cli/terminal.h"
#include "core/save_set.h"
#include "platform/cp932.h"
#include "platform/system.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace cli {
namespace {

void Tick(int) {}

// Takes the exclusive flock on `fd`, saying once on stderr that it waits after a second, giving
// up (ExitCode::BadInput) after `wait` seconds. 0, or the errno of a failure other than waiting.
int LockWaiting(int fd, const std::string& shown, TWait wait) {
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
  if (errno != EWOULDBLOCK && errno != EINTR) return errno;
  const auto timed_out = [&] {
    return TFailure(ExitCode::BadInput, text::Utf8Message(messages::SLockTimedOut, {shown, std::to_string(*wait)}));
  };
  if (wait && *wait == 0) throw timed_out();
  // A blocking flock that a tick interrupts every tenth of a second: the kernel keeps the order
  // in which runs began to wait, which a loop of tries would not.
  struct sigaction tick{}, previous{};
  tick.sa_handler = Tick;  // without SA_RESTART, so that flock returns EINTR
  sigemptyset(&tick.sa_mask);
  ::sigaction(SIGALRM, &tick, &previous);
  const itimerval every{{0, 100'000}, {0, 100'000}}, off{};
  ::setitimer(ITIMER_REAL, &every, nullptr);
  const auto start = std::chrono::steady_clock::now();
  bool told = false;
  int error = 0;
  for (;;) {
    if (::flock(fd, LOCK_EX) == 0) break;
    if (errno != EINTR) {
      error = errno;
      break;
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    if (!told && waited >= std::chrono::seconds(1)) {
      Complain(text::Utf8Message(messages::SLockWaiting, {shown}));
      told = true;
    }
    if (wait && waited >= std::chrono::seconds(*wait)) {
      error = -1;
      break;
    }
  }
  ::setitimer(ITIMER_REAL, &off, nullptr);
  ::sigaction(SIGALRM, &previous, nullptr);
  if (error == -1) throw timed_out();
  return error;
}

// The folder of the file that saving `path` writes. Nothing there: no link to follow, and a folder
// missing on the way is told when it cannot be opened.
std::string FolderToLock(const std::string& path) {
  struct stat st{};
  return platform::FolderOf(::lstat(path.c_str(), &st) == 0 ? core::SaveTarget(path) : path);
}

}  // namespace

bool Exists(const std::string& path) {
  struct stat st{};
  return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

TFolderLock::TFolderLock(const std::string& path, TWait wait) {
  const std::string shown = platform::AbsolutePath(path);
  for (;;) {
    const std::string folder = FolderToLock(path);
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) throw TFailure(ExitCode::BadInput, text::Utf8Message(messages::SFolderNotOpened, {Shown(folder), ErrorText(errno)}));
    try {
      if (const int error = LockWaiting(fd_, shown, wait); error != 0)
        throw TFailure(ExitCode::BadInput, text::Utf8Message(messages::SFolderNotLocked, {Shown(folder), ErrorText(error)}));
      // A link may have been changed while we waited: the lock held must be that of the file as it
      // is now, or another run that follows the link now takes another lock.
      struct stat held{}, now{};
      if (::fstat(fd_, &held) == 0 && ::stat(FolderToLock(path).c_str(), &now) == 0 && held.st_dev == now.st_dev &&
          held.st_ino == now.st_ino)
        return;
    } catch (...) {
      ::close(fd_);
      throw;
    }
    ::close(fd_);
  }
}

TFolderLock::~TFolderLock() { ::close(fd_); }

void RecoverFolder(const std::string& folder) {
  if (const std::string note = core::RecoverCutSaves(folder); !note.empty()) Complain(platform::Cp932ToUtf8(note));
}

TSignalsHeld::TSignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, s);
  ::pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

TSignalsHeld::~TSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace cli

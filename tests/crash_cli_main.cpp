// vastelo-cli for the crash test only, never installed: the same commands, with every call through
// the file seam counted. VASTELO_DIE_AT=N kills the process with SIGKILL at the N-th call, as a
// power cut or kill -9 would (a write there first writes half its bytes, as a cut-off write
// may); VASTELO_COUNT_TO=FILE writes the number of calls made to FILE when the command ends.
#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "cli/cli.h"
#include "platform/file_ops.h"

namespace {

class TDyingCalls : public platform::TFileCalls {
 public:
  explicit TDyingCalls(long die_at) : die_at_(die_at) {}
  long count = 0;
  int Open(const char* p, int f, mode_t m) override { return Step(), TFileCalls::Open(p, f, m); }
  int Fstat(int fd, struct stat* st) override { return Step(), TFileCalls::Fstat(fd, st); }
  int Stat(const char* p, struct stat* st) override { return Step(), TFileCalls::Stat(p, st); }
  int Lstat(const char* p, struct stat* st) override { return Step(), TFileCalls::Lstat(p, st); }
  ssize_t Readlink(const char* p, char* b, std::size_t n) override { return Step(), TFileCalls::Readlink(p, b, n); }
  ssize_t Read(int fd, void* b, std::size_t n) override { return Step(), TFileCalls::Read(fd, b, n); }
  ssize_t Write(int fd, const void* b, std::size_t n) override {
    return Step([&] { TFileCalls::Write(fd, b, n / 2); }), TFileCalls::Write(fd, b, n);
  }
  ssize_t Pwrite(int fd, const void* b, std::size_t n, off_t at) override {
    return Step([&] { TFileCalls::Pwrite(fd, b, n / 2, at); }), TFileCalls::Pwrite(fd, b, n, at);
  }
  int Ftruncate(int fd, off_t n) override { return Step(), TFileCalls::Ftruncate(fd, n); }
  int Fsync(int fd) override { return Step(), TFileCalls::Fsync(fd); }
  int Fchmod(int fd, mode_t m) override { return Step(), TFileCalls::Fchmod(fd, m); }
  int Fchown(int fd, uid_t u, gid_t g) override { return Step(), TFileCalls::Fchown(fd, u, g); }
  int Close(int fd) override { return Step(), TFileCalls::Close(fd); }
  int Rename(const char* a, const char* b) override { return Step(), TFileCalls::Rename(a, b); }
  int Unlink(const char* p) override { return Step(), TFileCalls::Unlink(p); }
  int Link(const char* a, const char* b) override { return Step(), TFileCalls::Link(a, b); }
  int Mkdir(const char* p, mode_t m) override { return Step(), TFileCalls::Mkdir(p, m); }
  ssize_t Flistxattr(int fd, char* l, std::size_t n) override { return Step(), TFileCalls::Flistxattr(fd, l, n); }
  ssize_t Fgetxattr(int fd, const char* a, void* v, std::size_t n) override { return Step(), TFileCalls::Fgetxattr(fd, a, v, n); }
  int Fsetxattr(int fd, const char* a, const void* v, std::size_t n, int f) override { return Step(), TFileCalls::Fsetxattr(fd, a, v, n, f); }
  int Fremovexattr(int fd, const char* a) override { return Step(), TFileCalls::Fremovexattr(fd, a); }
  int ListFolder(const char* p, std::vector<std::string>& names) override { return Step(), TFileCalls::ListFolder(p, names); }
  int Flock(int fd, int op) override { return Step(), TFileCalls::Flock(fd, op); }

 private:
  template <class Torn = void (*)()>
  void Step(const Torn& torn = [] {}) {
    if (++count != die_at_) return;
    torn();
    ::kill(::getpid(), SIGKILL);
  }
  long die_at_;
};

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  const char* die_at = std::getenv("VASTELO_DIE_AT");
  TDyingCalls calls(die_at ? std::atol(die_at) : 0);
  int code = 0;
  {
    const platform::TScopedFileCalls scoped(calls);
    code = cli::Run(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
  }
  if (const char* count_to = std::getenv("VASTELO_COUNT_TO")) std::ofstream(count_to) << calls.count;
  return code;
}

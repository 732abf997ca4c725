// Every call through the file seam announced to one hook before it is made, so that a test that
// counts the calls, makes one fail or ends the process at one says so once, not once per call.
#pragma once

#include <algorithm>
#include <cerrno>
#include <functional>
#include <string_view>

#include "platform/file_ops.h"

class THookedCalls : public platform::TFileCalls {
 public:
  // Whether the call named `call` (the method's name in lower case) fails, with errno as the hook
  // left it. `torn` writes half of a write's bytes, for a hook that ends the process in one.
  virtual bool Fails(std::string_view call, const std::function<void()>& torn) = 0;
  std::size_t most = static_cast<std::size_t>(-1);  // bytes a read or a write moves at most, as a signal may cut them short

  int Open(const char* p, int f, mode_t m) override { return Fails("open", {}) ? -1 : TFileCalls::Open(p, f, m); }
  int Fstat(int fd, struct stat* st) override { return Fails("fstat", {}) ? -1 : TFileCalls::Fstat(fd, st); }
  int Stat(const char* p, struct stat* st) override { return Fails("stat", {}) ? -1 : TFileCalls::Stat(p, st); }
  int Lstat(const char* p, struct stat* st) override { return Fails("lstat", {}) ? -1 : TFileCalls::Lstat(p, st); }
  ssize_t Readlink(const char* p, char* b, std::size_t n) override { return Fails("readlink", {}) ? -1 : TFileCalls::Readlink(p, b, n); }
  ssize_t Read(int fd, void* b, std::size_t n) override { return Fails("read", {}) ? -1 : TFileCalls::Read(fd, b, std::min(n, most)); }
  ssize_t Write(int fd, const void* b, std::size_t n) override {
    return Fails("write", [&] { TFileCalls::Write(fd, b, n / 2); }) ? -1 : TFileCalls::Write(fd, b, std::min(n, most));
  }
  ssize_t Pwrite(int fd, const void* b, std::size_t n, off_t at) override {
    return Fails("pwrite", [&] { TFileCalls::Pwrite(fd, b, n / 2, at); }) ? -1 : TFileCalls::Pwrite(fd, b, std::min(n, most), at);
  }
  int Ftruncate(int fd, off_t n) override { return Fails("ftruncate", {}) ? -1 : TFileCalls::Ftruncate(fd, n); }
  int Fsync(int fd) override { return Fails("fsync", {}) ? -1 : TFileCalls::Fsync(fd); }
  int Fchmod(int fd, mode_t m) override { return Fails("fchmod", {}) ? -1 : TFileCalls::Fchmod(fd, m); }
  int Fchown(int fd, uid_t u, gid_t g) override { return Fails("fchown", {}) ? -1 : TFileCalls::Fchown(fd, u, g); }
  // A failed close still frees the descriptor, as Linux's does.
  int Close(int fd) override {
    if (!Fails("close", {})) return TFileCalls::Close(fd);
    const int error = errno;
    return TFileCalls::Close(fd), errno = error, -1;
  }
  int Rename(const char* a, const char* b) override { return Fails("rename", {}) ? -1 : TFileCalls::Rename(a, b); }
  int Unlink(const char* p) override { return Fails("unlink", {}) ? -1 : TFileCalls::Unlink(p); }
  int Link(const char* a, const char* b) override { return Fails("link", {}) ? -1 : TFileCalls::Link(a, b); }
  int Mkdir(const char* p, mode_t m) override { return Fails("mkdir", {}) ? -1 : TFileCalls::Mkdir(p, m); }
  ssize_t Flistxattr(int fd, char* l, std::size_t n) override { return Fails("flistxattr", {}) ? -1 : TFileCalls::Flistxattr(fd, l, n); }
  ssize_t Fgetxattr(int fd, const char* a, void* v, std::size_t n) override { return Fails("fgetxattr", {}) ? -1 : TFileCalls::Fgetxattr(fd, a, v, n); }
  int Fsetxattr(int fd, const char* a, const void* v, std::size_t n, int f) override { return Fails("fsetxattr", {}) ? -1 : TFileCalls::Fsetxattr(fd, a, v, n, f); }
  int Fremovexattr(int fd, const char* a) override { return Fails("fremovexattr", {}) ? -1 : TFileCalls::Fremovexattr(fd, a); }
  int ListFolder(const char* p, std::vector<std::string>& n) override { return Fails("listfolder", {}) ? -1 : TFileCalls::ListFolder(p, n); }
  int Flock(int fd, int op) override { return Fails("flock", {}) ? -1 : TFileCalls::Flock(fd, op); }
};

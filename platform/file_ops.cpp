#include "platform/file_ops.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform {
namespace {
TFileCalls real_calls;
TFileCalls* current = &real_calls;
}  // namespace

int TFileCalls::Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int TFileCalls::Fstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int TFileCalls::Stat(const char* path, struct stat* st) { return ::stat(path, st); }
int TFileCalls::Lstat(const char* path, struct stat* st) { return ::lstat(path, st); }
ssize_t TFileCalls::Readlink(const char* path, char* buffer, std::size_t size) { return ::readlink(path, buffer, size); }
ssize_t TFileCalls::Read(int fd, void* buffer, std::size_t size) { return ::read(fd, buffer, size); }
ssize_t TFileCalls::Write(int fd, const void* buffer, std::size_t size) { return ::write(fd, buffer, size); }
ssize_t TFileCalls::Pwrite(int fd, const void* buffer, std::size_t size, off_t offset) {
  return ::pwrite(fd, buffer, size, offset);
}
int TFileCalls::Ftruncate(int fd, off_t length) { return ::ftruncate(fd, length); }
int TFileCalls::Fsync(int fd) { return ::fsync(fd); }
int TFileCalls::Fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int TFileCalls::Fchown(int fd, uid_t uid, gid_t gid) { return ::fchown(fd, uid, gid); }
int TFileCalls::Close(int fd) { return ::close(fd); }
int TFileCalls::Rename(const char* from, const char* to) { return ::rename(from, to); }
int TFileCalls::Unlink(const char* path) { return ::unlink(path); }
int TFileCalls::Link(const char* from, const char* to) { return ::link(from, to); }
int TFileCalls::Mkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }
ssize_t TFileCalls::Flistxattr(int fd, char* names, std::size_t size) { return ::flistxattr(fd, names, size); }
ssize_t TFileCalls::Fgetxattr(int fd, const char* name, void* value, std::size_t size) {
  return ::fgetxattr(fd, name, value, size);
}
int TFileCalls::Fsetxattr(int fd, const char* name, const void* value, std::size_t size, int flags) {
  return ::fsetxattr(fd, name, value, size, flags);
}
int TFileCalls::Fremovexattr(int fd, const char* name) { return ::fremovexattr(fd, name); }
int TFileCalls::ListFolder(const char* path, std::vector<std::string>& names) {
  names.clear();
  DIR* folder = ::opendir(path);
  if (!folder) return -1;
  errno = 0;
  // A stream of its own per call: readdir is safe here, and readdir_r is deprecated by glibc.
  // cppcheck-suppress readdirCalled
  while (const dirent* entry = ::readdir(folder)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
    errno = 0;
  }
  const int error = errno;
  ::closedir(folder);
  return error ? (errno = error, -1) : 0;
}
int TFileCalls::Flock(int fd, int operation) {
  int rc;
  while ((rc = ::flock(fd, operation)) != 0 && errno == EINTR) {
  }
  return rc;
}

TFileCalls& Files() { return *current; }

int TFileDescriptor::Close() {
  if (fd_ < 0) return 0;
  const int rc = Files().Close(fd_);
  fd_ = -1;
  return rc;
}

bool ReadUpTo(int fd, std::size_t size, std::string& bytes) {
  bytes.assign(size, '\0');
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = Files().Read(fd, bytes.data() + got, size - got);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) return false;
    if (n == 0) break;  // the file shrank since its size was taken
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return true;
}

TFileCalls*& FileCallsInForce() { return current; }

}  // namespace platform

// The system calls through which files are read and written. They sit behind one replaceable
// object so that tests can make any step fail (a refused create, a short write, a failed flush,
// rename or link, an attribute that cannot be copied, a refused folder flush) and prove that no
// data is lost when it does.
#pragma once

#include <cstddef>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform/scoped.h"

namespace platform {

class TFileCalls {
 public:
  virtual ~TFileCalls() = default;
  virtual int Open(const char* path, int flags, mode_t mode);
  virtual int Fstat(int fd, struct stat* st);
  virtual int Stat(const char* path, struct stat* st);
  virtual int Lstat(const char* path, struct stat* st);
  virtual ssize_t Readlink(const char* path, char* buffer, std::size_t size);
  virtual ssize_t Read(int fd, void* buffer, std::size_t size);
  virtual ssize_t Write(int fd, const void* buffer, std::size_t size);
  virtual ssize_t Pwrite(int fd, const void* buffer, std::size_t size, off_t offset);
  virtual int Ftruncate(int fd, off_t length);
  virtual int Fsync(int fd);  // also for a folder, opened O_RDONLY | O_DIRECTORY
  virtual int Fchmod(int fd, mode_t mode);
  virtual int Fchown(int fd, uid_t uid, gid_t gid);
  virtual int Close(int fd);
  virtual int Rename(const char* from, const char* to);
  virtual int Unlink(const char* path);
  virtual int Link(const char* from, const char* to);
  virtual int Mkdir(const char* path, mode_t mode);
  // Extended attributes of an open file. A POSIX access ACL is the attribute
  // "system.posix_acl_access": copying its bytes copies the ACL exactly, with no translation.
  virtual ssize_t Flistxattr(int fd, char* names, std::size_t size);
  virtual ssize_t Fgetxattr(int fd, const char* name, void* value, std::size_t size);
  virtual int Fsetxattr(int fd, const char* name, const void* value, std::size_t size, int flags);
  virtual int Fremovexattr(int fd, const char* name);
  // The names in a folder, "." and ".." left out: 0, or -1 with errno set.
  virtual int ListFolder(const char* path, std::vector<std::string>& names);
  virtual int Flock(int fd, int operation);  // flock(2)
};

// The calls in force: the real ones unless a test has put others in their place.
TFileCalls& Files();

// The pointer Files() reads, for TScopedFileCalls to change.
TFileCalls*& FileCallsInForce();
// Puts calls in force for the lifetime of this object (tests only; not thread-safe).
using TScopedFileCalls = TScopedOverride<TFileCalls, FileCallsInForce>;

// A file descriptor closed through Files() when it goes, or earlier by Close().
class TFileDescriptor {
 public:
  explicit TFileDescriptor(int fd = -1) : fd_(fd) {}
  ~TFileDescriptor() { Close(); }
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;
  int get() const { return fd_; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  // Closes now and reports the result: for a file being written, a failed close can be the first
  // sign that the data did not reach the disk.
  int Close();

 private:
  int fd_;
};

// Reads up to `size` bytes from the file's current offset through Files(); fewer if it ends
// sooner. False, with errno set, when a read fails: a read error must not pass for a shorter file.
bool ReadUpTo(int fd, std::size_t size, std::string& bytes);

}  // namespace platform

#include "platform/file_ops.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {
FileCalls real_calls;
FileCalls* current = &real_calls;
}  // namespace

int FileCalls::Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int FileCalls::Fstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int FileCalls::Stat(const char* path, struct stat* st) { return ::stat(path, st); }
ssize_t FileCalls::Read(int fd, void* buffer, std::size_t size) { return ::read(fd, buffer, size); }
ssize_t FileCalls::Write(int fd, const void* buffer, std::size_t size) { return ::write(fd, buffer, size); }
int FileCalls::Ftruncate(int fd, off_t length) { return ::ftruncate(fd, length); }
int FileCalls::Fsync(int fd) { return ::fsync(fd); }
int FileCalls::Fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int FileCalls::Fchown(int fd, uid_t uid, gid_t gid) { return ::fchown(fd, uid, gid); }
int FileCalls::Close(int fd) { return ::close(fd); }
int FileCalls::Rename(const char* from, const char* to) { return ::rename(from, to); }
int FileCalls::Unlink(const char* path) { return ::unlink(path); }

FileCalls& Files() { return *current; }

ScopedFileCalls::ScopedFileCalls(FileCalls& calls) : previous_(current) { current = &calls; }
ScopedFileCalls::~ScopedFileCalls() { current = previous_; }

}  // namespace platform

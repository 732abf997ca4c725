#include "text/string_list.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <memory>

#include "platform/file_ops.h"
#include "platform/system.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace text {

std::vector<std::string> SplitLines(std::string_view bytes) {
  // The text ends at its first NUL; the bytes after it are never looked at.
  if (const std::size_t nul = bytes.find('\0'); nul != std::string_view::npos) bytes = bytes.substr(0, nul);
  std::vector<std::string> lines;
  std::size_t p = 0;
  const std::size_t n = bytes.size();
  while (p < n) {
    const std::size_t start = p;
    while (p < n && bytes[p] != '\r' && bytes[p] != '\n') ++p;
    lines.emplace_back(bytes.substr(start, p - start));
    if (p < n && bytes[p] == '\r') ++p;
    if (p < n && bytes[p] == '\n') ++p;
  }
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::size_t size = 0;
  for (const std::string& line : lines) size += line.size() + 2;
  std::string text;
  text.reserve(size);
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

const std::string& TStringList::Get(int index) const {
  if (index < 0 || index >= Count()) throw EStringListError(index);
  return lines_[static_cast<std::size_t>(index)];
}

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) platform::Files().Close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and reports the result: for a file being written, a failed close can be the
  // first sign that the data did not reach the disk.
  int Close() {
    if (fd_ < 0) return 0;
    const int rc = platform::Files().Close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

// The temporary file sits beside the target and starts with the target's name, so that a file
// left by a crash is recognisable, and one for ".htpasswd" or ".htaccess" still falls under a web
// server's usual refusal to serve ".ht*" files.
std::string TemporaryName(const std::string& target) {
  static constexpr char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  unsigned char random[8] = {};
  platform::SystemRandomBytes(random, sizeof random);  // a clash only costs another try
  std::string name = target + ".tmp-";
  for (unsigned char r : random) name += alphabet[r % (sizeof alphabet - 1)];
  return name;
}

// The file that saving must replace: the target of a symbolic link rather than the link itself,
// so that a linked .htpasswd is updated where it really lives.
std::string ResolveTarget(const std::string& path) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : path;
}

// Reads up to `size` bytes from the file's current offset; fewer if it ends sooner. False, with
// errno set, when a read fails: a read error must not pass for a shorter file.
bool ReadUpTo(int fd, std::size_t size, std::string& bytes) {
  bytes.assign(size, '\0');
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = platform::Files().Read(fd, bytes.data() + got, size - got);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) return false;
    if (n == 0) break;  // the file shrank since its size was taken
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return true;
}

bool WriteAll(int fd, std::string_view bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = platform::Files().Write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

// Makes the open file hold exactly `bytes` and flushes it.
bool Overwrite(int fd, std::string_view bytes) {
  return WriteAll(fd, bytes) && platform::Files().Ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 &&
         platform::Files().Fsync(fd) == 0;
}

// Writes the file where it lies, for when it cannot be replaced: its folder takes no new files, or
// other hard links share it. `fd` is the file open for writing at its start. The old bytes are
// held in memory and put back if any step fails, so a failure still loses nothing (unless the
// disk refuses the old bytes too).
void WriteInPlace(const std::string& path, const std::string& target, FileDescriptor& fd, std::string_view bytes) {
  platform::FileCalls& files = platform::Files();
  std::string old;
  {
    // A file we may write but not read cannot be written safely this way, so it is left alone.
    FileDescriptor reader(files.Open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0));
    struct stat st{};
    if (reader.get() < 0 || files.Fstat(reader.get(), &st) != 0 ||
        !ReadUpTo(reader.get(), static_cast<std::size_t>(st.st_size), old))
      throw EFCreateError(path, errno);
  }
  if (Overwrite(fd.get(), bytes) && fd.Close() == 0) return;
  fd.Close();
  FileDescriptor restore(files.Open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0));
  if (restore.get() >= 0) Overwrite(restore.get(), old);  // the failure to report is the first one
  throw EWriteError();
}

// A rename is recorded in the folder, which has its own data to flush: until it is on disk, a
// power cut can bring the old file back after the save was reported done.
void FlushFolder(const std::string& target) {
  platform::FileCalls& files = platform::Files();
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  FileDescriptor fd(files.Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  // A folder we may write but not list (mode -wx) cannot be opened to flush. The file is saved by
  // then, and refusing every save into such a folder would be a failure nobody can mend; the
  // kernel writes the entry back in its own time, as it does for any file written in place.
  if (fd.get() < 0 && (errno == EACCES || errno == EPERM)) return;
  // EINVAL: the file system has no flush for a folder (some network and FUSE ones), so there is
  // nothing to wait for. Any other failure means the new name may not be on disk: report it rather
  // than claim a save a power cut could undo; saving again is safe.
  if (fd.get() < 0 || (files.Fsync(fd.get()) != 0 && errno != EINVAL)) throw EWriteError();
}

}  // namespace

std::string ReadFileBytes(const std::string& path) {
  platform::FileCalls& files = platform::Files();
  // Non-blocking, so that opening a FIFO returns at once instead of waiting for a writer.
  FileDescriptor fd(files.Open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0));
  if (fd.get() < 0) throw EFOpenError(path, errno);
  struct stat st{};
  if (files.Fstat(fd.get(), &st) != 0) throw EFOpenError(path, errno);
  if (S_ISDIR(st.st_mode)) throw EFOpenError(path, EISDIR);
  if (!S_ISREG(st.st_mode)) throw EFOpenError(path, messages::SNotRegularFile);
  std::string bytes;
  // Half a user list must not load without a word.
  if (!ReadUpTo(fd.get(), static_cast<std::size_t>(st.st_size), bytes)) throw EFOpenError(path, errno);
  return bytes;
}

void WriteFileBytes(const std::string& path, std::string_view bytes, FileAccess access) {
  platform::FileCalls& files = platform::Files();
  const std::string target = ResolveTarget(path);

  struct stat old{};
  const bool replacing = files.Stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  const mode_t create_mode = (replacing || access == FileAccess::OwnerOnly) ? 0600 : 0666;

  // A rename replaces a file whatever its own permissions say, so first the kernel is asked
  // whether this user may write the file at all: one made read-only stays as it is, just as
  // writing it in place would leave it, while root, whom the kernel lets write it, is not refused.
  // Non-blocking, so that a FIFO put in its place meanwhile cannot hang the save.
  FileDescriptor existing(replacing ? files.Open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0) : -1);
  if (replacing && existing.get() < 0) throw EFCreateError(path, errno);
  // A new file under this name would leave the other hard links with the old text.
  if (replacing && old.st_nlink > 1) return WriteInPlace(path, target, existing, bytes);

  std::string temporary;
  int raw_fd = -1;
  for (int attempt = 0; attempt < 16 && raw_fd < 0; ++attempt) {
    temporary = TemporaryName(target);
    raw_fd = files.Open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, create_mode);
    if (raw_fd < 0 && errno != EEXIST) break;
  }
  // A folder that takes no new files may still let its files be written: a common layout on
  // shared web hosts, where .htpasswd and its neighbours are made once by the administrator.
  if (raw_fd < 0 && replacing && (errno == EACCES || errno == EPERM))
    return WriteInPlace(path, target, existing, bytes);
  if (raw_fd < 0) throw EFCreateError(path, errno);
  FileDescriptor fd(raw_fd);

  // From here on every failure removes the temporary file and leaves the target as it was.
  struct Cleanup {
    const std::string& name;
    bool armed = true;
    ~Cleanup() {
      if (armed) platform::Files().Unlink(name.c_str());
    }
  } cleanup{temporary};

  if (replacing) {
    // The new file takes the old one's place with the old one's permissions and, where we may
    // set it, its owner.
    files.Fchown(fd.get(), old.st_uid, old.st_gid);
    if (files.Fchmod(fd.get(), old.st_mode & 07777) != 0) throw EFCreateError(path, errno);
  }
  if (!WriteAll(fd.get(), bytes) || files.Fsync(fd.get()) != 0 || fd.Close() != 0) throw EWriteError();
  if (files.Rename(temporary.c_str(), target.c_str()) != 0) throw EFCreateError(path, errno);
  cleanup.armed = false;
  FlushFolder(target);
}

}  // namespace text

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

  std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = files.Read(fd.get(), bytes.data() + got, bytes.size() - got);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    // A read error must not pass for a shorter file: half a user list would load without a word.
    if (n < 0) throw EFOpenError(path, errno);
    if (n == 0) break;  // the file shrank since its size was taken
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

void WriteFileBytes(const std::string& path, std::string_view bytes, FileAccess access) {
  platform::FileCalls& files = platform::Files();
  const std::string target = ResolveTarget(path);

  struct stat old{};
  const bool replacing = files.Stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  const mode_t create_mode = (replacing || access == FileAccess::OwnerOnly) ? 0600 : 0666;

  std::string temporary;
  int raw_fd = -1;
  for (int attempt = 0; attempt < 16 && raw_fd < 0; ++attempt) {
    temporary = TemporaryName(target);
    raw_fd = files.Open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, create_mode);
    if (raw_fd < 0 && errno != EEXIST) break;
  }
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

  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = files.Write(fd.get(), bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EWriteError();
    written += static_cast<std::size_t>(n);
  }
  if (files.Fsync(fd.get()) != 0) throw EWriteError();
  if (fd.Close() != 0) throw EWriteError();
  if (files.Rename(temporary.c_str(), target.c_str()) != 0) throw EFCreateError(path, errno);
  cleanup.armed = false;
}

}  // namespace text

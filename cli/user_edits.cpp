// Users changed in an .htpasswd: names and passwords as a server compares them, the file read as
// it stood, and the edited file saved only if nobody changed it meanwhile.
#include "cli/user_edits.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "cli/lock.h"
#include "cli/terminal.h"
#include "core/save_set.h"
#include "platform/cp932.h"
#include "platform/system.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace cli {
namespace {

std::uint64_t Fnv1a(std::uint64_t hash, std::string_view bytes) {
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return hash;
}

}  // namespace

std::string UserName(std::string_view utf8, bool utf8_mode, bool maintainable) {
  std::string name = utf8_mode ? (RequireUtf8(utf8), std::string(utf8)) : TableText(utf8);
  const std::string_view problem = core::NameProblem(name);
  // A control byte or ':' can be no name a server reads: refused even for a removal.
  if (!problem.empty() && (!maintainable || problem == messages::SNameControl))
    throw TFailure(ExitCode::BadInput, platform::Cp932ToUtf8(problem));
  return name;
}

std::string Password(std::string_view utf8, bool utf8_mode) {
  std::string password = utf8_mode ? (RequireUtf8(utf8), std::string(utf8)) : TableText(utf8);
  if (const std::string_view problem = core::PasswordProblem(password); !problem.empty())
    throw TFailure(ExitCode::BadInput, platform::Cp932ToUtf8(problem));
  return password;
}

TFileReader::TFileReader(const std::string& path, bool missing_ok) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0 && !(missing_ok && errno == ENOENT)) throw text::EFOpenError(path, errno);
  if (fd_ >= 0 && (::fstat(fd_, &st_) != 0 || !S_ISREG(st_.st_mode))) {
    ::close(fd_);
    throw TFailure(ExitCode::BadInput, text::Utf8Message(messages::SNotRegularFileNamed, {Shown(path)}));
  }
}

TFileReader::~TFileReader() {
  if (fd_ >= 0) ::close(fd_);
}

std::function<std::size_t(char*, std::size_t)> TFileReader::Read() {
  return [this](char* buffer, std::size_t size) -> std::size_t {
    if (fd_ < 0) return 0;
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0) {
        hash_ = Fnv1a(hash_, {buffer, static_cast<std::size_t>(n)});
        length_ += static_cast<std::uint64_t>(n);
        return static_cast<std::size_t>(n);
      }
      if (errno != EINTR) throw text::EFOpenError(path_, errno);
    }
  };
}

bool TFileReader::Unchanged(bool again) const {
  const auto same = [&](const struct stat& now) {
    return now.st_dev == st_.st_dev && now.st_ino == st_.st_ino && now.st_size == st_.st_size &&
           now.st_mtim.tv_sec == st_.st_mtim.tv_sec && now.st_mtim.tv_nsec == st_.st_mtim.tv_nsec;
  };
  struct stat now{};
  if (::stat(path_.c_str(), &now) != 0) return fd_ < 0 && errno == ENOENT;
  if (fd_ < 0 || !same(now)) return false;
  if (!again) return true;
  // A program that rewrites the file where it lies, without a lock, leaves its inode alone: only
  // its size, time and bytes tell. One reading that saw it half written differs from the other.
  struct stat after{};
  if (::fstat(fd_, &after) != 0 || !same(after) || static_cast<std::uint64_t>(now.st_size) != length_) return false;
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  std::uint64_t hash = 14695981039346656037ull, length = 0;
  char buffer[65536];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) hash = Fnv1a(hash, {buffer, static_cast<std::size_t>(n)}), length += static_cast<std::uint64_t>(n);
  const bool whole = n == 0 && ::fstat(fd, &after) == 0 && same(after);
  ::close(fd);
  return whole && hash == hash_ && length == length_;
}

core::TEditedFile ChangeUsers(const std::string& path, const std::vector<core::TUserChange>& changes, TWait wait,
                              const std::function<std::vector<core::TFileToSave>()>& before_save) {
  // From before the file is read until it is saved: a concurrent command waits, then reads our result.
  const TFolderLock lock(path, wait);
  RecoverFolder(platform::FolderOf(path));
  TFileReader file(path, true);
  core::TEditedFile edited = core::EditUsers(file.Read(), changes);
  if (!edited.missing.empty()) {
    for (const std::string& name : edited.missing) Complain(NoSuchUser(Shown(name)));
    throw TFailure(ExitCode::UnknownUser, "");
  }
  for (const core::TEditedFile::TAlsoGone& gone : edited.also_gone) {
    const std::string_view server = hashes::ServerName(gone.server);
    Complain(FileLine(path, gone.line) + text::Utf8Message(messages::SAlsoGone, {Shown(gone.name), server, server}));
  }
  const auto changed = [&] {
    return TFailure(ExitCode::BadInput, text::Utf8Message(messages::SChangedWhileReading, {Shown(path)}));
  };
  // Before new passwords are shown: one that would not be saved is better never shown.
  if (!file.Unchanged(false)) throw changed();
  // The new file is lent to the save, not copied: for a file of millions of users a copy would
  // double the memory the command needs.
  std::vector<core::TFileToSave> files;
  files.push_back({path, std::move(edited.bytes), core::FileKind::Public});
  if (before_save) {
    std::vector<core::TFileToSave> extra = before_save();
    files.insert(files.end(), std::make_move_iterator(extra.begin()), std::make_move_iterator(extra.end()));
  }
  const TSignalsHeld held;
  // The last thing before the file is replaced or written: a writer that replaced it, or rewrote
  // it where it lies, while the new file was written and flushed is not saved over.
  core::SaveFileSet(files, [&](const core::TFileToSave& saving) {
    if (&saving == &files.front() && !file.Unchanged()) throw changed();
  });
  edited.bytes = std::move(files.front().bytes);
  return edited;
}

}  // namespace cli

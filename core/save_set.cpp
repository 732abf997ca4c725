#include "core/save_set.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <string_view>
#include <tuple>
#include <sys/file.h>
#include <unistd.h>

#include "platform/file_ops.h"
#include "platform/system.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace core {
namespace {

using platform::ReadUpTo;
using platform::TFileDescriptor;

// Non-blocking, so that a FIFO put in a file's place cannot hang the save.
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
constexpr int kWriteFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY;
constexpr int kMaxLinks = 40;  // as many as the kernel follows before it answers ELOOP
constexpr char kAccessAcl[] = "system.posix_acl_access";

// One file of the set on its way: what was found at the check, and every trace the save has left
// so far, so that a failure at any step can undo exactly what was done.
struct TTarget {
  const TFileToSave* file = nullptr;
  std::string target;  // the path, or where its symbolic links lead; absolute
  bool existed = false;
  struct stat old{};
  TFileDescriptor writer;  // the existing file, open for writing since the check
  std::string temp_name;   // where the new file is written, named in the journal before it is made
  std::string backup_name; // where the old file is kept, likewise
  std::string temporary;   // the new file beside the target while it is there
  std::string backup;      // a hidden hard link to the old file while the set is committed
  bool renamed = false;
  bool in_place = false;
  std::string old_bytes;   // in place: what to put back
  std::size_t from = 0, to = 0;  // in place: the bytes written (see ChangedLines)
  bool padded = false;     // in place: the file lengthened to the longer text
  int stage = 0;           // in place: the last state begun (see State)
  bool tightened = false;  // in place, Secret: made 0600 without ACL; the old ACL follows
  std::string old_acl;
  bool had_acl = false;
};

std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// "^\.ht" hides the file from Apache whatever the target's name, passwd.txt included.
std::string HiddenPrefix(const std::string& target, std::string_view kind) {
  return platform::FolderOf(target) + "/.ht." + NameOf(target) + "." + std::string(kind) + "-";
}

std::string RandomSuffix() {
  static constexpr char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  unsigned char random[8] = {};
  platform::SystemRandomBytes(random, sizeof random);  // a clash only costs another try
  std::string suffix;
  for (unsigned char r : random) suffix += alphabet[r % (sizeof alphabet - 1)];
  return suffix;
}

// Makes a new entry named `prefix` and a random suffix with `make`, trying other suffixes while
// the name is taken. False, with errno set and `name` empty, when it cannot.
template <class Make>
bool MakeUnique(const std::string& prefix, std::string& name, const Make& make) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    name = prefix + RandomSuffix();
    if (make(name.c_str())) return true;
    if (errno != EEXIST) break;
  }
  name.clear();
  return false;
}

// A new 0600 file, open for writing, or -1.
int CreateUnique(const std::string& prefix, std::string& name) {
  int fd = -1;
  MakeUnique(prefix, name, [&](const char* path) {
    fd = platform::Files().Open(path, kCreateFlags, 0600);
    return fd >= 0;
  });
  return fd;
}

bool WriteAll(int fd, std::string_view bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = platform::Files().Write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAllAt(int fd, std::string_view bytes, std::size_t at) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = platform::Files().Pwrite(fd, bytes.data() + written, bytes.size() - written,
                                               static_cast<off_t>(at + written));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

// 0 and the value of attribute `name`; ENODATA when the file has none (or its file system keeps
// none); another errno when it cannot be read.
int GetAttribute(int fd, const char* name, std::string& value) {
  value.assign(256, '\0');
  ssize_t n = platform::Files().Fgetxattr(fd, name, value.data(), value.size());
  if (n < 0 && errno == ERANGE) {
    value.assign(65536, '\0');  // the kernel's largest value
    n = platform::Files().Fgetxattr(fd, name, value.data(), value.size());
  }
  if (n < 0) return errno == ENODATA || errno == ENOTSUP ? ENODATA : errno;
  value.resize(static_cast<std::size_t>(n));
  return 0;
}

// 0 and the attribute names of the file, or the errno of the failure.
int ListAttributes(int fd, std::vector<std::string>& names) {
  std::string list(4096, '\0');
  ssize_t n = platform::Files().Flistxattr(fd, list.data(), list.size());
  if (n < 0 && errno == ERANGE) {
    list.assign(65536, '\0');  // the kernel's longest list
    n = platform::Files().Flistxattr(fd, list.data(), list.size());
  }
  if (n < 0) return errno == ENOTSUP ? 0 : errno;
  for (std::size_t start = 0, end = 0; start < static_cast<std::size_t>(n); start = end + 1) {
    end = list.find('\0', start);
    names.push_back(list.substr(start, end - start));
  }
  return 0;
}

// Leaves the file without an access ACL, so that its mode alone says who may read it. False, with
// errno set, when that cannot be done.
bool DropAcl(int fd) {
  std::string acl;
  const int got = GetAttribute(fd, kAccessAcl, acl);
  if (got == ENODATA) return true;
  if (got != 0) return errno = got, false;
  return platform::Files().Fremovexattr(fd, kAccessAcl) == 0;
}

// The access ACL and every extended attribute of `from` onto `to`. The ACL travels as the bytes of
// its attribute, which is exactly what the kernel keeps.
bool CopyAttributes(int from, int to) {
  platform::TFileCalls& files = platform::Files();
  std::string value, present;
  const int acl = GetAttribute(from, kAccessAcl, value);
  // Without one of its own, the new file may still have taken one from its folder's default ACL.
  if (acl == 0 ? files.Fsetxattr(to, kAccessAcl, value.data(), value.size(), 0) != 0 : acl != ENODATA || !DropAcl(to))
    return false;
  std::vector<std::string> names;
  if (ListAttributes(from, names) != 0) return false;
  for (const std::string& name : names) {
    if (name.starts_with("system.posix_acl_")) continue;  // the ACL, done above
    const int got = GetAttribute(from, name.c_str(), value);
    if (got == ENODATA) continue;  // removed meanwhile
    if (got != 0) return false;
    // A security label the system gives every new file alike may be there already, and setting it
    // could need a privilege that is not ours.
    if (GetAttribute(to, name.c_str(), present) == 0 && present == value) continue;
    if (files.Fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) return false;
  }
  return true;
}

text::Exception NotRegularFile(const std::string& path) {
  return text::Exception(
      text::FormatMessage(messages::SFCreateErrorEx, {text::PathForMessage(path), messages::SNotRegularFile}));
}

// The file that saving must write: `path`, or where its symbolic links lead, with its lstat in
// `st`; `exists` false when there is no file yet. A link is followed only when it belongs to this
// user, to root or to the owner of its folder: the kernel's protected_symlinks rule, applied here in
// every folder, so that a stranger's link cannot make us write a file of our own that it names.
// Root follows a link only when it is root's or that of the file's own owner.
std::string Resolve(const std::string& path, struct stat& st, bool& exists) {
  platform::TFileCalls& files = platform::Files();
  std::string current = path;
  std::vector<std::pair<std::string, uid_t>> strangers;  // links not root's, followed as root
  for (int links = 0;; ++links) {
    if (files.Lstat(current.c_str(), &st) != 0) {
      if (errno != ENOENT) throw text::EFCreateError(path, errno);
      // Saving there would put a file in the link's place or into some folder the link names.
      if (links > 0)
        throw text::Exception(text::FormatMessage(messages::SDanglingLink,
                                                  {text::PathForMessage(path), text::PathForMessage(current)}));
      exists = false;
      return current;
    }
    if (!S_ISLNK(st.st_mode)) {
      // As root, a link of another user's leads only to that user's own file.
      for (const auto& [link, owner] : strangers)
        if (owner != st.st_uid)
          throw text::Exception(text::FormatMessage(messages::SUnsafeLink, {text::PathForMessage(link)}));
      exists = true;
      return current;
    }
    if (links == kMaxLinks) throw text::EFCreateError(path, ELOOP);
    const std::string folder = platform::FolderOf(current);
    struct stat holder{};
    // Root heeds no folder owner: a link its owner made into a folder only root may write would
    // hand that owner root's file. Such a link waits for the file it leads to.
    if (geteuid() == 0 && st.st_uid != 0) strangers.emplace_back(current, st.st_uid);
    else if (st.st_uid != geteuid() && st.st_uid != 0 &&
             (files.Stat(folder.c_str(), &holder) != 0 || holder.st_uid != st.st_uid))
      throw text::Exception(text::FormatMessage(messages::SUnsafeLink, {text::PathForMessage(current)}));
    char to[4096];
    const ssize_t n = files.Readlink(current.c_str(), to, sizeof to);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof to)
      throw text::EFCreateError(path, n < 0 ? errno : ENAMETOOLONG);
    const std::string_view next(to, static_cast<std::size_t>(n));
    current = next.starts_with('/') ? std::string(next) : folder + "/" + std::string(next);
  }
}

// Whether someone else may make or remove files in the folder: another owner, or write for the
// group or others. A folder that cannot be asked refuses the save of `path` with the system's reason.
bool OthersMayWrite(const std::string& folder, const std::string& path) {
  struct stat st{};
  if (platform::Files().Stat(folder.c_str(), &st) != 0) throw text::EFCreateError(path, errno);
  return st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// Everything that may refuse the save before any file is touched.
void Check(const TFileToSave& file, TTarget& t) {
  platform::TFileCalls& files = platform::Files();
  t.file = &file;
  struct stat st{};
  t.target = Resolve(file.path, st, t.existed);
  // The journal names files by absolute paths, for a run started elsewhere to find them.
  if (!t.target.starts_with('/')) {
    char here[4096];
    if (!::getcwd(here, sizeof here)) throw text::EFCreateError(file.path, errno);
    t.target = std::string(here) + "/" + t.target;
  }
  if (!t.existed) return;
  if (S_ISDIR(st.st_mode)) throw text::EFCreateError(file.path, EISDIR);
  if (!S_ISREG(st.st_mode)) throw NotRegularFile(file.path);
  // A rename replaces a file whatever its own permissions say, so first the kernel is asked
  // whether this user may write the file at all: one made read-only stays as it is, just as
  // writing it in place would leave it, while root, whom the kernel lets write it, is not refused.
  t.writer.Reset(files.Open(t.target.c_str(), kWriteFlags, 0));
  if (t.writer.get() < 0 || files.Fstat(t.writer.get(), &t.old) != 0) throw text::EFCreateError(file.path, errno);
  if (!S_ISREG(t.old.st_mode)) throw NotRegularFile(file.path);  // put in its place meanwhile
  // Clear text written into another's file would stay theirs to read.
  if (file.kind == FileKind::Secret && t.old.st_uid != geteuid())
    throw text::Exception(text::FormatMessage(messages::SForeignSecret, {text::PathForMessage(file.path)}));
  // Where another user may make files, one already there may have been put there for root to fill,
  // or be a second name of a file of theirs: root writes only files that are its own alone.
  if (geteuid() == 0 && (t.old.st_uid != 0 || t.old.st_nlink > 1) && OthersMayWrite(platform::FolderOf(t.target), file.path))
    throw text::Exception(text::FormatMessage(messages::SPlantedFile, {text::PathForMessage(file.path)}));
}

// Gives the new file its owner and permissions. False when it cannot have the old file's: the
// old file is then written where it lies instead.
bool FitOut(const TTarget& t, int fd) {
  platform::TFileCalls& files = platform::Files();
  const bool secret = t.file->kind == FileKind::Secret;
  if (t.existed && files.Fchown(fd, t.old.st_uid, t.old.st_gid) != 0) {
    // Only root may give a file away, or to a group its owner is not in. Another group would lock
    // out a server that reads the file through the old one; another owner would take it from its
    // owner. Neither may pass unnoticed.
    struct stat now{};
    if (files.Fstat(fd, &now) != 0 || now.st_uid != t.old.st_uid || (!secret && now.st_gid != t.old.st_gid))
      return false;
  }
  if (secret) {
    // Its folder's default ACL must not open clear-text passwords to anybody else.
    if (!DropAcl(fd) || files.Fchmod(fd, 0600) != 0) throw text::EFCreateError(t.file->path, errno);
    return true;
  }
  if (t.existed) return files.Fchmod(fd, t.old.st_mode & 07777) == 0 && CopyAttributes(t.writer.get(), fd);
  // Whatever the umask says: a server that cannot read the file refuses every login.
  if (files.Fchmod(fd, 0644) != 0) throw text::EFCreateError(t.file->path, errno);
  return true;
}

// A failure to write or flush `path`, after which the save puts every file back: a full disk is
// said in so many words, as the system's text may not be in the user's language.
text::Exception WriteFailure(const std::string& path, int error) {
  if (error == ENOSPC)
    return text::Exception(text::FormatMessage(messages::SDiskFull, {text::PathForMessage(path)}), {path, 0, error});
  return text::Exception(
      text::FormatMessage(messages::SWriteFailed, {text::PathForMessage(path), platform::SystemErrorText(error)}),
      {path, 0, error});
}

text::Exception Failure(std::string_view format, const std::string& path, int error) {
  return text::Exception(text::FormatMessage(format, {text::PathForMessage(path), platform::SystemErrorText(error)}),
                         {path, 0, error});
}

// A rename is recorded in the folder, which has its own data to flush: until it is on disk, a
// power cut can bring the old file back after the save was reported done.
void FlushFolder(const std::string& folder) {
  platform::TFileCalls& files = platform::Files();
  TFileDescriptor fd(files.Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  // A folder we may write but not list (mode -wx) cannot be opened to flush; the kernel writes its
  // entries back in its own time, and refusing every save into it would be a failure nobody can
  // mend. EINVAL: the file system has no flush for a folder, so there is nothing to wait for.
  if (fd.get() < 0 && (errno == EACCES || errno == EPERM)) return;
  if (fd.get() < 0 || (files.Fsync(fd.get()) != 0 && errno != EINVAL)) throw WriteFailure(folder, errno);
}

// Makes the folder and any missing folders above it, 0700 as the state folder must be.
bool MakeFolder(const std::string& folder) {
  platform::TFileCalls& files = platform::Files();
  if (files.Mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) return true;
  if (errno != ENOENT || platform::FolderOf(folder) == folder || !MakeFolder(platform::FolderOf(folder))) return false;
  return files.Mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

// --- The journal -----------------------------------------------------------------------------
// Before a save changes anything a server reads, it records in a journal which files it changes,
// where it keeps each old file, and, for a file written in place, the old and the new bytes. The
// next run of either front end finds a journal left by a save that was cut off and undoes that
// save (RecoverCutSaves), so that no crash leaves a file between two texts for longer than that.
// A journal is a series of records "tag index length\n" + bytes + "\n", appended in this order:
// per file "file" (its absolute path), "existed", "temp", "backup"; then "ready", after which the
// save may make files; per file written in place "old", "new", "mode", then "inplace", after which
// it may write that file. A record cut short ends the journal.
// The folder of journals is locked shared by every save while it runs and exclusively by a
// recovery, so that a recovery never takes a running save for a dead one.

void AddRecord(std::string& out, std::string_view tag, std::size_t index, std::string_view bytes) {
  out.append(tag).append(" ").append(std::to_string(index)).append(" ").append(std::to_string(bytes.size()));
  out.append("\n").append(bytes).append("\n");
}

struct TJournalFile {
  std::string target, temp, backup, old_bytes, new_bytes;
  bool existed = false, in_place = false;
  mode_t mode = 0;
};

// The files of a journal, and whether the save had reached "ready".
bool ParseJournal(std::string_view bytes, std::vector<TJournalFile>& out) {
  bool ready = false;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    if (end == std::string_view::npos) break;
    const std::string head(bytes.substr(0, end));
    char tag[16] = {};
    unsigned long index = 0, size = 0;
    // The head is our own writing: a field that does not convert leaves the journal unread, as a torn one.
    if (std::sscanf(head.c_str(), "%15s %lu %lu", tag, &index, &size) != 3 || bytes.size() < end + 2 + size ||  // NOLINT(cert-err34-c)
        bytes[end + 1 + size] != '\n' || index > out.size() || (index == out.size() && std::string_view(tag) != "file"))
      break;
    const std::string value(bytes.substr(end + 1, size));
    bytes.remove_prefix(end + 2 + size);
    const std::string_view name = tag;
    if (name == "file") {
      if (index == out.size()) out.emplace_back();
      out[index].target = value;
    } else if (name == "existed") out[index].existed = value == "1";
    else if (name == "temp") out[index].temp = value;
    else if (name == "backup") out[index].backup = value;
    else if (name == "ready") ready = true;
    else if (name == "old") out[index].old_bytes = value;
    else if (name == "new") out[index].new_bytes = value;
    else if (name == "mode") out[index].mode = static_cast<mode_t>(std::strtoul(value.c_str(), nullptr, 8));
    else if (name == "inplace") out[index].in_place = true;
  }
  return ready;
}

// The folder the journal of a save of `file` goes to: the state folder, else a hidden folder of
// this user's beside the file. Throws, naming the file, when neither can be had.
std::string JournalFolder(const std::string& file, const std::string& shown) {
  platform::TFileCalls& files = platform::Files();
  std::string state = StateFolder();
  if (MakeFolder(state)) return state;
  // Only a folder that is not ours to make sends the journal elsewhere; a failing disk is told.
  if (errno != EACCES && errno != EPERM && errno != EROFS && errno != ENOENT && errno != ENOTDIR && errno != EEXIST)
    throw text::EFCreateError(state, errno);
  std::string hidden = platform::FolderOf(file) + "/.ht.vastelo";
  struct stat st{};
  if (files.Mkdir(hidden.c_str(), 0700) != 0 && errno != EEXIST) {
    const int error = errno;
    throw text::Exception(text::FormatMessage(messages::SNoStatePlace, {text::PathForMessage(shown), text::PathForMessage(state),
                                                                        text::PathForMessage(hidden), platform::SystemErrorText(error)}),
                          {shown, 0, error});
  }
  // Somebody else's folder under our name would see the old passwords.
  if (files.Lstat(hidden.c_str(), &st) != 0) throw text::EFCreateError(hidden, errno);
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0) throw text::EFCreateError(hidden, EPERM);
  return hidden;
}

class TJournal {
 public:
  // Records the set's files and the names of the files the save will make, before it makes any.
  void Begin(std::vector<TTarget>& targets) {
    platform::TFileCalls& files = platform::Files();
    folder_ = JournalFolder(targets.front().target, targets.front().file->path);
    lock_.Reset(files.Open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (lock_.get() < 0 || files.Flock(lock_.get(), LOCK_SH) != 0) throw text::EFCreateError(folder_, errno);
    std::string records;
    for (std::size_t i = 0; i < targets.size(); ++i) {
      TTarget& t = targets[i];
      t.temp_name = HiddenPrefix(t.target, "tmp") + RandomSuffix();
      if (t.existed) t.backup_name = HiddenPrefix(t.target, "old") + RandomSuffix();
      AddRecord(records, "file", i, t.target);
      AddRecord(records, "existed", i, t.existed ? "1" : "0");
      AddRecord(records, "temp", i, t.temp_name);
      AddRecord(records, "backup", i, t.backup_name);
    }
    AddRecord(records, "ready", 0, "");
    fd_.Reset(CreateUnique(folder_ + "/journal-", path_));
    if (fd_.get() < 0) throw text::EFCreateError(folder_, errno);
    try {
      Append(records);
      FlushFolder(folder_);
    } catch (const text::Exception&) {
      int ignored = 0;
      Remove(ignored);  // nothing is changed yet: a journal left here would only be tidied away
      throw;
    }
  }
  // Adds records and flushes them.
  void Append(std::string_view records) {
    if (!WriteAll(fd_.get(), records) || platform::Files().Fsync(fd_.get()) != 0) throw WriteFailure(path_, errno);
  }
  // The save stands, or is wholly undone: the journal goes. False, with errno set, when it is
  // still there; once it is gone, a failure to flush its folder is left in `flush_error`.
  bool Remove(int& flush_error) {
    if (path_.empty()) return true;
    fd_.Close();
    if (platform::Files().Unlink(path_.c_str()) != 0) return false;
    path_.clear();
    try {
      FlushFolder(folder_);
    } catch (const text::Exception& failure) {
      flush_error = failure.Facts().error;
    }
    return true;
  }
  // After a failure that a later Remove() cannot mend: the journal stays for the next run.
  void Keep() {
    fd_.Close();
    path_.clear();
  }
  const std::string& Path() const { return path_; }

 private:
  std::string folder_, path_;
  TFileDescriptor lock_, fd_;
};

// Whether `name` is a file a save of ours makes beside a target: ".ht.NAME.tmp-XXXXXXXX" or
// ".ht.NAME.old-XXXXXXXX".
bool IsOurLeftover(std::string_view name) {
  constexpr std::size_t kSuffix = 8;
  if (!name.starts_with(".ht.") || name.size() < 4 + 5 + kSuffix) return false;
  const std::string_view kind = name.substr(name.size() - kSuffix - 5, 5);
  if (kind != ".tmp-" && kind != ".old-") return false;
  const std::string_view suffix = std::string_view(name).substr(name.size() - kSuffix);
  return std::all_of(suffix.begin(), suffix.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// The links to the target beyond its own name that are no old copies of ours, kept by a save that
// was cut off: a leftover of ours must not make the file look shared.
nlink_t ForeignLinks(const TTarget& t) {
  platform::TFileCalls& files = platform::Files();
  nlink_t links = t.old.st_nlink - 1;
  std::vector<std::string> names;
  const std::string folder = platform::FolderOf(t.target), prefix = ".ht." + NameOf(t.target) + ".old-";
  if (links == 0 || files.ListFolder(folder.c_str(), names) != 0) return links;
  for (const std::string& name : names) {
    struct stat st{};
    if (name.starts_with(prefix) && IsOurLeftover(name) && files.Lstat(std::string(folder).append("/").append(name).c_str(), &st) == 0 &&
        st.st_ino == t.old.st_ino && st.st_dev == t.old.st_dev && links > 0)
      --links;
  }
  return links;
}

// --- Writing in place ------------------------------------------------------------------------

// The states an in-place write takes the file through, each flushed before the next is written.
// Servers read LF-ended lines and skip blank ones and those starting with '#'. A crash can leave
// any byte-by-byte mix of two neighbouring states on disk, and no mix may hold a line that names a
// user neither text has:
//   0 the old bytes                     1 the old bytes, every line's first byte made '#'
//   2 the old bytes, all but LF '#'     3 the new bytes, all but LF '#'
//   4 the new bytes, every line's first byte made '#'                    5 the new bytes
// 0-1 and 4-5 differ only in first bytes, so a mixed line is a line of that text, whole or
// commented; 1-2 and 3-4 keep every first byte '#'; 2-3 hold nothing but '#' and LF. Going from 1
// to 4 directly would not do: where the two texts end lines at other places, a line of the mix can
// begin inside a line of the other ("ce:hash" from "alice:hash"). Every state is padded with LF to
// the longer text, so no state ever ends inside a line of the other. Only the lines from the first
// that differs to the last that differs are ever written (ChangedLines): every other user keeps
// logging in throughout, so that adding a user at the end, or a new password of a hash as long as
// the old, shuts nobody else out even for a moment.
constexpr int kLastStage = 5;

// The bytes the two texts differ in, widened to whole lines: from the end of the lines they open
// with alike to the start of the lines they end with alike at the same places (only when they are
// as long; else to the end of the longer).
std::pair<std::size_t, std::size_t> ChangedLines(std::string_view a, std::string_view b) {
  std::size_t from = 0, to = std::max(a.size(), b.size());
  for (std::size_t i = 0; i < std::min(a.size(), b.size()) && a[i] == b[i]; ++i)
    if (a[i] == '\n') from = i + 1;
  if (a.size() == b.size())
    for (std::size_t i = a.size(); i > from && a[i - 1] == b[i - 1]; --i)
      if (a[i - 1] == '\n') to = i;
  return {from, to};
}

std::string State(int stage, const std::string& old_bytes, const std::string& new_bytes, std::size_t from, std::size_t to) {
  const std::string& bytes = stage <= 2 ? old_bytes : new_bytes;
  std::string state = bytes;
  state.resize(std::max(old_bytes.size(), new_bytes.size()), '\n');
  for (std::size_t i = from; i < std::min(to, bytes.size()); ++i) {
    const bool first = i == 0 || bytes[i - 1] == '\n';
    if (state[i] != '\n' && (stage == 2 || stage == 3 || ((stage == 1 || stage == 4) && first))) state[i] = '#';
  }
  return state;
}

// Writes the changed lines of a state, and flushes them.
bool WriteState(int fd, const std::string& state, std::size_t from, std::size_t to) {
  return WriteAllAt(fd, std::string_view(state).substr(from, to - from), from) && platform::Files().Fsync(fd) == 0;
}

// Before a file is written where it lies its old bytes go to memory, to put back after a failure,
// and to the journal, to survive a crash.
void PrepareInPlace(TTarget& t, std::size_t index, TJournal& journal) {
  platform::TFileCalls& files = platform::Files();
  t.in_place = true;
  {
    // A file we may write but not read cannot be written this way, so it is left alone.
    TFileDescriptor reader(files.Open(t.target.c_str(), kReadFlags, 0));
    struct stat st{};
    if (reader.get() < 0 || files.Fstat(reader.get(), &st) != 0 ||
        !ReadUpTo(reader.get(), static_cast<std::size_t>(st.st_size), t.old_bytes))
      throw text::EFCreateError(t.file->path, errno);
  }
  std::tie(t.from, t.to) = ChangedLines(t.old_bytes, t.file->bytes);
  std::string records;
  AddRecord(records, "old", index, t.old_bytes);
  AddRecord(records, "new", index, t.file->bytes);
  char mode[16];
  std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(t.old.st_mode & 07777));
  AddRecord(records, "mode", index, mode);
  AddRecord(records, "inplace", index, "");
  journal.Append(records);
}

// Everything up to the first change a server could see: the new file written and flushed beside
// the target with the old one kept under a second name, or the old bytes kept for an in-place write.
void Prepare(TTarget& t, std::size_t index, TJournal& journal) {
  platform::TFileCalls& files = platform::Files();
  // A new file under this name would leave the other hard links with the old text.
  if (t.existed && t.old.st_nlink > 1 && ForeignLinks(t) > 0) return PrepareInPlace(t, index, journal);
  TFileDescriptor fd(files.Open(t.temp_name.c_str(), kCreateFlags, 0600));
  if (fd.get() < 0) {
    // A folder that takes no new files may still let its files be written: a common layout on
    // shared web hosts, where .htpasswd and its neighbours are made once by the administrator.
    if (t.existed && (errno == EACCES || errno == EPERM)) return PrepareInPlace(t, index, journal);
    throw text::EFCreateError(t.file->path, errno);
  }
  t.temporary = t.temp_name;
  // The old file must stay at hand, under a hidden second name, until the whole set stands. A file
  // system without hard links cannot keep it so; the file is then written in place instead.
  if (!FitOut(t, fd.get()) || (t.existed && files.Link(t.target.c_str(), t.backup_name.c_str()) != 0)) {
    fd.Close();
    if (files.Unlink(t.temporary.c_str()) == 0) t.temporary.clear();
    return PrepareInPlace(t, index, journal);
  }
  if (t.existed) t.backup = t.backup_name;
  if (!WriteAll(fd.get(), t.file->bytes) || files.Fsync(fd.get()) != 0 || fd.Close() != 0)
    throw WriteFailure(t.file->path, errno);
}

void WriteInPlace(TTarget& t) {
  platform::TFileCalls& files = platform::Files();
  const int fd = t.writer.get();
  // The file keeps its inode, so clear-text passwords are shut in before they are written.
  if (t.file->kind == FileKind::Secret) {
    const int got = GetAttribute(fd, kAccessAcl, t.old_acl);
    if (got != 0 && got != ENODATA) throw text::EFCreateError(t.file->path, got);
    t.had_acl = got == 0;
    if (t.had_acl || (t.old.st_mode & 07777) != 0600) {
      t.tightened = true;
      if ((t.had_acl && files.Fremovexattr(fd, kAccessAcl) != 0) || files.Fchmod(fd, 0600) != 0)
        throw text::EFCreateError(t.file->path, errno);
    }
  }
  // The room for the longer text is taken first, as blank lines after the old ones: every later
  // write, and every write that puts the old text back, is then over bytes the file already has,
  // and a full disk is met while the old text is whole.
  if (t.file->bytes.size() > t.old_bytes.size()) {
    t.padded = true;
    if (!WriteAllAt(fd, std::string(t.file->bytes.size() - t.old_bytes.size(), '\n'), t.old_bytes.size()) ||
        files.Fsync(fd) != 0)
      throw WriteFailure(t.file->path, errno);
  }
  for (t.stage = 1; t.stage <= kLastStage; ++t.stage)
    if (!WriteState(fd, State(t.stage, t.old_bytes, t.file->bytes, t.from, t.to), t.from, t.to))
      throw WriteFailure(t.file->path, errno);
  t.stage = kLastStage;
}

// Walks an in-place file back through the states to its old bytes. False when some step fails.
bool RestoreInPlace(TTarget& t) {
  platform::TFileCalls& files = platform::Files();
  const int fd = t.writer.get();
  bool whole = true;
  for (int stage = t.stage; whole && stage > 0; --stage)
    whole = WriteState(fd, State(stage - 1, t.old_bytes, t.file->bytes, t.from, t.to), t.from, t.to);
  if (t.padded || t.stage > 0)
    whole = whole && files.Ftruncate(fd, static_cast<off_t>(t.old_bytes.size())) == 0 && files.Fsync(fd) == 0;
  if (t.tightened) {
    whole = files.Fchmod(fd, t.old.st_mode & 07777) == 0 && whole;
    if (t.had_acl) files.Fsetxattr(fd, kAccessAcl, t.old_acl.data(), t.old_acl.size(), 0);
  }
  return whole;
}

std::vector<std::string> RenamedFolders(const std::vector<TTarget*>& order) {
  std::vector<std::string> folders;
  for (const TTarget* t : order)
    if (t->renamed && std::find(folders.begin(), folders.end(), platform::FolderOf(t->target)) == folders.end())
      folders.push_back(platform::FolderOf(t->target));
  return folders;
}

void Commit(const std::vector<TTarget*>& order, const TLastCheck& last_check) {
  for (TTarget* t : order) {
    if (t->in_place) continue;
    if (last_check) last_check(*t->file);
    if (platform::Files().Rename(t->temporary.c_str(), t->target.c_str()) != 0)
      throw text::EFCreateError(t->file->path, errno);
    t->renamed = true;
    t->temporary.clear();
  }
  for (const std::string& folder : RenamedFolders(order)) FlushFolder(folder);
  for (TTarget* t : order)
    if (t->in_place) {
      if (last_check) last_check(*t->file);
      WriteInPlace(*t);
    }
}

// After a failure: every file back as it was, in the reverse order of the commit, and every trace
// of the save gone. False, with errno set, when some step fails: the journal then stays, for the
// next run to finish the undoing.
bool Undo(std::vector<TTarget>& targets, const std::vector<TTarget*>& order) {
  platform::TFileCalls& files = platform::Files();
  bool whole = true;
  int error = 0;
  const auto step = [&](bool done) {
    if (!done && whole) error = errno;
    whole = whole && done;
  };
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    TTarget& t = **it;
    if (t.in_place) step(RestoreInPlace(t));
    if (!t.renamed) continue;
    if (t.backup.empty()) {  // a file that was not there before
      step(files.Unlink(t.target.c_str()) == 0);
    } else if (files.Rename(t.backup.c_str(), t.target.c_str()) == 0) {
      t.backup.clear();
    } else {
      step(false);
    }
  }
  for (const std::string& folder : RenamedFolders(order)) {
    try {
      FlushFolder(folder);
    } catch (const text::Exception&) {
      step(false);
    }
  }
  for (TTarget& t : targets) {
    if (!t.temporary.empty()) step(files.Unlink(t.temporary.c_str()) == 0 || errno == ENOENT);
    // A renamed file's backup is its only old copy until it is back in place.
    if (!t.renamed && !t.backup.empty()) step(files.Unlink(t.backup.c_str()) == 0 || errno == ENOENT);
  }
  errno = error;
  return whole;
}

// --- Recovery --------------------------------------------------------------------------------

// Whether every byte of `now` is that byte of `a` or of `b`.
bool IsMix(std::string_view now, std::string_view a, std::string_view b) {
  if (now.size() != a.size() || now.size() != b.size()) return false;
  for (std::size_t i = 0; i < now.size(); ++i)
    if (now[i] != a[i] && now[i] != b[i]) return false;
  return true;
}

// Puts an in-place file back to its old bytes from whatever state a crash left it in, by the same
// steps as a failed save: each write is over bytes the file has, and any mix it leaves is one of
// two neighbouring states, which the next run takes back again.
void UndoInPlace(const TJournalFile& f) {
  platform::TFileCalls& files = platform::Files();
  TFileDescriptor fd(files.Open(f.target.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0));
  if (fd.get() < 0 && errno == ENOENT) return;  // removed since: nothing of ours is left in it
  struct stat st{};
  std::string now;
  if (fd.get() < 0 || files.Fstat(fd.get(), &st) != 0 || !ReadUpTo(fd.get(), static_cast<std::size_t>(st.st_size), now))
    throw Failure(messages::SRecoveryFailed, f.target, errno);
  const auto [from, to] = ChangedLines(f.old_bytes, f.new_bytes);
  int stage = -1;  // the old bytes, maybe with some of the padding after them
  if (now.size() < f.old_bytes.size() || now.compare(0, f.old_bytes.size(), f.old_bytes) != 0 ||
      now.find_first_not_of('\n', f.old_bytes.size()) != std::string::npos) {
    stage = kLastStage;
    for (int k = 0; k < kLastStage && stage == kLastStage; ++k)
      if (IsMix(now, State(k, f.old_bytes, f.new_bytes, from, to), State(k + 1, f.old_bytes, f.new_bytes, from, to)))
        stage = k;
    if (stage == kLastStage) return;  // written by somebody else since: theirs to keep
  }
  for (int k = stage; k >= 0; --k)
    if (!WriteState(fd.get(), State(k, f.old_bytes, f.new_bytes, from, to), from, to))
      throw Failure(messages::SRecoveryFailed, f.target, errno);
  if ((now.size() != f.old_bytes.size() && files.Ftruncate(fd.get(), static_cast<off_t>(f.old_bytes.size())) != 0) ||
      files.Fsync(fd.get()) != 0 || ((st.st_mode & 07777) != f.mode && files.Fchmod(fd.get(), f.mode) != 0))
    throw Failure(messages::SRecoveryFailed, f.target, errno);
}

bool Present(const std::string& path) {
  struct stat st{};
  if (platform::Files().Lstat(path.c_str(), &st) == 0) return true;
  if (errno != ENOENT) throw Failure(messages::SRecoveryFailed, path, errno);
  return false;
}

void RemoveIfPresent(const std::string& path) {
  if (platform::Files().Unlink(path.c_str()) != 0 && errno != ENOENT) throw Failure(messages::SRecoveryFailed, path, errno);
}

// Undoes one file of a save that was cut off. Every step may be repeated by a later run.
void UndoFile(const TJournalFile& f) {
  platform::TFileCalls& files = platform::Files();
  if (f.in_place) {
    UndoInPlace(f);
  } else if (f.existed) {
    // The old file under its hidden name goes back; if the new one never took its place, both
    // names are the same file, and renaming leaves the hidden one.
    if (!f.backup.empty() && Present(f.backup) && files.Rename(f.backup.c_str(), f.target.c_str()) != 0)
      throw Failure(messages::SRecoveryFailed, f.target, errno);
  } else if (!Present(f.temp) && Present(f.target)) {
    RemoveIfPresent(f.target);  // there only because the new file was renamed there
  }
  if (!f.backup.empty()) RemoveIfPresent(f.backup);
  RemoveIfPresent(f.temp);
}

// Undoes the save that `journal` records, unless it had changed nothing, and removes the journal.
// The paths of its files go to `undone`.
void UndoJournal(const std::string& journal, std::vector<std::string>& undone, std::string& tidied) {
  platform::TFileCalls& files = platform::Files();
  std::string bytes;
  {
    TFileDescriptor fd(files.Open(journal.c_str(), kReadFlags, 0));
    struct stat st{};
    if (fd.get() < 0 || files.Fstat(fd.get(), &st) != 0 || !ReadUpTo(fd.get(), static_cast<std::size_t>(st.st_size), bytes))
      throw Failure(messages::SRecoveryFailed, journal, errno);
  }
  std::vector<TJournalFile> set;
  if (ParseJournal(bytes, set)) {
    if (std::any_of(set.begin(), set.end(), [](const TJournalFile& f) { return f.target.empty() || f.temp.empty(); }))
      throw text::Exception(text::FormatMessage(messages::SJournalUnreadable, {text::PathForMessage(journal)}), {journal, 0, 0});
    // In the reverse of the save's order, so that passwd.txt goes back before the .htpasswd.
    for (auto it = set.rbegin(); it != set.rend(); ++it) UndoFile(*it);
    for (const TJournalFile& f : set) {
      const std::string folder = platform::FolderOf(f.target);
      try {
        if (!f.in_place) FlushFolder(folder);
      } catch (const text::Exception& failure) {
        throw Failure(messages::SRecoveryFailed, folder, failure.Facts().error);
      }
      if (std::find(undone.begin(), undone.end(), f.target) == undone.end()) undone.push_back(f.target);
    }
  } else if (tidied.empty()) {
    tidied = platform::FolderOf(journal);  // the save was cut off before it made anything
  }
  RemoveIfPresent(journal);
}

}  // namespace

std::string StateFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return std::string(state) + "/vastelo";
  const char* home = std::getenv("HOME");
  std::string base = home && home[0] == '/' ? home : "";
  if (base.empty()) {
    struct passwd entry{}, *found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found) base = found->pw_dir;
  }
  return base + "/.local/state/vastelo";
}

std::string SaveTarget(const std::string& path) {
  struct stat st{};
  bool exists = false;
  return Resolve(path, st, exists);
}

std::string RecoverCutSaves(const std::string& folder_given) {
  platform::TFileCalls& files = platform::Files();
  const std::string folder = platform::AbsolutePath(folder_given);
  std::vector<std::string> undone;
  std::string tidied;  // where leftovers of a save that changed nothing were removed
  TFileDescriptor locks[2];  // held until the folder's leftovers are gone too
  const std::string places[2] = {StateFolder(), folder + "/.ht.vastelo"};
  for (int i = 0; i < 2; ++i) {
    const std::string& place = places[i];
    if (i == 1 && place == places[0]) break;
    TFileDescriptor& lock = locks[i];
    lock.Reset(files.Open(place.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    // A folder we cannot open holds no journal of ours: we could not have written one there.
    if (lock.get() < 0 && (errno == ENOENT || errno == ENOTDIR || errno == EACCES)) continue;
    std::vector<std::string> names;
    if (lock.get() < 0 || files.Flock(lock.get(), LOCK_EX) != 0 || files.ListFolder(place.c_str(), names) != 0)
      throw Failure(messages::SRecoveryFailed, place, errno);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
      if (name.starts_with("journal-")) UndoJournal(std::string(place).append("/").append(name), undone, tidied);
  }
  // Files a save made and a crash left with no journal naming them: the save changed nothing, or
  // had finished. A folder we may not list can hold none of ours that we could have removed. One
  // that belongs to another user may be part of their save, running now under a journal we cannot
  // see; a leftover link of theirs does not send our saves in place (ForeignLinks).
  std::vector<std::string> names;
  if (files.ListFolder(folder.c_str(), names) != 0 && errno != EACCES && errno != ENOENT)
    throw Failure(messages::SRecoveryFailed, folder, errno);
  for (const std::string& name : names) {
    struct stat st{};
    const std::string path = std::string(folder).append("/").append(name);
    if (!IsOurLeftover(name)) continue;
    if (files.Lstat(path.c_str(), &st) != 0) {
      if (errno == ENOENT) continue;
      throw Failure(messages::SRecoveryFailed, path, errno);
    }
    if (st.st_uid != geteuid()) continue;
    RemoveIfPresent(path);
    tidied = folder;
  }
  if (!undone.empty()) {
    std::string paths;
    for (const std::string& path : undone) paths += (paths.empty() ? "" : "\", \"") + text::PathForMessage(path);
    return text::FormatMessage(messages::SSaveUndone, {paths});
  }
  return tidied.empty() ? "" : text::FormatMessage(messages::SLeftoversRemoved, {text::PathForMessage(tidied)});
}

void SaveFileSet(const std::vector<TFileToSave>& files, const TLastCheck& last_check) {
  if (files.empty()) return;
  std::vector<TTarget> targets(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) Check(files[i], targets[i]);
  TJournal journal;
  journal.Begin(targets);
  const std::string journal_path = journal.Path();
  int flush_error = 0;
  std::vector<TTarget*> order;
  try {
    for (std::size_t i = 0; i < targets.size(); ++i) Prepare(targets[i], i, journal);
    // The user's record of passwords last among the renamed files, so that no crash between two
    // renames leaves it listing passwords the server does not know yet; files written in place
    // after all of them, so that their failure part way can still take every renamed file back.
    for (const bool in_place : {false, true})
      for (const FileKind kind : {FileKind::Public, FileKind::Secret})
        for (TTarget& t : targets)
          if (t.in_place == in_place && t.file->kind == kind) order.push_back(&t);
    Commit(order, last_check);
    // The set stands once the journal is gone; a journal left would have the next run undo it.
    if (!journal.Remove(flush_error)) throw WriteFailure(journal_path, errno);
  } catch (const text::Exception& failure) {
    if (Undo(targets, order) && journal.Remove(flush_error)) throw;
    const int error = errno ? errno : failure.Facts().error;
    journal.Keep();
    throw Failure(messages::SNotUndone, failure.Facts().path.empty() ? files.front().path : failure.Facts().path, error);
  } catch (const std::exception&) {
    if (Undo(targets, order)) journal.Remove(flush_error);
    throw;
  }
  // What is left is only tidying, each failure of which is told.
  platform::TFileCalls& calls = platform::Files();
  int error = flush_error;
  std::string left = flush_error ? platform::FolderOf(journal_path) : "";
  for (TTarget& t : targets) {
    const bool shorter = t.in_place && t.file->bytes.size() < t.old_bytes.size();
    if ((!t.backup.empty() && calls.Unlink(t.backup.c_str()) != 0 && errno != ENOENT) ||
        (!t.temporary.empty() && calls.Unlink(t.temporary.c_str()) != 0 && errno != ENOENT) ||
        (shorter && (calls.Ftruncate(t.writer.get(), static_cast<off_t>(t.file->bytes.size())) != 0 ||
                     calls.Fsync(t.writer.get()) != 0)))
      if (left.empty()) error = errno, left = shorter ? t.target : !t.backup.empty() ? t.backup : t.temporary;
  }
  if (!left.empty()) throw Failure(messages::SCleanupFailed, left, error);
}

}  // namespace core

#include "core/save_set.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <string_view>
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
  std::string target;  // the path, or where its symbolic links lead
  bool existed = false;
  struct stat old{};
  TFileDescriptor writer;  // the existing file, open for writing since the check
  std::string temporary;   // the new file beside the target; gone once renamed
  std::string backup;      // a hidden hard link to the old file while the set is committed
  bool renamed = false;
  bool in_place = false;
  std::string old_bytes;   // in place: what to put back
  std::string state_copy;  // in place: the old bytes on disk, for a crash
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
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAllAtStart(int fd, std::string_view bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = platform::Files().Pwrite(fd, bytes.data() + written, bytes.size() - written,
                                               static_cast<off_t>(written));
    if (n < 0 && errno == EINTR) continue;
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
// group or others. Unknown counts as yes.
bool OthersMayWrite(const std::string& folder) {
  struct stat st{};
  return platform::Files().Stat(folder.c_str(), &st) != 0 || st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// Everything that may refuse the save before any file is touched.
void Check(const TFileToSave& file, TTarget& t) {
  platform::TFileCalls& files = platform::Files();
  t.file = &file;
  struct stat st{};
  t.target = Resolve(file.path, st, t.existed);
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
  if (geteuid() == 0 && (t.old.st_uid != 0 || t.old.st_nlink > 1) && OthersMayWrite(platform::FolderOf(t.target)))
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

// A rename is recorded in the folder, which has its own data to flush: until it is on disk, a
// power cut can bring the old file back after the save was reported done.
void FlushFolder(const std::string& folder) {
  platform::TFileCalls& files = platform::Files();
  TFileDescriptor fd(files.Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  // A folder we may write but not list (mode -wx) cannot be opened to flush; the kernel writes its
  // entries back in its own time, and refusing every save into it would be a failure nobody can
  // mend. EINVAL: the file system has no flush for a folder, so there is nothing to wait for.
  if (fd.get() < 0 && (errno == EACCES || errno == EPERM)) return;
  if (fd.get() < 0 || (files.Fsync(fd.get()) != 0 && errno != EINVAL)) throw text::EWriteError();
}

// Makes the folder and any missing folders above it, 0700 as the state folder must be.
bool MakeFolder(const std::string& folder) {
  platform::TFileCalls& files = platform::Files();
  if (files.Mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) return true;
  if (errno != ENOENT || platform::FolderOf(folder) == folder || !MakeFolder(platform::FolderOf(folder))) return false;
  return files.Mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

// Before a file is written where it lies its old bytes go to memory, to put back after a failure,
// and to the state folder, to survive a crash.
void PrepareInPlace(TTarget& t) {
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
  const std::string folder = StateFolder();
  if (!MakeFolder(folder)) throw text::EFCreateError(folder, errno);
  TFileDescriptor copy(CreateUnique(folder + "/" + NameOf(t.target) + ".old-", t.state_copy));
  if (copy.get() < 0) throw text::EFCreateError(folder, errno);
  if (!WriteAll(copy.get(), t.old_bytes) || files.Fsync(copy.get()) != 0 || copy.Close() != 0)
    throw text::EWriteError();
  FlushFolder(folder);
}

// Everything up to the first change a server could see: the new file written and flushed beside
// the target with the old one kept under a second name, or the old bytes kept for an in-place write.
void Prepare(TTarget& t) {
  platform::TFileCalls& files = platform::Files();
  // A new file under this name would leave the other hard links with the old text.
  if (t.existed && t.old.st_nlink > 1) return PrepareInPlace(t);
  TFileDescriptor fd(CreateUnique(HiddenPrefix(t.target, "tmp"), t.temporary));
  if (fd.get() < 0) {
    // A folder that takes no new files may still let its files be written: a common layout on
    // shared web hosts, where .htpasswd and its neighbours are made once by the administrator.
    if (t.existed && (errno == EACCES || errno == EPERM)) return PrepareInPlace(t);
    throw text::EFCreateError(t.file->path, errno);
  }
  // The old file must stay at hand, under a hidden second name, until the whole set stands. A file
  // system without hard links cannot keep it so; the file is then written in place instead.
  const auto keep_old = [&](const char* backup) { return files.Link(t.target.c_str(), backup) == 0; };
  if (!FitOut(t, fd.get()) || (t.existed && !MakeUnique(HiddenPrefix(t.target, "old"), t.backup, keep_old))) {
    fd.Close();
    if (files.Unlink(t.temporary.c_str()) == 0) t.temporary.clear();
    return PrepareInPlace(t);
  }
  if (!WriteAll(fd.get(), t.file->bytes) || files.Fsync(fd.get()) != 0 || fd.Close() != 0) throw text::EWriteError();
}

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
// the longer text, so no state ever ends inside a line of the other.
constexpr int kLastStage = 5;

std::string State(int stage, const TTarget& t) {
  const std::string& bytes = stage <= 2 ? t.old_bytes : t.file->bytes;
  std::string state = bytes;
  state.resize(std::max(t.old_bytes.size(), t.file->bytes.size()), '\n');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const bool first = i == 0 || bytes[i - 1] == '\n';
    if (state[i] != '\n' && (stage == 2 || stage == 3 || ((stage == 1 || stage == 4) && first))) state[i] = '#';
  }
  return state;
}

bool WriteState(const TTarget& t, int stage) {
  return WriteAllAtStart(t.writer.get(), State(stage, t)) && platform::Files().Fsync(t.writer.get()) == 0;
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
  for (t.stage = 1; t.stage <= kLastStage; ++t.stage)
    if (!WriteState(t, t.stage)) throw text::EWriteError();
  t.stage = kLastStage;
  if (files.Ftruncate(fd, static_cast<off_t>(t.file->bytes.size())) != 0 || files.Fsync(fd) != 0)
    throw text::EWriteError();
}

// Walks an in-place file back through the states to its old bytes. False when some step fails.
bool RestoreInPlace(TTarget& t) {
  platform::TFileCalls& files = platform::Files();
  const int fd = t.writer.get();
  bool whole = true;
  if (t.stage > 0) {
    for (int stage = t.stage; whole && stage >= 0; --stage) whole = WriteState(t, stage);
    whole = whole && files.Ftruncate(fd, static_cast<off_t>(t.old_bytes.size())) == 0 && files.Fsync(fd) == 0;
  }
  if (t.tightened) {
    files.Fchmod(fd, t.old.st_mode & 07777);
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
// of the save gone but those that still hold the only whole copy of an old file.
void Undo(std::vector<TTarget>& targets, const std::vector<TTarget*>& order) {
  platform::TFileCalls& files = platform::Files();
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    TTarget& t = **it;
    if (t.in_place && !RestoreInPlace(t)) t.state_copy.clear();
    if (!t.renamed) continue;
    if (t.backup.empty())  // a file that was not there before
      files.Unlink(t.target.c_str());
    else
      files.Rename(t.backup.c_str(), t.target.c_str());
  }
  for (const std::string& folder : RenamedFolders(order)) {
    try {
      FlushFolder(folder);
    } catch (const text::Exception&) {  // the failure to report is the first one
    }
  }
  for (TTarget& t : targets) {
    if (!t.temporary.empty()) files.Unlink(t.temporary.c_str());
    if (!t.renamed && !t.backup.empty()) files.Unlink(t.backup.c_str());
    if (!t.state_copy.empty()) files.Unlink(t.state_copy.c_str());
  }
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

void SaveFileSet(const std::vector<TFileToSave>& files, const TLastCheck& last_check) {
  std::vector<TTarget> targets(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) Check(files[i], targets[i]);
  std::vector<TTarget*> order;
  try {
    for (TTarget& t : targets) Prepare(t);
    // The user's record of passwords last among the renamed files, so that no crash between two
    // renames leaves it listing passwords the server does not know yet; files written in place
    // after all of them, so that their failure part way can still take every renamed file back.
    for (const bool in_place : {false, true})
      for (const FileKind kind : {FileKind::Public, FileKind::Secret})
        for (TTarget& t : targets)
          if (t.in_place == in_place && t.file->kind == kind) order.push_back(&t);
    Commit(order, last_check);
  } catch (const std::exception&) {
    Undo(targets, order);
    throw;
  }
  platform::TFileCalls& calls = platform::Files();
  for (TTarget& t : targets) {
    if (!t.backup.empty()) calls.Unlink(t.backup.c_str());
    if (!t.temporary.empty()) calls.Unlink(t.temporary.c_str());
    if (!t.state_copy.empty()) calls.Unlink(t.state_copy.c_str());
  }
}

}  // namespace core

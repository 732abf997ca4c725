#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/file_ops.h"
#include "test_files.h"
#include "text/exceptions.h"
#include "text/string_list.h"

using text::TStringList;
using Lines = std::vector<std::string>;

namespace {

enum Step { kCreate, kShortWrite, kTruncate, kFlush, kClose, kRename, kFolderFlush, kFolderFlushUnsupported, kFolderUnlisted, kFolderGone };

// Fails one step of saving, as a full disk, a refused rename or a broken flush would: every time
// it comes, but the write and the truncation fail once, so that old bytes can be put back.
class FailingCalls : public platform::FileCalls {
 public:
  explicit FailingCalls(Step step) : step_(step) {}
  int Open(const char* path, int flags, mode_t mode) override {
    if (step_ == kCreate && (flags & O_CREAT)) return errno = ENOSPC, -1;
    if ((flags & O_DIRECTORY) && (step_ == kFolderUnlisted || step_ == kFolderGone))
      return errno = step_ == kFolderUnlisted ? EACCES : EIO, -1;
    const int fd = FileCalls::Open(path, flags, mode);
    if (flags & O_DIRECTORY) folder_ = fd;
    return fd;
  }
  ssize_t Write(int fd, const void* buffer, std::size_t size) override {
    if (step_ != kShortWrite || ++writes_ > 2) return FileCalls::Write(fd, buffer, size);
    return writes_ == 1 ? FileCalls::Write(fd, buffer, size / 2) : (errno = ENOSPC, -1);
  }
  int Ftruncate(int fd, off_t length) override {
    return step_ == kTruncate && !truncated_++ ? (errno = EIO, -1) : FileCalls::Ftruncate(fd, length);
  }
  int Fsync(int fd) override {
    if (step_ == (fd == folder_ ? kFolderFlush : kFlush)) return errno = EIO, -1;
    return step_ == kFolderFlushUnsupported && fd == folder_ ? (errno = EINVAL, -1) : FileCalls::Fsync(fd);
  }
  int Close(int fd) override {
    const int rc = FileCalls::Close(fd);
    return step_ == kClose ? (errno = EIO, -1) : rc;
  }
  int Rename(const char* from, const char* to) override {
    return step_ == kRename ? (errno = EXDEV, -1) : FileCalls::Rename(from, to);
  }

 private:
  Step step_;
  int writes_ = 0, truncated_ = 0, folder_ = -2;
};

}  // namespace

TEST(SaveToFile, AFailureAtAnyStepLeavesThePreviousFileWhole) {
  enum Outcome { kSaved, kCreateFailure, kWriteFailure };
  // The failing step, whether a second hard link makes the save write the file where it lies, and the outcome.
  const std::tuple<Step, bool, Outcome> cases[] = {
      {kCreate, false, kCreateFailure}, {kShortWrite, false, kWriteFailure}, {kFlush, false, kWriteFailure},
      {kClose, false, kWriteFailure},   {kRename, false, kCreateFailure},    {kShortWrite, true, kWriteFailure},
      {kTruncate, true, kWriteFailure}, {kFlush, true, kWriteFailure},       {kClose, true, kWriteFailure},
      // Only the folder's flush comes after the rename: the new file is in place either way.
      {kFolderFlush, false, kWriteFailure}, {kFolderFlushUnsupported, false, kSaved},
      {kFolderGone, false, kWriteFailure},  {kFolderUnlisted, false, kSaved}};
  for (const auto& [step, linked, outcome] : cases) {
    SCOPED_TRACE(testing::Message() << "step " << step << (linked ? ", linked" : ""));
    TempDir dir;
    const std::string target = dir.File(".htpasswd");
    WriteBytes(target, "old:hash\r\n");
    chmod(target.c_str(), 0640);
    if (linked) link(target.c_str(), dir.File("link").c_str());
    FailingCalls calls(step);
    const platform::ScopedFileCalls scoped(calls);
    const TStringList list(Lines{"alice:newhash", "bob:newhash"});
    const auto save = [&] { list.SaveToFile(target); };
    if (outcome == kCreateFailure)
      EXPECT_THROW(save(), text::EFCreateError);
    else if (outcome == kWriteFailure)
      EXPECT_EQ(FailureMessage<text::EWriteError>(save), Sjis("ストリームへの書き込みエラー"));
    else
      EXPECT_NO_THROW(save());
    const bool renamed = outcome == kSaved || step == kFolderFlush || step == kFolderGone;
    EXPECT_EQ(ReadBytes(target), renamed ? list.Text() : "old:hash\r\n");
    EXPECT_EQ(FileMode(target), 0640u);
    EXPECT_EQ(ReadBytes(dir.File(linked ? "link" : ".htpasswd")), ReadBytes(target)) << "the link sees the same bytes";
    EXPECT_EQ(dir.Listing(), linked ? ".htpasswd link" : ".htpasswd") << "a temporary file was left";
  }
}

TEST(SaveToFile, AnOrdinaryUserGetsTheKernelsVerdictAndFilesThatCannotBeReplacedAreWrittenWhereTheyLie) {
  // What the case shows, the file's mode (0: no file yet), the folder's mode, a second hard link, refused.
  const std::tuple<const char*, unsigned, unsigned, bool, bool> cases[] = {
      {"a read-only file", 0444, 0700, false, true},
      {"a folder that takes no new files", 0644, 0555, false, false},
      {"a hard-linked file", 0644, 0700, true, false},
      {"a new file in a folder that takes none", 0, 0555, false, true}};
  for (const auto& [label, file_mode, folder_mode, linked, refused] : cases) {
    SCOPED_TRACE(label);
    TempDir dir;
    const std::string target = dir.File("passwd.txt");
    if (file_mode) WriteBytes(target, "old\r\n");
    chmod(target.c_str(), file_mode);
    if (linked) link(target.c_str(), dir.File("link").c_str());
    struct stat before{}, after{};
    stat(target.c_str(), &before);
    chmod(dir.path().c_str(), folder_mode);
    const std::optional<std::string> outcome = AsOrdinaryUser(dir, [&] {
      return FailureMessage<text::Exception>([&] { TStringList(Lines{"new"}).SaveToFile(target); });
    });
    if (!outcome) GTEST_SKIP() << "this machine does not let a test run as an ordinary user";
    EXPECT_EQ(*outcome, refused ? Sjis("ファイル \"" + target + "\". Permission denied を作成できません") : "");
    if (!file_mode) continue;
    stat(target.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(ReadBytes(target), refused ? "old\r\n" : "new\r\n");
    EXPECT_EQ(ReadBytes(dir.File(linked ? "link" : "passwd.txt")), ReadBytes(target)) << "the link sees the same bytes";
  }
}

TEST(SaveToFile, ReplacedFilesKeepTheirModeAndNewPrivateFilesAreOwnerOnly) {
  TempDir dir;
  const std::string replaced = dir.File(".htaccess");
  WriteBytes(replaced, "a much longer old text than the new one\r\n");
  chmod(replaced.c_str(), 0604);
  TStringList(Lines{"new"}).SaveToFile(replaced);
  EXPECT_EQ(ReadBytes(replaced), "new\r\n");
  EXPECT_EQ(FileMode(replaced), 0604u);

  const std::string secret = dir.File("passwd.txt");
  TStringList(Lines{"bob=x"}).SaveToFile(secret, text::FileAccess::OwnerOnly);
  EXPECT_EQ(FileMode(secret), 0600u);
  // A new public file is readable by the server's user: the mode the user's umask leaves.
  const mode_t umask_was = umask(022);
  TStringList(Lines{"x"}).SaveToFile(dir.File(".htpasswd"));
  umask(umask_was);
  EXPECT_EQ(FileMode(dir.File(".htpasswd")), 0644u);

  // A linked file is updated where it lives; the link stays a link.
  const std::string real = dir.File("real.txt");
  WriteBytes(real, "old\r\n");
  symlink(real.c_str(), dir.File("link.txt").c_str());
  TStringList(Lines{"through the link"}).SaveToFile(dir.File("link.txt"));
  EXPECT_EQ(ReadBytes(real), "through the link\r\n");

  // An empty list makes an empty file, also over an existing one.
  TStringList().SaveToFile(replaced);
  EXPECT_EQ(ReadBytes(replaced), "");
  EXPECT_EQ(dir.Listing(), ".htaccess .htpasswd link.txt passwd.txt real.txt");
}

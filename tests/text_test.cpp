#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/file_ops.h"
#include "test_files.h"
#include "text/exceptions.h"
#include "text/string_list.h"

using namespace std::string_literals;
using text::TStringList;

namespace {

std::vector<std::string> Lines(std::initializer_list<std::string> l) { return l; }

// The message a failure carries, checked against bytes built here from UTF-8 text.
template <class Failure, class Action>
std::string FailureMessage(Action action) {
  try {
    action();
  } catch (const Failure& failure) {
    return failure.Message();
  }
  ADD_FAILURE() << "no failure of the expected kind";
  return {};
}

}  // namespace

TEST(LineList, SplitsAndJoinsByteForByte) {
  struct Case {
    const char* label;
    std::string bytes;
    std::vector<std::string> lines;
    std::string saved;  // what saving those lines writes
  } cases[] = {
      {"CR LF", "a\r\nb\r\n", Lines({"a", "b"}), "a\r\nb\r\n"},
      {"lone CR, lone LF, no break at the end", "a\rb\nd", Lines({"a", "b", "d"}), "a\r\nb\r\nd\r\n"},
      {"LF CR is two breaks", "a\n\rb", Lines({"a", "", "b"}), "a\r\n\r\nb\r\n"},
      {"break at the end gives no empty line", "a\r\n\r\n", Lines({"a", ""}), "a\r\n\r\n"},
      {"NUL ends the text", "a\0b\r\nd"s, Lines({"a"}), "a\r\n"},
      {"empty", "", Lines({}), ""},
      {"only a break", "\n", Lines({""}), "\r\n"},
      {"byte-order mark stays", "\xEF\xBB\xBFid,pw\r\n", Lines({"\xEF\xBB\xBFid,pw"}), "\xEF\xBB\xBFid,pw\r\n"},
      {"Shift-JIS with trail bytes 0x5C and 0x7C", "\x95\x5C\x83\x7C\r\n", Lines({"\x95\x5C\x83\x7C"}),
       "\x95\x5C\x83\x7C\r\n"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    WriteBytes(dir.File("in.txt"), c.bytes);
    TStringList list;
    list.LoadFromFile(dir.File("in.txt"));
    EXPECT_EQ(list.Lines(), c.lines) << c.label;
    list.SaveToFile(dir.File("out.txt"));
    EXPECT_EQ(ReadBytes(dir.File("out.txt")), c.saved) << c.label;
  }
}

TEST(LineList, IndexErrorCarriesTheIndex) {
  const TStringList one(Lines({"a"}));
  EXPECT_EQ(one.Get(0), "a");
  EXPECT_EQ(FailureMessage<text::EStringListError>([&] { one.Get(1); }), Sjis("リストのインデックスが範囲を超えています (1)"));
  EXPECT_EQ(FailureMessage<text::EStringListError>([&] { one.Get(-1); }), Sjis("リストのインデックスが範囲を超えています (-1)"));
}

TEST(LineList, FailuresNameTheFullPathAndTheSystemText) {
  TempDir dir;
  const std::string missing = dir.File("missing.csv");
  const std::string relative = "no-such-folder-here/../missing.csv";
  const std::string cwd = std::filesystem::current_path().string();
  WriteBytes(dir.File("plain"), "x");
  mkfifo(dir.File("fifo").c_str(), 0600);

  struct Case {
    const char* label;
    std::string path;
    std::string message;
  } opens[] = {
      {"missing file", missing, Sjis("ファイル \"" + missing + "\". No such file or directory は開けません")},
      {"relative name is made absolute", relative,
       Sjis("ファイル \"" + cwd + "/missing.csv\". No such file or directory は開けません")},
      {"a folder is no file", dir.path(), Sjis("ファイル \"" + dir.path() + "\". Is a directory は開けません")},
      {"a FIFO is refused without waiting for a writer", dir.File("fifo"),
       Sjis("ファイル \"" + dir.File("fifo") + "\". 通常のファイルではありません は開けません")},
  };
  for (const Case& c : opens) {
    TStringList list(Lines({"kept"}));
    EXPECT_EQ(FailureMessage<text::EFOpenError>([&] { list.LoadFromFile(c.path); }), c.message) << c.label;
    EXPECT_EQ(list.Lines(), Lines({"kept"})) << c.label;
  }

  // Under a regular file nothing can be created, for root too.
  const std::string under_file = dir.File("plain/.htpasswd");
  EXPECT_EQ(FailureMessage<text::EFCreateError>([&] { TStringList(Lines({"a"})).SaveToFile(under_file); }),
            Sjis("ファイル \"" + under_file + "\". Not a directory を作成できません"));
  // The failure kinds stand in their family.
  EXPECT_THROW(TStringList().LoadFromFile(missing), text::EFileStreamError);
  EXPECT_THROW(TStringList().LoadFromFile(missing), text::EStreamError);
  EXPECT_THROW(TStringList().SaveToFile(under_file), text::Exception);
}

namespace {

// Fails one step of saving, as a full disk, a refused rename or a broken flush would: every time
// it comes, but the write and the truncation fail once, so that old bytes can be put back.
class FailingCalls : public platform::FileCalls {
 public:
  enum Step { kCreate, kShortWrite, kTruncate, kFlush, kClose, kRename, kFolderFlush, kFolderFlushUnsupported };
  Step step = kCreate;
  int Open(const char* path, int flags, mode_t mode) override {
    if (step == kCreate && (flags & O_CREAT)) return errno = ENOSPC, -1;
    const int fd = FileCalls::Open(path, flags, mode);
    if (flags & O_DIRECTORY) folder_ = fd;
    return fd;
  }
  ssize_t Write(int fd, const void* buffer, std::size_t size) override {
    if (step != kShortWrite || ++writes_ > 2) return FileCalls::Write(fd, buffer, size);
    return writes_ == 1 ? FileCalls::Write(fd, buffer, size / 2) : (errno = ENOSPC, -1);
  }
  int Ftruncate(int fd, off_t length) override {
    return step == kTruncate && !truncated_++ ? (errno = EIO, -1) : FileCalls::Ftruncate(fd, length);
  }
  int Fsync(int fd) override {
    if (step == (fd == folder_ ? kFolderFlush : kFlush)) return errno = EIO, -1;
    if (step == kFolderFlushUnsupported && fd == folder_) return errno = EINVAL, -1;
    return FileCalls::Fsync(fd);
  }
  int Close(int fd) override {
    const int rc = FileCalls::Close(fd);
    return step == kClose ? (errno = EIO, -1) : rc;
  }
  int Rename(const char* from, const char* to) override {
    return step == kRename ? (errno = EXDEV, -1) : FileCalls::Rename(from, to);
  }

 private:
  int writes_ = 0;
  int truncated_ = 0;
  int folder_ = -2;
};

}  // namespace

TEST(SaveToFile, AFailureAtAnyStepLeavesThePreviousFileWhole) {
  enum Outcome { kSaved, kCreateFailure, kWriteFailure };
  struct Case {
    FailingCalls::Step step;
    bool linked;  // a second hard link makes the save write the file where it lies
    Outcome outcome;
  } cases[] = {{FailingCalls::kCreate, false, kCreateFailure},     {FailingCalls::kShortWrite, false, kWriteFailure},
               {FailingCalls::kFlush, false, kWriteFailure},       {FailingCalls::kClose, false, kWriteFailure},
               {FailingCalls::kRename, false, kCreateFailure},     {FailingCalls::kShortWrite, true, kWriteFailure},
               {FailingCalls::kTruncate, true, kWriteFailure},     {FailingCalls::kFlush, true, kWriteFailure},
               {FailingCalls::kClose, true, kWriteFailure},
               // Only the folder's flush comes after the rename: the new file is in place either way.
               {FailingCalls::kFolderFlush, false, kWriteFailure}, {FailingCalls::kFolderFlushUnsupported, false, kSaved}};
  for (const Case& c : cases) {
    TempDir dir;
    const std::string target = dir.File(".htpasswd");
    WriteBytes(target, "old:hash\r\n");
    chmod(target.c_str(), 0640);
    if (c.linked) link(target.c_str(), dir.File("link").c_str());
    FailingCalls calls;
    calls.step = c.step;
    const platform::ScopedFileCalls scoped(calls);
    const TStringList list(Lines({"alice:newhash", "bob:newhash"}));
    if (c.outcome == kCreateFailure)
      EXPECT_THROW(list.SaveToFile(target), text::EFCreateError) << c.step;
    else if (c.outcome == kWriteFailure)
      EXPECT_EQ(FailureMessage<text::EWriteError>([&] { list.SaveToFile(target); }), Sjis("ストリームへの書き込みエラー"))
          << c.step;
    else
      EXPECT_NO_THROW(list.SaveToFile(target)) << c.step;
    const bool renamed = c.outcome == kSaved || c.step == FailingCalls::kFolderFlush;
    EXPECT_EQ(ReadBytes(target), renamed ? list.Text() : "old:hash\r\n") << c.step << " " << c.linked;
    EXPECT_EQ(FileMode(target), 0640u) << c.step;
    if (c.linked) {
      EXPECT_EQ(ReadBytes(dir.File("link")), ReadBytes(target)) << c.step;
    }
    EXPECT_EQ(dir.Listing(), c.linked ? ".htpasswd link" : ".htpasswd") << "a temporary file was left, step " << c.step;
  }
}

TEST(SaveToFile, AnOrdinaryUserGetsTheKernelsVerdictAndFilesThatCannotBeReplacedAreWrittenWhereTheyLie) {
  struct Case {
    const char* label;
    unsigned file_mode;  // 0: no file yet
    unsigned folder_mode;
    bool linked;
    bool refused;
  } cases[] = {{"a read-only file", 0444, 0700, false, true},
               {"a folder that takes no new files", 0644, 0555, false, false},
               {"a hard-linked file", 0644, 0700, true, false},
               {"a new file in a folder that takes none", 0, 0555, false, true}};
  const auto inode = [](const std::string& path) {
    struct stat st{};
    stat(path.c_str(), &st);
    return st.st_ino;
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string target = dir.File("passwd.txt");
    if (c.file_mode) WriteBytes(target, "old\r\n");
    chmod(target.c_str(), c.file_mode);
    if (c.linked) link(target.c_str(), dir.File("link").c_str());
    const auto before = inode(target);
    chmod(dir.path().c_str(), c.folder_mode);
    const std::optional<std::string> outcome = AsOrdinaryUser(dir, [&] {
      try {
        TStringList(Lines({"new"})).SaveToFile(target);
        return std::string("saved");
      } catch (const text::Exception& failure) {
        return failure.Message();
      }
    });
    if (!outcome) GTEST_SKIP() << "this machine does not let a test run as an ordinary user";
    EXPECT_EQ(*outcome, c.refused ? Sjis("ファイル \"" + target + "\". Permission denied を作成できません") : "saved") << c.label;
    if (!c.file_mode) continue;
    EXPECT_EQ(ReadBytes(target), c.refused ? "old\r\n" : "new\r\n") << c.label;
    EXPECT_EQ(inode(target), before) << c.label;
    if (c.linked) {
      EXPECT_EQ(ReadBytes(dir.File("link")), "new\r\n") << c.label;
    }
  }
}

TEST(SaveToFile, ReplacedFilesKeepTheirModeAndNewPrivateFilesAreOwnerOnly) {
  TempDir dir;
  const std::string replaced = dir.File(".htaccess");
  WriteBytes(replaced, "a much longer old text than the new one\r\n");
  chmod(replaced.c_str(), 0604);
  TStringList(Lines({"new"})).SaveToFile(replaced);
  EXPECT_EQ(ReadBytes(replaced), "new\r\n");
  EXPECT_EQ(FileMode(replaced), 0604u);

  const std::string secret = dir.File("passwd.txt");
  TStringList(Lines({"bob=x"})).SaveToFile(secret, text::FileAccess::OwnerOnly);
  EXPECT_EQ(FileMode(secret), 0600u);

  // A linked file is updated where it lives; the link stays a link.
  const std::string real = dir.File("real.txt");
  WriteBytes(real, "old\r\n");
  symlink(real.c_str(), dir.File("link.txt").c_str());
  TStringList(Lines({"through the link"})).SaveToFile(dir.File("link.txt"));
  EXPECT_EQ(ReadBytes(real), "through the link\r\n");

  // An empty list makes an empty file, also over an existing one.
  TStringList().SaveToFile(replaced);
  EXPECT_EQ(ReadBytes(replaced), "");
  EXPECT_EQ(dir.Listing(), ".htaccess link.txt passwd.txt real.txt");
}

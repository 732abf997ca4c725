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

// Fails one step of saving, as a full disk, a refused rename or a broken flush would.
class FailingCalls : public platform::FileCalls {
 public:
  enum Step { kNone, kCreate, kShortWrite, kFlush, kClose, kRename } step = kNone;
  int Open(const char* path, int flags, mode_t mode) override {
    if (step == kCreate && (flags & O_CREAT)) return errno = EACCES, -1;
    return FileCalls::Open(path, flags, mode);
  }
  ssize_t Write(int fd, const void* buffer, std::size_t size) override {
    if (step != kShortWrite) return FileCalls::Write(fd, buffer, size);
    if (wrote_) return errno = ENOSPC, -1;
    wrote_ = true;
    return FileCalls::Write(fd, buffer, size / 2);
  }
  int Fsync(int fd) override { return step == kFlush ? (errno = EIO, -1) : FileCalls::Fsync(fd); }
  int Close(int fd) override {
    const int rc = FileCalls::Close(fd);
    return step == kClose ? (errno = EIO, -1) : rc;
  }
  int Rename(const char* from, const char* to) override {
    return step == kRename ? (errno = EXDEV, -1) : FileCalls::Rename(from, to);
  }

 private:
  bool wrote_ = false;
};

}  // namespace

TEST(SaveToFile, AFailureAtAnyStepLeavesThePreviousFileWhole) {
  struct Case {
    FailingCalls::Step step;
    bool create_failure;  // else a write failure
  } cases[] = {{FailingCalls::kCreate, true},  {FailingCalls::kShortWrite, false}, {FailingCalls::kFlush, false},
               {FailingCalls::kClose, false},  {FailingCalls::kRename, true}};
  for (const Case& c : cases) {
    TempDir dir;
    const std::string target = dir.File(".htpasswd");
    WriteBytes(target, "old:hash\r\n");
    chmod(target.c_str(), 0640);
    FailingCalls calls;
    calls.step = c.step;
    const platform::ScopedFileCalls scoped(calls);
    const TStringList list(Lines({"alice:newhash", "bob:newhash"}));
    if (c.create_failure)
      EXPECT_THROW(list.SaveToFile(target), text::EFCreateError) << c.step;
    else
      EXPECT_EQ(FailureMessage<text::EWriteError>([&] { list.SaveToFile(target); }), Sjis("ストリームへの書き込みエラー"))
          << c.step;
    EXPECT_EQ(ReadBytes(target), "old:hash\r\n") << c.step;
    EXPECT_EQ(FileMode(target), 0640u) << c.step;
    EXPECT_EQ(dir.Listing(), ".htpasswd") << "a temporary file was left behind, step " << c.step;
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

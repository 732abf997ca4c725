// Files nobody should feed the tool, through the real load path: each ends in a clear message or a
// sound table, never a crash, a hang or a lost previous state.
#include <cerrno>
#include <random>
#include <sys/stat.h>

#include "platform/file_ops.h"
#include "window_fixture.h"

using namespace std::string_literals;

namespace {

// Makes the chosen file vanish, fail to read, or shrink, after the dialog has named it.
class Vanishing : public platform::TFileCalls {
 public:
  enum How { kGone, kReadFails, kShrinks } how = kGone;
  int Open(const char* path, int flags, mode_t mode) override {
    if (how == kGone && std::string(path).ends_with("users.csv")) return errno = ENOENT, -1;
    return TFileCalls::Open(path, flags, mode);
  }
  ssize_t Read(int fd, void* buffer, std::size_t size) override {
    if (how == kReadFails) return errno = EIO, -1;
    // The file ends five bytes into the read, whatever size it had when the read began, and comes
    // two bytes at a time, as a read may give less than it was asked for.
    if (how != kShrinks) return TFileCalls::Read(fd, buffer, size);
    const ssize_t n = TFileCalls::Read(fd, buffer, std::min<std::size_t>({size, 2, 5 - read_}));
    read_ += n > 0 ? static_cast<std::size_t>(n) : 0;
    return n;
  }

 private:
  std::size_t read_ = 0;
};

}  // namespace

TEST_F(WindowTest, OddBytesLoadAsWhatTheyAreAndStillBuildAndSave) {
  std::mt19937 random(7);
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>(1 + random() % 255);
  struct Case {
    const char* label;
    std::string bytes;
    std::vector<std::string> lines;  // empty: only a sound table is asked for
  } cases[] = {
      {"only NULs", std::string(1000, '\0'), {}},
      {"text, then NUL and more", "a,1\r\n\0b,2\r\n"s, {"a=1"}},
      {"a lead byte takes the comma after it; one ends the file", "\x81,\x82\r\n\x83\x40\x9F,x\x81", {"\x81,\x82=", "\x83\x40\x9F,x\x81="}},
      {"UTF-16 with its byte-order mark stops at the first NUL", "\xFF\xFEu\0s\0,\0p\0"s, {"\xFF\xFEu="}},
      {"random bytes without NUL", binary, {}},
  };
  const std::string out = dir.File("out");
  mkdir(out.c_str(), 0700);
  for (const Case& c : cases) {
    Load(c.bytes);
    if (!c.lines.empty() || c.bytes[0] == '\0') {
      EXPECT_EQ(Lines(), c.lines) << c.label;
    }
    if (Lines().empty()) continue;
    // Whatever was loaded survives being shown, built and saved.
    form->UserList->grab();
    Click(form->CreateEnc);
    SaveTo(out);
    EXPECT_EQ(ReadBytes(out + "/passwd.txt"), Table().Strings().Text()) << c.label;
  }
}

TEST_F(WindowTest, AHugeOneLineFileLoadsWithoutDrawingAllOfIt) {
  const std::size_t size = 200u << 20;
  std::string line = "user,";
  line.resize(size, 'p');
  Load(line);
  line.clear();
  ASSERT_TRUE(Errors().empty());
  ASSERT_EQ(Table().Strings().Count(), 1);
  QApplication::setActiveWindow(form.get());  // back from the progress dialog, as a window manager would
  Settle();
  Key(Qt::Key_Right);  // the editor moves onto the huge cell
  form->UserList->grab();
  EXPECT_TRUE(Editor()->isReadOnly()) << "too long to lay out in a line edit";
  EXPECT_EQ(Editor()->toolTip(), "長すぎるため、ここでは編集できません");
  Type("x");
  Key(Qt::Key_Escape);
  Key(Qt::Key_Left);
  EXPECT_FALSE(Editor()->isReadOnly());
  EXPECT_EQ(Table().CellText(table::ValueColumn, 1).size(), size - 5) << "not one byte lost or changed";
  Click(form->CreateEnc);
  EXPECT_EQ(form->Htpasswd->Text().size(), 4 + 1 + 13 + 2u);
}

TEST_F(WindowTest, FilesThatCannotBeReadSayWhyAndLeaveAnEmptyTable) {
  WriteBytes(dir.File("users.csv"), "a,1\r\nb,2\r\n");
  mkfifo(dir.File("fifo.csv").c_str(), 0600);
  const std::string unheld = dir.File("\xF0\x9F\x98\x80\xC3\xBC.csv");  // an emoji and u-umlaut: not in code page 932
  const struct {
    const char* label;
    std::string path;
    Vanishing::How how;
    std::string message;
  } cases[] = {
      {"gone after the dialog", dir.File("users.csv"), Vanishing::kGone,
       Sjis("ファイル \"" + dir.File("users.csv") + "\". No such file or directory は開けません.")},
      {"a read error", dir.File("users.csv"), Vanishing::kReadFails,
       Sjis("ファイル \"" + dir.File("users.csv") + "\". Input/output error は開けません.")},
      {"a folder", dir.path(), Vanishing::kGone, Sjis("ファイル \"" + dir.path() + "\". Is a directory は開けません.")},
      {"a FIFO does not wait for a writer", dir.File("fifo.csv"), Vanishing::kGone,
       Sjis("ファイル \"" + dir.File("fifo.csv") + "\". 通常のファイルではありません は開けません.")},
      {"a name the code page cannot hold is shown with a stand-in", unheld, Vanishing::kGone,
       Sjis("ファイル \"" + dir.path() + "/??.csv\". No such file or directory は開けません.")},
      {"a file that shrinks while it is read gives what was read", dir.File("users.csv"), Vanishing::kShrinks, ""},
  };
  for (const auto& c : cases) {
    LoadPath(dir.File("users.csv"));
    ASSERT_EQ(Lines(), (std::vector<std::string>{"a=1", "b=2"}));
    Vanishing vanishing;
    vanishing.how = c.how;
    {
      const platform::TScopedFileCalls scoped(vanishing);
      LoadPath(c.path);
    }
    EXPECT_EQ(Errors(), c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message}) << c.label;
    EXPECT_EQ(Lines(), c.message.empty() ? std::vector<std::string>{"a=1"} : std::vector<std::string>{}) << c.label;
  }
  // A file under such a name loads like any other.
  WriteBytes(unheld, "b,2\r\n");
  LoadPath(unheld);
  EXPECT_EQ(Lines(), std::vector<std::string>{"b=2"});
  EXPECT_TRUE(Errors().empty());
}

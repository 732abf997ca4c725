#include "platform/file_ops.h"
#include "test_files.h"
#include "text/exceptions.h"
#include "text/string_list.h"
#include "window_fixture.h"

using namespace std::string_literals;

namespace {

std::vector<std::string> SplitCrLf(const std::string& text) {
  text::TStringList l;
  l.SetText(text);
  return l.Lines();
}

class JobTest : public WindowTest {
 protected:
  // Loads `bytes` as a credential file through the real dialog seam.
  void Load(const std::string& bytes) {
    WriteBytes(dir.File("users.csv"), bytes);
    dialogs.files.push_back(QString::fromStdString(dir.File("users.csv")));
    Run(&TForm1::LoadFileClick);
  }
  void SaveTo(const std::string& folder) {
    dialogs.folders.push_back(QString::fromStdString(folder));
    Run(&TForm1::SaveDataClick);
  }
  TempDir dir;
};

const std::string kRealistic =
    "alice,wonderland\r\n" "\"eve, jr\",\"pass,word\"\r\n" + Sjis("山田太郎,やまだ123") +
    "\r\n\r\nbob,\r\ncarol  \"two words\" ignored\r\ndave smith\r\n\xEF\xBB\xBF" "bom,x";

}  // namespace

TEST_F(JobTest, LoadBuildAndSaveTheWholeJob) {
  Load(kRealistic);
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_EQ(Lines(), (std::vector<std::string>{"alice=wonderland", "eve, jr=pass,word", Sjis("山田太郎=やまだ123"), "bob=",
                                               "carol=two words", "dave=smith", "\xEF\xBB\xBF" "bom=x"}));
  EXPECT_EQ(dialogs.open_title, "認証に必要なカンマ区切りデータを読み込む");
  EXPECT_EQ(dialogs.open_filter, "CSVファイル(*.csv);;全ファイル(*.*)");
  EXPECT_TRUE(form->CreateEnc->isEnabled());
  EXPECT_FALSE(form->SaveData->isEnabled());

  Click(form->CreateEnc);
  Click(form->SaveData);  // the chooser is cancelled: nothing is written
  EXPECT_EQ(dir.Listing(), "users.csv");
  EXPECT_EQ(dialogs.folder_title, "「.htpasswd」ファイルの保存場所選択");

  const std::string out = dir.File("out");
  mkdir(out.c_str(), 0755);
  SaveTo(out + "/");  // a folder that ends with the separator gets no second one
  ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors[0].toStdString();
  EXPECT_EQ(ReadBytes(out + "/.htpasswd"), form->Htpasswd->Text());
  EXPECT_EQ(ReadBytes(out + "/.htaccess"), form->Htaccess->Text());
  EXPECT_EQ(ReadBytes(out + "/passwd.txt"), Table().Strings().Text());
  EXPECT_EQ(FileMode(out + "/passwd.txt"), 0600u);

  // Every saved hash verifies the saved clear-text password of its user.
  const std::vector<std::string> hashes = SplitCrLf(ReadBytes(out + "/.htpasswd"));
  const std::vector<std::string> passwords = SplitCrLf(ReadBytes(out + "/passwd.txt"));
  ASSERT_EQ(hashes.size(), 7u);
  ASSERT_EQ(passwords.size(), 7u);
  for (std::size_t i = 0; i < hashes.size(); ++i) {
    const std::size_t eq = passwords[i].find('='), colon = hashes[i].rfind(':');
    EXPECT_EQ(hashes[i].substr(0, colon), passwords[i].substr(0, eq));
    EXPECT_TRUE(Verifies(passwords[i].substr(eq + 1), hashes[i].substr(colon + 1))) << hashes[i];
  }
  EXPECT_EQ(passwords[3].size(), 4u + 8u) << "bob got a generated password";

  // Saving again replaces all three; edits after the build reach passwd.txt only.
  Table().SetCellText(table::ValueColumn, 1, "changed");
  SaveTo(out);
  EXPECT_EQ(SplitCrLf(ReadBytes(out + "/passwd.txt"))[0], "alice=changed");
  EXPECT_EQ(SplitCrLf(ReadBytes(out + "/.htpasswd")), hashes);
}

TEST_F(JobTest, ASecondLoadReplacesAndCancelClearsEverything) {
  Load("a,1\r\nb,2\r\n");
  Click(form->CreateEnc);
  Load("c,3\n");
  EXPECT_EQ(Lines(), std::vector<std::string>{"c=3"});
  EXPECT_EQ(dialogs.open_initial.toStdString(), dir.File("users.csv")) << "the last file is offered again";
  EXPECT_TRUE(form->SaveData->isEnabled()) << "a load leaves the build's results alone";
  EXPECT_FALSE(form->Htpasswd->Text().empty());

  Run(&TForm1::LoadFileClick);  // cancelled
  EXPECT_TRUE(Lines().empty());
  EXPECT_FALSE(form->CreateEnc->isEnabled());
  EXPECT_FALSE(form->SaveData->isEnabled());
  EXPECT_EQ(form->Htaccess->Text(), "");
  EXPECT_EQ(form->Htpasswd->Text(), "");
  EXPECT_EQ(form->Htpasswd->ShownText(), "");
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(JobTest, ABadLineStopsTheLoadThereAndKeepsWhatCameBefore) {
  struct Case {
    const char* label;
    std::string file;
    std::vector<std::string> kept;
    std::string message;
  } cases[] = {
      {"duplicate user ignoring case", "alice,1\r\nbob,2\r\nAlice,3\r\ncarol,4\r\n", {"alice=1", "bob=2"},
       Sjis("キー名 \"Alice\" はすでに存在します.")},
      {"user name with an equals sign", "alice,1\r\na=b,2\r\n", {"alice=1"}, Sjis("キーは等号記号（“=”）を含めません。.")},
      {"a line of nothing but blanks", "alice,1\r\n \t\r\nbob,2\r\n", {"alice=1"},
       Sjis("リストのインデックスが範囲を超えています (1)")},
      {"empty user names never clash, an empty row is filled", ",\r\n,x\r\n,y\r\n", {"=x", "=y"}, ""},
  };
  for (const Case& c : cases) {
    dialogs.errors.clear();
    Load(c.file);
    EXPECT_EQ(Lines(), c.kept) << c.label;
    EXPECT_EQ(Errors(), c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message}) << c.label;
    EXPECT_TRUE(form->CreateEnc->isEnabled()) << c.label;
  }
}

TEST_F(JobTest, AFileThatCannotBeReadEmptiesTheTableAndSaysWhy) {
  const std::string missing = dir.File("missing.csv");
  dialogs.files.push_back(QString::fromStdString(missing));
  Run(&TForm1::LoadFileClick);
  EXPECT_EQ(Errors(), std::vector<std::string>{Sjis("ファイル \"" + missing + "\". No such file or directory は開けません.")});
  EXPECT_FALSE(form->CreateEnc->isEnabled()) << "the table had no lines, so nothing changed";

  Load("a,1\r\n");
  Click(form->CreateEnc);
  dialogs.files.push_back(QString::fromStdString(dir.path()));  // a folder
  Run(&TForm1::LoadFileClick);
  EXPECT_TRUE(Lines().empty());
  EXPECT_TRUE(form->CreateEnc->isEnabled()) << "the table had lines to clear";
  EXPECT_TRUE(form->SaveData->isEnabled());
  EXPECT_FALSE(form->Htaccess->Text().empty());
}

namespace {
// Lets every file but one be written: the named one fails to flush.
class FailOne : public platform::FileCalls {
 public:
  explicit FailOne(std::string name) : name_(std::move(name)) {}
  int Open(const char* path, int flags, mode_t mode) override {
    const int fd = FileCalls::Open(path, flags, mode);
    if (std::string(path).find(name_) != std::string::npos) failing_fd_ = fd;
    return fd;
  }
  int Fsync(int fd) override { return fd == failing_fd_ ? (errno = EIO, -1) : FileCalls::Fsync(fd); }

 private:
  std::string name_;
  int failing_fd_ = -2;
};
}  // namespace

TEST_F(JobTest, ASaveThatFailsKeepsTheOldFilesAndStopsThere) {
  Load("alice,1\r\n");
  Click(form->CreateEnc);
  WriteBytes(dir.File(".htpasswd"), "old htpasswd\r\n");
  WriteBytes(dir.File(".htaccess"), "old htaccess\r\n");
  {
    FailOne fail(".htaccess");
    const platform::ScopedFileCalls scoped(fail);
    SaveTo(dir.path());
  }
  EXPECT_EQ(Errors(), std::vector<std::string>{Sjis("ストリームへの書き込みエラー.")});
  EXPECT_EQ(ReadBytes(dir.File(".htpasswd")), form->Htpasswd->Text()) << "saved before the failure";
  EXPECT_EQ(ReadBytes(dir.File(".htaccess")), "old htaccess\r\n") << "the failed file is untouched";
  EXPECT_EQ(dir.Listing(), ".htaccess .htpasswd users.csv") << "passwd.txt is not written, no temporary file stays";

  const std::string under_file = dir.File("users.csv");
  SaveTo(under_file);
  ASSERT_EQ(Errors().size(), 2u);
  EXPECT_EQ(Errors()[1], Sjis("ファイル \"" + under_file + "/.htpasswd\". Not a directory を作成できません."));
}

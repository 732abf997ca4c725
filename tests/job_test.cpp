// The whole job through the real window: load a credential file, build, save, and every way each
// step can stop.
#include <QScrollBar>

#include "core/encrypt_password.h"
#include "des_crypt/des_crypt.h"
#include "platform/file_ops.h"
#include "window_fixture.h"

namespace {

const std::string kDefaultHtaccess =
    "AuthUserFile //.htpasswd\r\nAuthGroupFile /dev/null\r\nAuthName \"Protected_area\"\r\nAuthType Basic\r\n"
    "Require valid-user\r\n\r\n<Files ~ \"^.(htpasswd|htaccess)$\">\r\ndeny from all\r\n</Files>\r\n";

// Every .htpasswd line names the user of its passwd.txt line and verifies that user's password.
void ExpectHashesVerify(const std::string& htpasswd, const std::string& passwd) {
  const std::vector<std::string> hashes = text::SplitLines(htpasswd), passwords = text::SplitLines(passwd);
  ASSERT_EQ(hashes.size(), passwords.size());
  for (std::size_t i = 0; i < hashes.size(); ++i) {
    const std::size_t eq = passwords[i].find('='), colon = hashes[i].rfind(':');
    EXPECT_EQ(hashes[i].substr(0, colon), passwords[i].substr(0, eq));
    EXPECT_TRUE(Verifies(passwords[i].substr(eq + 1), hashes[i].substr(colon + 1))) << hashes[i];
  }
}

}  // namespace

TEST_F(WindowTest, LoadBuildAndSaveTheWholeJob) {
  Load("alice,wonderland\r\n\"eve, jr\",\"pass,word\"\r\n" + Sjis("山田太郎,やまだ123") +
       "\r\n\r\nbob,\r\ncarol  \"two words\" ignored\ndave smith\r\xEF\xBB\xBF" "bom,x");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"alice=wonderland", "eve, jr=pass,word", Sjis("山田太郎=やまだ123"), "bob=",
                                               "carol=two words", "dave=smith", "\xEF\xBB\xBF" "bom=x"}));
  EXPECT_EQ(dialogs.open_title, "認証に必要なカンマ区切りデータを読み込む");
  EXPECT_EQ(dialogs.open_filter, "CSVファイル(*.csv);;全ファイル(*.*)");
  EXPECT_TRUE(form->CreateEnc->isEnabled());
  EXPECT_FALSE(form->SaveData->isEnabled());

  Click(form->CreateEnc);
  EXPECT_EQ(form->Htaccess->Text(), kDefaultHtaccess);
  EXPECT_EQ(Table().CellText(table::ValueColumn, 4).size(), 8u) << "bob got a generated password";
  EXPECT_EQ(Lines()[1], "eve, jr=pass,word") << "a given one stays";
  Click(form->SaveData);  // the chooser is cancelled: nothing is written
  EXPECT_EQ(dir.Listing(), "users.csv");
  EXPECT_EQ(dialogs.folder_title, "「.htpasswd」ファイルの保存場所選択");

  const std::string out = dir.File("out");
  mkdir(out.c_str(), 0755);
  SaveTo(out + "/");  // a folder that ends with the separator gets no second one
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(ReadBytes(out + "/.htpasswd"), form->Htpasswd->Text());
  EXPECT_EQ(ReadBytes(out + "/.htaccess"), kDefaultHtaccess);
  EXPECT_EQ(ReadBytes(out + "/passwd.txt"), Table().Strings().Text());
  EXPECT_EQ(FileMode(out + "/passwd.txt"), 0600u);
  ExpectHashesVerify(ReadBytes(out + "/.htpasswd"), ReadBytes(out + "/passwd.txt"));

  // A second build salts afresh and keeps the generated password; an edit after it waits for the next.
  const std::string first = form->Htpasswd->Text();
  Click(form->CreateEnc);
  EXPECT_NE(form->Htpasswd->Text(), first);
  ExpectHashesVerify(form->Htpasswd->Text(), Table().Strings().Text());
  Table().SetCellText(table::ValueColumn, 1, "changed");
  EXPECT_FALSE(form->SaveData->isEnabled() || Item("SaveDataItem")->isEnabled()) << "the built files no longer hold it";
  Click(form->CreateEnc);
  SaveTo(out);
  EXPECT_EQ(text::SplitLines(ReadBytes(out + "/passwd.txt"))[0], "alice=changed");
  EXPECT_EQ(ReadBytes(out + "/.htpasswd"), form->Htpasswd->Text());

  // Cancelling the next load, which offers the last file, empties the table and forgets the build.
  Run(&TForm1::LoadFileClick);
  EXPECT_EQ(dialogs.open_initial.toStdString(), dir.File("users.csv"));
  EXPECT_TRUE(Lines().empty() && form->Htpasswd->Text().empty() && form->Htaccess->Text().empty());
  EXPECT_FALSE(form->SaveData->isEnabled());
}

TEST_F(WindowTest, BuildTakesTheEditBoxesAsTheyStandAndAnEmptyTableItsPlaceholderRow) {
  Click(form->CreateEnc);  // disabled: nothing happens
  EXPECT_EQ(form->Htaccess->Text(), "");
  form->AuthUserFile->setText("");
  form->AuthName->setText("");
  Run(&TForm1::CreateEncClick);
  EXPECT_TRUE(form->Htaccess->Text().starts_with("AuthUserFile \r\nAuthGroupFile /dev/null\r\nAuthName \"\"\r\n"));
  ASSERT_EQ(Lines().size(), 1u);
  const std::string password = Lines()[0].substr(1);
  EXPECT_EQ(Lines()[0], "=" + password) << "the placeholder row got a line";
  EXPECT_EQ(password.find_first_not_of(CryptAlphabet.substr(2)), std::string::npos);
  ASSERT_EQ(form->Htpasswd->Text().size(), 1u + 13u + 2u);
  EXPECT_TRUE(Verifies(password, form->Htpasswd->Text().substr(1, 13)));
  EXPECT_EQ(form->Htpasswd->ShownText().toStdString(), ":" + form->Htpasswd->Text().substr(1, 13));

  form->AuthUserFile->setText("/var/www/秘密/.htpasswd");
  Run(&TForm1::CreateEncClick);
  EXPECT_TRUE(form->Htaccess->Text().starts_with("AuthUserFile " + Sjis("/var/www/秘密/.htpasswd") + "\r\n"));
  // A character the code page cannot hold is refused, not replaced in a server's configuration.
  form->AuthName->setText("area \U0001F600");
  const std::string before = form->Htaccess->Text();
  Run(&TForm1::CreateEncClick);
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_TRUE(dialogs.errors[0].contains("U+1F600")) << dialogs.errors[0].toStdString();
  EXPECT_EQ(form->Htaccess->Text(), before);
}

TEST_F(WindowTest, ABadLineStopsTheLoadThereAndKeepsWhatCameBefore) {
  struct Case {
    const char* label;
    std::string file;
    std::vector<std::string> kept;
    std::vector<std::string> messages;
    bool build_offered;
  } cases[] = {
      {"a refused first line offers no build of nothing", "a=b,1\r\n", {}, {kEqualsShown}, false},
      {"an empty file offers a build of the placeholder row", "", {}, {}, true},
      {"duplicate user ignoring case", "alice,1\r\nbob,2\r\nAlice,3\r\ncarol,4\r\n", {"alice=1", "bob=2"},
       {DuplicateShown("Alice")}, true},
      {"user name with an equals sign", "alice,1\r\na=b,2\r\n", {"alice=1"}, {kEqualsShown}, true},
      {"a line of nothing but blanks", "alice,1\r\n \t\r\nbob,2\r\n", {"alice=1"},
       {Sjis("リストのインデックスが範囲を超えています (1)")}, true},
      {"empty user names never clash, an empty row is filled", ",\r\n,x\r\n,y\r\n", {"=x", "=y"}, {}, true},
  };
  for (const Case& c : cases) {
    Load(c.file);
    EXPECT_EQ(Lines(), c.kept) << c.label;
    EXPECT_EQ(Errors(), c.messages) << c.label;
    EXPECT_EQ(form->CreateEnc->isEnabled(), c.build_offered) << c.label;
  }
}

// Enough rows for several chunks of the batch hash on several threads.
TEST_F(WindowTest, LongWorkKeepsEveryRowInItsPlace) {
  std::string file;
  for (int i = 0; i < 9000; ++i) file += "user" + std::to_string(i) + (i % 3 ? ",pw" + std::to_string(i) : ",") + "\r\n";
  Load(file);
  Click(form->CreateEnc);
  ASSERT_EQ(Table().Strings().Count(), 9000);
  ExpectHashesVerify(form->Htpasswd->Text(), Table().Strings().Text());
  EXPECT_GT(form->Htpasswd->verticalScrollBar()->maximum(), 8900);
}

// The whole job through the real window: load a credential file, build, save, and every way each
// step can stop.
#include "des_crypt/des_crypt.h"
#include "window_fixture.h"

namespace {

const std::string kDefaultHtaccess =
    "AuthUserFile //.htpasswd\r\nAuthGroupFile /dev/null\r\nAuthName \"Protected_area\"\r\nAuthType Basic\r\n"
    "Require valid-user\r\n\r\n<Files ~ \"^.(htpasswd|htaccess)$\">\r\ndeny from all\r\n</Files>\r\n";

}  // namespace

TEST_F(WindowTest, LoadBuildAndSaveTheWholeJob) {
  Load("alice,wonderland\r\n\"eve, jr\",\"pass,word\"\r\nbob,\r\n");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"alice=wonderland", "eve, jr=pass,word", "bob="}));
  EXPECT_EQ(dialogs.open_title + u'|' + dialogs.open_filter, "認証に必要なカンマ区切りデータを読み込む|CSVファイル(*.csv);;全ファイル(*.*)");
  EXPECT_TRUE(form->CreateEnc->isEnabled() && !form->SaveData->isEnabled());

  Click(form->CreateEnc);
  EXPECT_EQ(form->Htaccess->Text(), kDefaultHtaccess);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the wait cursor goes with the work";
  EXPECT_EQ(Table().CellText(table::ValueColumn, 3).size(), 8u) << "bob's generated password is in the table";
  Click(form->SaveData);  // the chooser is cancelled: nothing is written
  EXPECT_EQ(dir.Listing(), "users.csv");
  const std::string out = dir.File("out");
  mkdir(out.c_str(), 0755);
  SaveTo(out + "/");  // a folder that ends with the separator gets no second one
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(ReadBytes(out + "/.htpasswd") + ReadBytes(out + "/.htaccess") + ReadBytes(out + "/passwd.txt"),
            form->Htpasswd->Text() + kDefaultHtaccess + Table().Strings().Text());
  // Whatever goes into the files makes the built ones stale: a cell, either setting of .htaccess.
  const std::function<void()> changes[] = {[&] { Table().SetCellText(table::ValueColumn, 1, "changed"); },
                                           [&] { form->AuthUserFile->setText("/srv/.htpasswd"); },
                                           [&] { form->AuthName->setText("Members"); }};
  for (const auto& change : changes) {
    Click(form->CreateEnc);
    ASSERT_TRUE(form->SaveData->isEnabled());
    change();
    EXPECT_FALSE(form->SaveData->isEnabled() || Item("SaveDataItem")->isEnabled()) << "the built files no longer hold it";
  }

  // Cancelling the next load, which offers the last file, empties the table and forgets the build.
  Run(&TForm1::LoadFileClick);
  EXPECT_EQ(dialogs.open_initial.toStdString(), dir.File("users.csv"));
  EXPECT_TRUE(Lines().empty() && form->Htpasswd->Text().empty() && form->Htaccess->Text().empty());
  EXPECT_FALSE(form->CreateEnc->isEnabled() || form->SaveData->isEnabled());

  // What a load stops at is shown, ended by a full stop unless it ends in one of its own kind; a
  // build is offered of whatever was read, also of nothing but the placeholder row of an empty file.
  Load("a=b,1\r\n");
  EXPECT_EQ(Errors(), std::vector<std::string>{kEqualsMessage + "."});
  EXPECT_FALSE(form->CreateEnc->isEnabled()) << "no build of nothing";
  Load("");
  EXPECT_TRUE(Errors().empty() && form->CreateEnc->isEnabled());
  Load("alice,1\r\nAlice,3\r\n");  // the rows before the refused line stay, and can be built
  EXPECT_EQ(std::make_tuple(Errors(), Lines(), form->CreateEnc->isEnabled()),
            std::make_tuple(std::vector<std::string>{DuplicateMessage("Alice") + "."}, std::vector<std::string>{"alice=1"}, true));
}

TEST_F(WindowTest, BuildTakesTheEditBoxesAsTheyStandAndAnEmptyTableItsPlaceholderRow) {
  form->AuthUserFile->setText("/var/www/秘密/.htpasswd");
  form->AuthName->setText("");
  Run(&TForm1::CreateEncClick);
  EXPECT_TRUE(form->Htaccess->Text().starts_with("AuthUserFile " + Sjis("/var/www/秘密/.htpasswd") +
                                                 "\r\nAuthGroupFile /dev/null\r\nAuthName \"\"\r\n"));
  ASSERT_EQ(Lines().size(), 1u);
  const std::string password = Lines()[0].substr(1);
  EXPECT_EQ(Lines()[0], "=" + password) << "the placeholder row got a line";
  EXPECT_EQ(password.find_first_not_of(CryptAlphabet.substr(2)), std::string::npos);
  ASSERT_EQ(form->Htpasswd->Text().size(), 1u + 13u + 2u);
  EXPECT_TRUE(CryptAccepts(password, form->Htpasswd->Text().substr(1, 13)));
  EXPECT_EQ(form->Htpasswd->ShownText().toStdString(), ":" + form->Htpasswd->Text().substr(1, 13)) << "a box of one line shows it";
  // A character the code page cannot hold is refused, not replaced in a server's configuration.
  form->AuthName->setText("\U0001F600 area");
  const std::string before = form->Htaccess->Text();
  Run(&TForm1::CreateEncClick);
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_TRUE(dialogs.errors[0].contains("U+1F600")) << dialogs.errors[0].toStdString();
  EXPECT_EQ(form->Htaccess->Text(), before);
}

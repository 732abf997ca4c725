// The whole job through the real window: load a credential file, build, save, and every way each
// step can stop.
#include <QStatusBar>

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
  EXPECT_EQ(Table().CellText(table::Column::Value, 3).size(), 8u) << "bob's generated password is in the table";
  Click(form->SaveData);  // the chooser is cancelled: nothing is written
  EXPECT_EQ(dir.Listing(), "users.csv");
  const std::string out = dir.File("out");
  mkdir(out.c_str(), 0755);
  SaveTo(out + "/");  // a folder that ends with the separator gets no second one
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(ReadBytes(out + "/.htpasswd") + ReadBytes(out + "/.htaccess") + ReadBytes(out + "/passwd.txt"),
            form->Htpasswd->Text() + kDefaultHtaccess + Table().Strings().Text());
  // Whatever goes into the files makes the built ones stale: a cell, either setting of .htaccess.
  const std::function<void()> changes[] = {[&] { Table().SetCellText(table::Column::Value, 1, "changed"); },
                                           [&] { form->AuthUserFile->setText("/srv/.htpasswd"); },
                                           [&] { form->AuthName->setText("Members"); }};
  for (const auto& change : changes) {
    Click(form->CreateEnc);
    ASSERT_TRUE(form->SaveData->isEnabled());
    change();
    EXPECT_FALSE(form->SaveData->isEnabled() || Item("SaveDataItem")->isEnabled()) << "the built files no longer hold it";
  }

  // The next load asks about the unsaved change first; cancelling its file dialog, which offers the
  // last file, changes nothing.
  const std::vector<std::string> rows = Lines();
  const std::string shown = form->Htpasswd->Text();
  Run(&TForm1::LoadFileClick);
  EXPECT_EQ(dialogs.open_initial.toStdString(), dir.File("users.csv"));
  EXPECT_EQ(dialogs.unsaved_questions.size(), 1u);
  EXPECT_TRUE(Lines() == rows && form->Htpasswd->Text() == shown && form->CreateEnc->isEnabled());

  // A refused file is named with its line and leaves the table as it was; a build is offered of
  // whatever was read, also of nothing but the placeholder row of an empty file.
  Load("a=b,1\r\n");
  const std::string at = Sjis("「" + dir.File("users.csv") + "」の ");
  EXPECT_EQ(Errors(), std::vector<std::string>{at + Sjis("1 行目：") + kEqualsMessage}) << "one full stop";
  EXPECT_EQ(Lines(), rows);
  Load("");
  EXPECT_TRUE(Errors().empty() && Lines().empty() && form->CreateEnc->isEnabled());
  Load("alice,1\r\nAlice,3\r\n");
  EXPECT_EQ(std::make_tuple(Errors(), Lines(), form->CreateEnc->isEnabled()),
            std::make_tuple(std::vector<std::string>{at + Sjis("2 行目：ユーザ「Alice」は「alice」と大文字・小文字しか違わないため、"
                                                                "同じユーザとみなされます。どちらかの名前を変えてください.")},
                            std::vector<std::string>{}, true));
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

// Nothing the user typed or built is lost to a cancel, a close or another file: each way out asks
// first, and a cancel anywhere leaves the table, the boxes and the build as they were.
TEST_F(WindowTest, NoWorkIsLostToACancelOrACloseOrAnotherFile) {
  using Answer = TDialogs::TUnsaved;
  WriteBytes(dir.File("other.csv"), "zed,1\r\n");
  WriteBytes(dir.File(".htpasswd"), "carol:" + std::string(13, 'c') + "\n");
  struct Case {
    const char* label;
    std::function<void()> action;
    std::deque<Answer> answers;
    std::deque<QString> files;
    bool kept;  // the table still holds the typed work
  };
  const QString csv = QString::fromStdString(dir.File("other.csv")), htpasswd = QString::fromStdString(dir.File(".htpasswd"));
  const std::vector<Case> cases = {
      {"load, cancelled at the question", [&] { Run(&TForm1::LoadFileClick); }, {Answer::Cancel}, {csv}, true},
      {"load, cancelled in the file dialog", [&] { Run(&TForm1::LoadFileClick); }, {Answer::Discard}, {}, true},
      {"load, discarding", [&] { Run(&TForm1::LoadFileClick); }, {Answer::Discard}, {csv}, false},
      {"open, cancelled at the question", [&] { Item("OpenHtpasswdItem")->trigger(); }, {Answer::Cancel}, {htpasswd}, true},
      {"open, cancelled in the file dialog", [&] { Item("OpenHtpasswdItem")->trigger(); }, {Answer::Discard}, {}, true},
      {"open, discarding", [&] { Item("OpenHtpasswdItem")->trigger(); }, {Answer::Discard}, {htpasswd}, false},
      {"close, cancelled", [&] { Key(Qt::Key_Q, Qt::ControlModifier); }, {Answer::Cancel}, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Load("alice,1\r\n");
    ClickCell(0, 1);
    Type("bob");  // unsaved work
    Click(form->CreateEnc);
    const std::vector<std::string> rows = Lines();
    const std::string box = form->Htpasswd->Text();
    dialogs.unsaved = c.answers;
    dialogs.files = c.files;
    dialogs.unsaved_questions.clear();
    c.action();
    EXPECT_EQ(dialogs.unsaved_questions, std::vector<QString>{"保存していない変更があります。保存しますか？\n"
                                                              "「破棄」を選ぶと、表の変更と作成したパスワードは失われます。"});
    EXPECT_EQ(Lines() == rows && form->Htpasswd->Text() == box, c.kept);
    EXPECT_EQ(form->Htpasswd->Text().empty() && form->Htaccess->Text().empty(), !c.kept) << "another file's table shows no old build";
    EXPECT_TRUE(form->isVisible());
  }
  // Nothing unsaved: no question. Saved from the question: built first, then saved; then the close goes.
  Load("alice,1\r\n");
  dialogs.unsaved_questions.clear();
  Run(&TForm1::LoadFileClick);
  EXPECT_TRUE(dialogs.unsaved_questions.empty()) << "a file just read holds no unsaved work";
  mkdir(dir.File("opened").c_str(), 0755);
  WriteBytes(dir.File("opened/.htpasswd"), "erin:" + std::string(13, 'e') + "\n");
  WriteBytes(dir.File("opened/.htaccess"), "AuthName \"Members\"\n");
  OpenHtpasswd(dir.File("opened/.htpasswd"));
  Run(&TForm1::LoadFileClick);
  EXPECT_TRUE(dialogs.unsaved_questions.empty() && form->AuthName->text() == "Members") << "nor one just opened, with the settings beside it";
  Load("alice,1\r\n");
  ClickCell(1, 1);
  Type("x");
  dialogs.unsaved = {Answer::Save};
  dialogs.folders = {QString::fromStdString(dir.path())};
  dialogs.confirms = {true};  // to replace the .htpasswd there, named with its users
  Key(Qt::Key_Q, Qt::ControlModifier);
  EXPECT_EQ(dialogs.questions.back(), "保存先の「" + QString::fromStdString(dir.File(".htpasswd")) +
                                          "」には、1 人のユーザがいる別の .htpasswd があります。\n"
                                          "置き換えると、そのうち 1 人のユーザが削除されます（追加 1 人、変更 0 人）。\n置き換えますか？");
  EXPECT_TRUE(ServerUsers(ReadBytes(dir.File(".htpasswd"))).count("alice") == 1 && !form->isVisible());
}

// After a save the boxes show the files on disk, whatever the save merged in or left as it was;
// the title names the file, and a status line says where it went.
TEST_F(WindowTest, AfterASaveTheBoxesShowTheFilesOnDisk) {
  const std::string des = std::string(13, 'a');
  WriteBytes(dir.File(".htpasswd"), "bob:" + des + "\nerin:" + des + "\nfrank:" + des + "\n");
  WriteBytes(dir.File(".htaccess"), "AuthType Basic\nRewriteEngine On\n");
  OpenHtpasswd(dir.File(".htpasswd"));
  EXPECT_EQ(form->windowTitle().toStdString(), dir.File(".htpasswd") + " - Vastelo");
  // Meanwhile on disk: henry added, erin changed, frank removed.
  const std::string theirs = "bob:" + des + "\nerin:" + std::string(13, 'e') + "\nhenry:" + des + "\n";
  WriteBytes(dir.File(".htpasswd"), theirs);
  ClickCell(1, 1);
  Type("new");
  Click(form->CreateEnc);
  dialogs.confirms = {false};  // keep the .htaccess there
  SaveTo(dir.path());
  const std::string saved = ReadBytes(dir.File(".htpasswd"));
  EXPECT_EQ(saved.substr(saved.find('\n')), theirs.substr(theirs.find('\n'))) << "merged";
  EXPECT_EQ(form->Htpasswd->Text(), text::JoinLines(text::SplitLines(saved)));
  EXPECT_EQ(form->Htaccess->Text(), text::JoinLines({"AuthType Basic", "RewriteEngine On"})) << "the .htaccess kept, as it is";
  EXPECT_EQ(form->statusBar()->currentMessage(), "保存しました: " + QString::fromStdString(dir.path()) + "/（.htaccess は元のまま）");
  // A refused build leaves both boxes empty, not a half of it.
  form->AuthName->setText("a\"b");
  Click(form->CreateEnc);
  EXPECT_EQ(Errors().size(), 1u);
  EXPECT_TRUE(form->Htpasswd->Text().empty() && form->Htaccess->Text().empty());
}

// ユーザの検索 (Ctrl+F) moves to the next row whose name holds the text, in any letter case.
TEST_F(WindowTest, FindMovesToTheNextUserWhoseNameHoldsTheText) {
  Fill({"alice=1", "bob=2", "Alison=3"});
  for (const auto& [typed, row] : {std::pair{"ali", 3}, {"ALI", 1}, {"b", 2}, {"zzz", 2}}) {
    dialogs.texts = {QString::fromUtf8(typed)};
    Key(Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(Current(), std::make_pair(0, row)) << typed;
  }
  EXPECT_EQ(dialogs.information.back(), "ユーザの検索\n「zzz」を含むユーザは見つかりません。");
}

// ファイル > 最近使ったファイル: the last eight files read or opened, newest first and each once,
// and a click reads it again the way it was read.
TEST_F(WindowTest, RecentFilesReopenWhatWasReadNewestFirstAndOnce) {
  auto* recent = form->findChild<QMenu*>("RecentMenu");
  EXPECT_FALSE(recent->isEnabled()) << "nothing yet";
  WriteBytes(dir.File(".htpasswd"), "carol:" + std::string(13, 'c') + "\n");
  Load("alice,1\r\n");
  OpenHtpasswd(dir.File(".htpasswd"));
  Load("alice,1\r\n");
  const auto shown = [&] {
    QStringList paths;
    for (const QAction* action : recent->actions()) paths << action->text();
    return paths.join(u'|').toStdString();
  };
  EXPECT_EQ(shown(), dir.File("users.csv") + "|" + dir.File(".htpasswd"));
  recent->actions()[1]->trigger();
  EXPECT_EQ(std::make_pair(Lines(), Table().Strings().Held(0).size()), std::make_pair(std::vector<std::string>{"carol="}, std::size_t{13}));
  for (int i = 0; i < 9; ++i) WriteBytes(dir.File(std::to_string(i) + ".csv"), "u,p\r\n"), LoadPath(dir.File(std::to_string(i) + ".csv"));
  EXPECT_EQ(recent->actions().size(), 8);
  EXPECT_EQ(recent->actions()[0]->text().toStdString(), dir.File("8.csv"));
}

// Keeping an existing .htpasswd through the real window: opened, changed and saved without
// re-issuing anyone, with the hashes made here by the libraries the servers use.
#include <QDialogButtonBox>
#include <QLabel>

#include "app/verify_dialog.h"
#include "window_fixture.h"

using namespace std::string_literals;

namespace {

// Users user0, user1, ... with the passwords pw0, pw1, ..., their hashes made by the libraries the
// servers use: DES crypt(3) and apr-util's MD5 in turn.
std::string UsersFile(int count) {
  std::string file;
  for (int i = 0; i < count; ++i) {
    const std::string password = "pw" + std::to_string(i);
    file += "user" + std::to_string(i) + ":" + (i % 2 ? Apr1(password, "saltsalt") : Crypt(password, "ab")) + "\n";
  }
  return file;
}

}  // namespace

TEST_F(WindowTest, AnOpenedFileIsChangedWithoutReissuingAnyone) {
  const std::string file = UsersFile(6);
  WriteBytes(dir.File(".htpasswd"), file);
  OpenHtpasswd(dir.File(".htpasswd"));
  EXPECT_EQ(form->AuthUserFile->text().toStdString(), dir.File(".htpasswd")) << "where the file was found";
  ASSERT_EQ(Table().Strings().Count(), 6);
  EXPECT_TRUE(form->CreateEnc->isEnabled() && form->UserList->model()->index(2, 1).data().toString() == "（既存のハッシュ）");

  // One password changed and taken back with Escape, then changed for good; one user renamed.
  ClickCell(1, 3);
  EXPECT_EQ(Editor()->placeholderText(), "（既存のハッシュ）");
  const std::string held = ServerUsers(file).at("user2");
  Type("x");
  EXPECT_EQ(Table().Strings().Held(2), "");
  Key(Qt::Key_Escape);
  EXPECT_EQ(Table().Strings().Held(2), held) << "Escape holds the hash again";
  Type("y");
  Key(Qt::Key_Backspace);
  EXPECT_EQ(Table().Strings().Held(2), held) << "and so does emptying the cell";
  Type("new2");
  ClickCell(0, 4);
  Type("renamed3");
  // One user removed after a question naming them; the first answer is no.
  dialogs.confirms = {false, true};
  ClickCell(0, 5);
  for (int i = 0; i < 2; ++i) Item("DeleteRowItem")->trigger();
  EXPECT_EQ(dialogs.questions, std::vector<QString>(2, "ユーザ「user4」の行を削除しますか？"));
  // One user added from a credential file below the others.
  WriteBytes(dir.File("more.csv"), "newcomer,fresh\r\n");
  dialogs.files.push_back(QString::fromStdString(dir.File("more.csv")));
  Item("AppendFileItem")->trigger();
  EXPECT_EQ(dialogs.open_title, "認証に必要なカンマ区切りデータを読み込む");

  // Saved where it was opened: the removals (a renamed user is one too: the old name no longer logs
  // in) and the hand-edited .htaccess there are asked about.
  WriteBytes(dir.File(".htaccess"), "AuthType Basic\r\n");
  Choose(hashes::Format::Bcrypt);  // for the new ones
  Click(form->CreateEnc);
  dialogs.questions.clear();
  dialogs.confirms = {false};
  SaveTo(dir.path());
  EXPECT_EQ(ReadBytes(dir.File(".htpasswd")), file) << "no is no";
  dialogs.confirms = {true, false};
  SaveTo(dir.path());
  const QString removal = "保存すると .htpasswd から次の 2 人のユーザが削除されます: 「user3」、「user4」\n（追加 2 人、変更 1 人）\n保存しますか？";
  EXPECT_EQ(dialogs.questions, (std::vector<QString>{removal, removal,
                                                     "保存先の .htaccess は作成した内容と異なります。置き換えますか？\n"
                                                     "「いいえ」では .htaccess をそのままにして、ほかのファイルを保存します。"}));
  EXPECT_TRUE(Errors().empty() && ReadBytes(dir.File(".htaccess")) == "AuthType Basic\r\n");
  const std::map<std::string, std::string> users = ServerUsers(ReadBytes(dir.File(".htpasswd")));
  EXPECT_TRUE(users.size() == 6 && AprAccepts("new2", users.at("user2")) && users.at("newcomer").starts_with("$2y$04$"));
  // The table now shows the file as saved, every row holding its hash, and there is nothing new to save.
  EXPECT_TRUE(Table().Strings().Held(2) == users.at("user2") && !form->SaveData->isEnabled());
  // A refused name in the editor stops a build of rows that all hold their hashes, too.
  ClickCell(0, 2);
  Type("user0");
  Key(Qt::Key_B, Qt::ControlModifier);
  EXPECT_EQ(Errors(), std::vector<std::string>{DuplicateMessage("user0") + "."});

  // A file that cannot be read as lines leaves the table and its build as they were.
  Key(Qt::Key_Escape);
  Run(&TForm1::CreateEncClick);
  ASSERT_TRUE(form->SaveData->isEnabled());
  const std::vector<std::string> rows = Lines();
  const std::string shown = form->Htpasswd->Text();
  WriteBytes(dir.File("bad"), "alice:x\r\ncarol:\0x\r\n"s);
  OpenHtpasswd(dir.File("bad"));
  EXPECT_EQ(Errors(), std::vector<std::string>{Sjis("2 行目に NUL バイトがあるため、.htpasswd として読めません.")});
  EXPECT_TRUE(Lines() == rows && form->Htpasswd->Text() == shown && form->SaveData->isEnabled());
}

TEST_F(WindowTest, PasswordsAreCheckedAsTheServersCheckThem) {
  // A cost apr-util (so Apache) refuses, made by libxcrypt for "secret"; and a hash of SHA-512
  // rounds no test waits for.
  WriteBytes(dir.File("existing"), UsersFile(5) + "deep:$2y$18$abcdefghijklmnopqrstuuXdmDn.zg8HpKnyybllWeUXe896pTUgO\n" +
                                       "slow:$6$rounds=999999999$saltsaltsaltsalt$" + std::string(86, 'A') + "\n");
  OpenHtpasswd(dir.File("existing"));
  Table().InsertEntry("typed", "secret", true);
  ClickCell(0, 2);
  Item("VerifyItem")->trigger();
  EXPECT_EQ(dialogs.verify_user, "user1") << "the current row's user is offered";
  // The answer as the dialog shows it, waiting here for one computed off the window's thread.
  const auto check = [&](const std::string& user, const std::string& password) {
    const TDialogs::TCheckAnswer answer = dialogs.check(QString::fromStdString(user), QString::fromStdString(password));
    return (answer.later ? answer.later() : answer.now).toStdString();
  };
  for (int i = 0; i < 2; ++i) {
    const std::string user = "user" + std::to_string(i), password = "pw" + std::to_string(i);
    EXPECT_EQ(check(user, password), "「" + user + "」のパスワードは一致します。") << i;
    EXPECT_EQ(check(user, password + "x"), "「" + user + "」のパスワードは一致しません。") << i;
  }
  const std::pair<std::string, std::string> answers[][2] = {
      {{"typed", "secret"}, {"「typed」のハッシュはまだありません。認証データ作成で作られます。", ""}},
      {{"nobody", "x"}, {"ユーザ「nobody」は表にありません。", ""}},
      {{"", "pw0"}, {"ユーザ名を入力してください。", ""}},
      {{"USER0", "pw0"}, {"ユーザ「USER0」は表にありません。", "servers compare names byte for byte"}},
      {{"deep", "secret"}, {"「deep」のハッシュはこの形式のため確認できません。", "no verdict on a refused cost"}},
  };
  for (const auto& [asked, expected] : answers) EXPECT_EQ(check(asked.first, asked.second), expected.first) << expected.second;
  Click(form->CreateEnc);
  EXPECT_EQ(check("typed", "secret"), "「typed」のパスワードは一致します。") << "the built hash";
  EXPECT_EQ(check("TYPED", "secret"), "ユーザ「TYPED」は表にありません。");
  EXPECT_EQ(check("typed", "Secret"), "「typed」のパスワードは一致しません。");

  // The dialog asks with what is typed into it, and a check that runs for minutes can be stopped
  // while the window goes on handling events.
  TVerifyDialog dialog(form.get(), "user3", dialogs.check);
  dialog.show();
  EXPECT_EQ(dialog.CheckButton->text() + u'|' + QString::number(dialog.Password->echoMode()), "確認(&V)|2") << "the password is not shown";
  dialog.Password->setText("pw3");
  QTest::keyClick(dialog.Password, Qt::Key_Return);  // Enter checks
  EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.Result->text() == "「user3」のパスワードは一致します。"; })) << dialog.Result->text().toStdString();
  EXPECT_FALSE(dialog.User->geometry().intersects(dialog.Password->geometry())) << "laid out";
  dialog.User->setText("slow");
  dialog.CheckButton->click();
  EXPECT_EQ(dialog.Result->text() + u'|' + dialog.CheckButton->text(), "確認しています…|中止(&C)");
  bool posted = false;
  QTimer::singleShot(100, [&] { posted = true; });  // after several of the dialog's looks at the work
  EXPECT_TRUE(QTest::qWaitFor([&] { return posted; }));
  dialog.CheckButton->click();
  EXPECT_EQ(dialog.Result->text() + u'|' + dialog.CheckButton->text(), "確認を中止しました。|確認(&V)");
  dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close)->click();
  EXPECT_FALSE(dialog.isVisible());
}

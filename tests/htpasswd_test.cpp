// Keeping an existing .htpasswd through the real window: opened, changed and saved without
// re-issuing anyone, with the hashes made here by the libraries the servers use.
#include <apr_md5.h>
#include <apr_sha1.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>

#include "app/verify_dialog.h"
#include "des_crypt/des_crypt.h"
#include "window_fixture.h"

namespace {

// The five forms a file may hold, for the password of user i.
std::string HashOf(int i, const std::string& password) {
  char out[128];
  crypt_data data{};
  const std::string salt = "s" + std::to_string(i % 10) + "ltSALT";
  switch (i % 5) {
    case 0:
      return DesCrypt(password, salt.substr(0, 2));
    case 1:
      apr_md5_encode(password.c_str(), ("$apr1$" + salt + "$").c_str(), out, sizeof out);
      return out;
    case 2:
      return crypt_r(password.c_str(), ("$6$rounds=1000$" + salt).c_str(), &data);
    case 3:
      return crypt_r(password.c_str(), ("$2y$04$" + salt + "abcdefghijklmn").c_str(), &data);
    default:
      apr_sha1_base64(password.c_str(), static_cast<int>(password.size()), out);
      return out;
  }
}

class HtpasswdTest : public WindowTest {
 protected:
  void Open(const std::string& path) {
    dialogs.files.push_back(QString::fromStdString(path));
    Item("OpenHtpasswdItem")->trigger();
    Settle();
  }
  // Every line of a .htpasswd, by user name.
  static std::map<std::string, std::string> ByUser(const std::string& bytes) {
    std::map<std::string, std::string> out;
    for (const std::string& line : text::SplitLines(bytes)) out[line.substr(0, line.find(':'))] = line;
    return out;
  }
};

}  // namespace

TEST_F(HtpasswdTest, AnOpenedFileIsChangedWithoutReissuingAnyone) {
  std::string file;
  for (int i = 0; i < 200; ++i) file += "user" + std::to_string(i) + ":" + HashOf(i, "pw" + std::to_string(i)) + (i % 2 ? "\r\n" : "\n");
  WriteBytes(dir.File(".htpasswd"), file);
  Open(dir.File(".htpasswd"));
  EXPECT_EQ(dialogs.open_title, "既存の.htpasswdを開く");
  ASSERT_EQ(Table().Strings().Count(), 200);
  EXPECT_TRUE(form->CreateEnc->isEnabled());
  EXPECT_EQ(form->UserList->model()->index(2, 1).data().toString(), "（既存のハッシュ）");

  // One password changed and taken back with Escape, then changed for good; one user renamed.
  ClickCell(1, 3);
  EXPECT_EQ(Editor()->placeholderText(), "（既存のハッシュ）");
  Type("x");
  EXPECT_EQ(Table().Strings().Held(2), "");
  Key(Qt::Key_Escape);
  EXPECT_EQ(Table().Strings().Held(2), HashOf(2, "pw2")) << "Escape holds the hash again";
  Type("y");
  Key(Qt::Key_Backspace);
  EXPECT_EQ(Table().Strings().Held(2), HashOf(2, "pw2")) << "and so does emptying the cell";
  Type("new2");
  ClickCell(0, 4);
  Type("renamed3");
  // One user removed after a confirmation naming them; the first answer is no.
  dialogs.confirms = {false, true};
  ClickCell(0, 5);
  for (int i = 0; i < 2; ++i) Item("DeleteRowItem")->trigger();
  EXPECT_EQ(dialogs.questions, (std::vector<QString>{"ユーザ「user4」の行を削除しますか？", "ユーザ「user4」の行を削除しますか？"}));
  // One user added from a credential file below the others.
  WriteBytes(dir.File("more.csv"), "newcomer,fresh\r\n");
  dialogs.files.push_back(QString::fromStdString(dir.File("more.csv")));
  Item("AppendFileItem")->trigger();
  ASSERT_EQ(Table().Strings().Count(), 200);
  EXPECT_EQ(dialogs.open_title, "認証に必要なカンマ区切りデータを読み込む");

  // Saved where it was opened: the removals (a renamed user is one too: the old name no longer logs
  // in) and the hand-edited .htaccess there are asked about.
  WriteBytes(dir.File(".htaccess"), "AuthType Basic\r\nRewriteRule ^a$ b\r\n");
  EXPECT_EQ(form->AuthUserFile->text().toStdString(), dir.File(".htpasswd")) << "where the file was found";
  Choose(hashes::Format::Bcrypt);  // for the new ones
  Click(form->CreateEnc);
  const std::vector<std::string> shown = text::SplitLines(form->Htpasswd->Text());
  EXPECT_EQ(shown.size(), 200u);
  EXPECT_EQ(form->Htpasswd->Text(), text::JoinLines(shown)) << "the box ends its lines its own way, whatever the file's";
  dialogs.questions.clear();
  dialogs.confirms = {false};
  SaveTo(dir.path());
  EXPECT_EQ(ReadBytes(dir.File(".htpasswd")), file) << "no is no";
  dialogs.confirms = {true, false};
  SaveTo(dir.path());
  EXPECT_EQ(dialogs.questions,
            (std::vector<QString>{"保存すると .htpasswd から次の 2 人のユーザが削除されます: 「user3」、「user4」\n（追加 2 人、変更 1 人）\n保存しますか？",
                                  "保存すると .htpasswd から次の 2 人のユーザが削除されます: 「user3」、「user4」\n（追加 2 人、変更 1 人）\n保存しますか？",
                                  "保存先の .htaccess は作成した内容と異なります。置き換えますか？\n"
                                  "「いいえ」では .htaccess をそのままにして、ほかのファイルを保存します。"}));
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(ReadBytes(dir.File(".htaccess")), "AuthType Basic\r\nRewriteRule ^a$ b\r\n");
  const std::map<std::string, std::string> after = ByUser(ReadBytes(dir.File(".htpasswd")));
  EXPECT_EQ(after.size(), 200u);
  EXPECT_EQ(after.at("user1"), ByUser(file).at("user1")) << "untouched, byte for byte";
  EXPECT_EQ(after.at("renamed3"), "renamed3:" + HashOf(3, "pw3")) << "a hash does not depend on the name";
  EXPECT_TRUE(Verifies("new2", after.at("user2").substr(6)) && after.at("newcomer").find("$2y$04$") != std::string::npos);
  EXPECT_EQ(ReadBytes(dir.File("passwd.txt")), "user2=new2\r\nnewcomer=fresh\r\n") << "only the passwords the tool knows";
  // The table now shows the file as saved, and there is nothing new to save.
  EXPECT_EQ(Table().Strings().Count(), 200);
  EXPECT_FALSE(form->SaveData->isEnabled());
  // A refused name in the editor stops a build of rows that all hold their hashes, too.
  ClickCell(0, 2);
  Type("user0");
  Key(Qt::Key_B, Qt::ControlModifier);
  EXPECT_EQ(Errors(), std::vector<std::string>{DuplicateShown("user0")});
}

TEST_F(HtpasswdTest, AFileThatIsNoListOfLinesIsRefusedWholeAndLeavesNothingToBuildOrSave) {
  const std::string good = "alice:" + HashOf(0, "a") + "\r\nbob:" + HashOf(1, "b") + "\r\n";
  mkfifo(dir.File("fifo").c_str(), 0600);
  const struct {
    const char* label;
    std::string bytes;  // empty: the FIFO
    std::string message;
  } cases[] = {
      {"a NUL byte", good + std::string("carol:\0x\r\n", 10), Sjis("3 行目に NUL バイトがあるため、.htpasswd として読めません.")},
      {"a FIFO", "", Sjis("ファイル \"" + dir.File("fifo") + "\". 通常のファイルではありません は開けません.")},
  };
  for (const auto& c : cases) {
    WriteBytes(dir.File("good"), good);
    Open(dir.File("good"));
    Click(form->CreateEnc);
    ASSERT_TRUE(form->SaveData->isEnabled()) << c.label;
    const std::string path = c.bytes.empty() ? dir.File("fifo") : dir.File("bad");
    if (!c.bytes.empty()) WriteBytes(path, c.bytes);
    Open(path);
    EXPECT_EQ(Errors(), std::vector<std::string>{c.message}) << c.label;
    EXPECT_TRUE(Lines().empty()) << c.label;
    EXPECT_FALSE(form->CreateEnc->isEnabled() || form->SaveData->isEnabled()) << c.label;
    EXPECT_TRUE(form->Htpasswd->Text().empty() && form->Htaccess->Text().empty()) << c.label;
  }
  // Lines a server skips or reads its own way do not stop the opening; they are kept, not shown.
  WriteBytes(dir.File("odd"), "# ops\r\n" + good + "carol:pass4\r\nbob:" + HashOf(2, "c") + "\r\n");
  Open(dir.File("odd"));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"alice=", "bob="}));
  EXPECT_TRUE(form->CreateEnc->isEnabled());
  EXPECT_EQ(form->AuthUserFile->text().toStdString(), dir.File("odd")) << "where the file was found";
}

TEST_F(HtpasswdTest, PasswordsAreCheckedAsTheServersCheckThem) {
  std::string file;
  for (int i = 0; i < 5; ++i) file += "user" + std::to_string(i) + ":" + HashOf(i, "pw" + std::to_string(i)) + "\r\n";
  // A cost apr-util (so Apache) refuses, made by libxcrypt for "secret"; and a hash of SHA-512
  // rounds no test waits for.
  file += "deep:$2y$18$abcdefghijklmnopqrstuuXdmDn.zg8HpKnyybllWeUXe896pTUgO\n";
  file += "slow:$6$rounds=999999999$saltsaltsaltsalt$" + std::string(86, 'A') + "\n";
  WriteBytes(dir.File("existing"), file);
  Open(dir.File("existing"));
  Table().InsertEntry("typed", "secret", true);
  ClickCell(0, 2);
  Item("VerifyItem")->trigger();
  EXPECT_EQ(dialogs.verify_user, "user1") << "the current row's user is offered";
  // The answer as the dialog shows it, waiting here for one computed off the window's thread.
  const auto check = [&](const QString& user, const char* password) {
    const TDialogs::TCheckAnswer answer = dialogs.check(user, password);
    return (answer.later ? answer.later() : answer.now).toStdString();
  };
  for (int i = 0; i < 5; ++i) {
    const std::string user = "user" + std::to_string(i), password = "pw" + std::to_string(i);
    EXPECT_EQ(check(user.c_str(), password.c_str()), "「" + user + "」のパスワードは一致します。") << i;
    EXPECT_EQ(check(user.c_str(), (password + "x").c_str()), "「" + user + "」のパスワードは一致しません。") << i;
  }
  const std::pair<const char*, const char*> before_build[][2] = {
      {{"typed", "secret"}, {"「typed」のハッシュはまだありません。認証データ作成で作られます。", nullptr}},
      {{"nobody", "x"}, {"ユーザ「nobody」は表にありません。", nullptr}},
      {{"", "pw0"}, {"ユーザ名を入力してください。", nullptr}},
      {{"USER0", "pw0"}, {"ユーザ「USER0」は表にありません。", "servers compare names byte for byte"}},
      {{"deep", "secret"}, {"「deep」のハッシュはこの形式のため確認できません。", "no verdict on a refused cost"}},
  };
  for (const auto& [asked, expected] : before_build)
    EXPECT_EQ(check(QString::fromUtf8(asked.first), asked.second), expected.first) << asked.first;
  Click(form->CreateEnc);
  EXPECT_EQ(check("typed", "secret"), "「typed」のパスワードは一致します。") << "the built hash";
  EXPECT_EQ(check("TYPED", "secret"), "ユーザ「TYPED」は表にありません。");
  EXPECT_EQ(check("typed", "Secret"), "「typed」のパスワードは一致しません。");

  // The dialog asks with what is typed into it, and a check that runs for minutes can be stopped
  // while the window goes on handling events.
  TVerifyDialog dialog(form.get(), "user3", dialogs.check);
  dialog.show();
  dialog.Password->setText("pw3");
  EXPECT_TRUE(dialog.CheckButton->isDefault()) << "Enter checks";
  dialog.CheckButton->click();
  QTRY_COMPARE(dialog.Result->text(), "「user3」のパスワードは一致します。");
  EXPECT_FALSE(dialog.User->geometry().intersects(dialog.Password->geometry())) << "laid out";
  dialog.User->setText("slow");
  dialog.CheckButton->click();
  EXPECT_EQ(dialog.Result->text(), "確認しています…");
  EXPECT_EQ(dialog.CheckButton->text(), "中止(&C)");
  bool posted = false;
  QTimer::singleShot(0, [&] { posted = true; });
  QTRY_VERIFY(posted);
  dialog.CheckButton->click();
  EXPECT_EQ(dialog.Result->text(), "確認を中止しました。");
  EXPECT_EQ(dialog.CheckButton->text(), "確認(&V)");
  dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close)->click();
  EXPECT_FALSE(dialog.isVisible());
}

TEST_F(HtpasswdTest, AFileThatLooksWrittenInTheOtherEncodingIsOfferedToBeReadInIt) {
  const std::string line_end = ":" + DesCrypt("pw", "ab") + "\n";
  struct Case {
    bool utf8;         // the mode it is opened in
    bool file_utf8;    // the name ユーザ in UTF-8, or else in Shift-JIS
    bool asked, yes;
  };
  const Case cases[] = {
      {false, true, true, true}, {true, false, true, true}, {false, true, true, false}, {true, true, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "UTF-8 mode " << c.utf8 << ", UTF-8 file " << c.file_utf8 << ", yes " << c.yes);
    Choose(hashes::Format::Des, c.utf8);
    dialogs.questions.clear();
    dialogs.confirms = {c.yes};
    WriteBytes(dir.File("existing"), (c.file_utf8 ? std::string("ユーザ") : Sjis("ユーザ")) + line_end);
    Open(dir.File("existing"));
    ASSERT_EQ(dialogs.questions.size(), c.asked ? 1u : 0u);
    if (c.asked) {
      EXPECT_EQ(dialogs.questions[0], QStringLiteral("この .htpasswd は %1 で書かれているようです。\n"
                                                     "文字コードを %1 に切り替えて読み込み直しますか？")
                                          .arg(c.file_utf8 ? "UTF-8" : "Shift-JIS"));
    }
    const bool utf8_after = c.yes ? c.file_utf8 : c.utf8;
    EXPECT_EQ(form->CurrentOptions().utf8, utf8_after);
    EXPECT_TRUE(form->findChild<QMenu*>("EncodingMenu")->actions()[utf8_after ? 1 : 0]->isChecked());
    if (utf8_after == c.file_utf8) {
      ASSERT_EQ(Table().Strings().Count(), 1);
      EXPECT_EQ(form->UserList->model()->index(0, 0).data().toString(), "ユーザ") << "read again in the other mode";
    }
  }
  // ASCII alone tells nothing: no question.
  dialogs.questions.clear();
  WriteBytes(dir.File("existing"), "ascii" + line_end);
  Open(dir.File("existing"));
  EXPECT_TRUE(dialogs.questions.empty());
  EXPECT_EQ(Table().Strings().Count(), 1);
}

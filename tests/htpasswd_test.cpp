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

  const std::string site = dir.File("site");
  form->AuthUserFile->setText(QString::fromStdString(site + "/.htpasswd"));
  Choose(hashes::Format::Bcrypt);  // for the new ones
  Click(form->CreateEnc);
  mkdir(site.c_str(), 0755);
  SaveTo(site);
  EXPECT_TRUE(Errors().empty());
  const std::map<std::string, std::string> before = ByUser(file), after = ByUser(ReadBytes(site + "/.htpasswd"));
  EXPECT_EQ(after.size(), 200u);
  for (const auto& [user, line] : before) {
    if (user == "user2" || user == "user3" || user == "user4") continue;
    EXPECT_EQ(after.at(user), line) << "untouched, byte for byte";
  }
  EXPECT_EQ(after.count("user4"), 0u);
  EXPECT_EQ(after.at("renamed3"), "renamed3:" + HashOf(3, "pw3")) << "a hash does not depend on the name";
  for (const auto& [user, password] : {std::pair{"user2", "new2"}, {"newcomer", "fresh"}}) {
    const std::string hash = after.at(user).substr(after.at(user).find(':') + 1);
    EXPECT_TRUE(hash.starts_with("$2y$04$") && Verifies(password, hash)) << hash;
  }
  EXPECT_EQ(ReadBytes(site + "/passwd.txt"), "user2=new2\r\nnewcomer=fresh\r\n") << "only the passwords the tool knows";

  // Reopened, the saved file holds every user again.
  Open(site + "/.htpasswd");
  EXPECT_EQ(Table().Strings().Count(), 200);
}

TEST_F(HtpasswdTest, AMalformedFileStopsAtItsLineAndAddsNothingElse) {
  const std::string good = "alice:" + HashOf(0, "a") + "\r\nbob:" + HashOf(1, "b") + "\r\n";
  mkfifo(dir.File("fifo").c_str(), 0600);
  const struct {
    const char* label;
    std::string bytes;  // empty: the FIFO
    std::string message;
  } cases[] = {
      {"no colon", good + "carol\r\n", Sjis("3 行目に「:」がないため、.htpasswd として読めません.")},
      {"an empty hash", good + "\r\ncarol:\r\n", Sjis("4 行目のハッシュは扱える形式ではありません.")},
      {"an unknown form", good + "carol:$1$abc$def\r\n", Sjis("3 行目のハッシュは扱える形式ではありません.")},
      {"binary", good + "\xFF\xFE\x01:\x02\x03", Sjis("3 行目のハッシュは扱える形式ではありません.")},
      {"a line of a megabyte", good + "carol:" + std::string(1 << 20, 'a') + "\r\n", Sjis("3 行目のハッシュは扱える形式ではありません.")},
      {"a FIFO", "", Sjis("ファイル \"" + dir.File("fifo") + "\". 通常のファイルではありません は開けません.")},
  };
  for (const auto& c : cases) {
    const std::string path = c.bytes.empty() ? dir.File("fifo") : dir.File("bad");
    if (!c.bytes.empty()) WriteBytes(path, c.bytes);
    Open(path);
    EXPECT_EQ(Errors(), std::vector<std::string>{c.message}) << c.label;
    const std::vector<std::string> kept = c.bytes.empty() ? std::vector<std::string>{} : std::vector<std::string>{"alice=", "bob="};
    EXPECT_EQ(Lines(), kept) << c.label;
  }
  // In UTF-8 the names are read as UTF-8, and a byte-order mark is no part of the first one.
  Choose(hashes::Format::Des, true);
  WriteBytes(dir.File("bad"), "\xEF\xBB\xBF" + good + "山田:" + HashOf(0, "y") + "\r\n");
  Open(dir.File("bad"));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"alice=", "bob=", Sjis("山田=")}));
}

TEST_F(HtpasswdTest, PasswordsAreCheckedAgainstTheHeldOrBuiltHash) {
  std::string file;
  for (int i = 0; i < 5; ++i) file += "user" + std::to_string(i) + ":" + HashOf(i, "pw" + std::to_string(i)) + "\r\n";
  WriteBytes(dir.File("existing"), file);
  Open(dir.File("existing"));
  Table().InsertEntry("typed", "secret", true);
  ClickCell(0, 2);
  Item("VerifyItem")->trigger();
  EXPECT_EQ(dialogs.verify_user, "user1") << "the current row's user is offered";
  const auto check = [&](const char* user, const char* password) { return dialogs.check(user, password).toStdString(); };
  for (int i = 0; i < 5; ++i) {
    const std::string user = "user" + std::to_string(i), password = "pw" + std::to_string(i);
    EXPECT_EQ(check(user.c_str(), password.c_str()), "「" + user + "」のパスワードは一致します。") << i;
    EXPECT_EQ(check(user.c_str(), (password + "x").c_str()), "「" + user + "」のパスワードは一致しません。") << i;
  }
  EXPECT_EQ(check("typed", "secret"), "「typed」のハッシュはまだありません。認証データ作成で作られます。");
  EXPECT_EQ(check("nobody", "x"), "ユーザ「nobody」は表にありません。");
  Click(form->CreateEnc);
  EXPECT_EQ(check("TYPED", "secret"), "「TYPED」のパスワードは一致します。") << "the built hash, found ignoring case";
  EXPECT_EQ(check("typed", "Secret"), "「typed」のパスワードは一致しません。");
  // The dialog asks with what is typed into it.
  VerifyDialog dialog(form.get(), "user3", dialogs.check);
  dialog.show();
  dialog.Password->setText("pw3");
  auto* check_button = qobject_cast<QPushButton*>(dialog.findChild<QDialogButtonBox*>()->buttons().back());
  EXPECT_TRUE(check_button->isDefault()) << "Enter checks";
  check_button->click();
  EXPECT_EQ(dialog.Result->text(), "「user3」のパスワードは一致します。");
  EXPECT_FALSE(dialog.User->geometry().intersects(dialog.Password->geometry())) << "laid out";
  dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close)->click();
  EXPECT_FALSE(dialog.isVisible());
}

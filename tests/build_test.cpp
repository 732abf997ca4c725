#include <set>

#include "app/encrypt_password.h"
#include "test_files.h"
#include "window_fixture.h"

using namespace std::string_literals;

namespace {

bool InAlphabet(std::string_view s, std::size_t from) {
  return s.find_first_not_of(CryptAlphabet.substr(from)) == std::string_view::npos;
}

}  // namespace

TEST(EncryptPassword, HashesTheGivenOrAGeneratedPassword) {
  for (const std::string& password : {""s, "secret"s, "a b:c\"d,e"s, Sjis("表示ポソ"), "\xFF\x01"s}) {
    const std::string result = EncryptPassword(password, "");
    const std::size_t colon = result.find(':');
    ASSERT_EQ(colon, 13u) << result;
    const std::string hash = result.substr(0, colon), effective = result.substr(colon + 1);
    EXPECT_TRUE(InAlphabet(hash, 0)) << hash;
    if (password.empty()) {
      EXPECT_EQ(effective.size(), 8u);
      EXPECT_TRUE(InAlphabet(effective, 2)) << "generated passwords are letters and digits: " << effective;
    } else {
      EXPECT_EQ(effective, password) << "a given password comes back byte for byte";
    }
    EXPECT_TRUE(Verifies(effective, hash)) << result;
  }
  EXPECT_EQ(EncryptPassword("pw", "ab").substr(0, 2), "ab");
  // Fresh salts: a hundred hashes of one password are not all alike.
  std::set<std::string> salts;
  for (int i = 0; i < 100; ++i) salts.insert(EncryptPassword("same", "").substr(0, 2));
  EXPECT_GT(salts.size(), 50u);
}

namespace {
const std::string kDefaultHtaccess =
    "AuthUserFile //.htpasswd\r\n"
    "AuthGroupFile /dev/null\r\n"
    "AuthName \"Protected_area\"\r\n"
    "AuthType Basic\r\n"
    "Require valid-user\r\n"
    "\r\n"
    "<Files ~ \"^.(htpasswd|htaccess)$\">\r\n"
    "deny from all\r\n"
    "</Files>\r\n";
}

TEST_F(WindowTest, BuildWritesTheConfigurationAndOneHashPerRow) {
  Table().InsertEntry("alice", "wonder land", true);
  Table().InsertEntry("bob", "", true);
  Click(form->CreateEnc);
  EXPECT_EQ(form->Htaccess->Text(), kDefaultHtaccess);
  EXPECT_TRUE(form->SaveData->isEnabled());
  ASSERT_EQ(Lines().size(), 2u);
  EXPECT_EQ(Lines()[0], "alice=wonder land");
  const std::string bob_password = Table().CellText(table::ValueColumn, 2);
  EXPECT_EQ(bob_password.size(), 8u);

  const text::TStringList passwd = [&] {
    text::TStringList l;
    l.SetText(form->Htpasswd->Text());
    return l;
  }();
  ASSERT_EQ(passwd.Count(), 2);
  EXPECT_EQ(passwd.Get(0).substr(0, 6), "alice:");
  EXPECT_EQ(passwd.Get(1).substr(0, 4), "bob:");
  EXPECT_TRUE(Verifies("wonder land", passwd.Get(0).substr(6)));
  EXPECT_TRUE(Verifies(bob_password, passwd.Get(1).substr(4)));
  EXPECT_EQ(form->Htpasswd->Text().substr(form->Htpasswd->Text().size() - 2), "\r\n");
  EXPECT_EQ(form->Htpasswd->ShownText().toStdString(), passwd.Get(0) + "\n" + passwd.Get(1));

  // A second build salts afresh and keeps the generated password.
  const std::string first = form->Htpasswd->Text();
  Click(form->CreateEnc);
  EXPECT_NE(form->Htpasswd->Text(), first);
  EXPECT_EQ(Table().CellText(table::ValueColumn, 2), bob_password);
  EXPECT_EQ(form->Htaccess->Text(), kDefaultHtaccess);
}

TEST_F(WindowTest, BuildTakesTheEditBoxesAsTheyStand) {
  form->AuthUserFile->setText("");
  form->AuthName->setText("");
  Run(&TForm1::CreateEncClick);
  EXPECT_TRUE(form->Htaccess->Text().starts_with("AuthUserFile \r\n"));
  EXPECT_NE(form->Htaccess->Text().find("\r\nAuthName \"\"\r\n"), std::string::npos);

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

TEST_F(WindowTest, AnEmptyTableBuildsItsPlaceholderRow) {
  Click(form->CreateEnc);  // disabled: nothing happens
  EXPECT_EQ(form->Htaccess->Text(), "");
  Run(&TForm1::CreateEncClick);
  ASSERT_EQ(Lines().size(), 1u);
  EXPECT_EQ(Lines()[0].substr(0, 1), "=");
  const std::string password = Lines()[0].substr(1);
  EXPECT_EQ(password.size(), 8u);
  const std::string line = form->Htpasswd->Text();
  ASSERT_EQ(line.size(), 1u + 13u + 2u);
  EXPECT_EQ(line[0], ':');
  EXPECT_TRUE(Verifies(password, line.substr(1, 13)));
  EXPECT_TRUE(form->SaveData->isEnabled());
}

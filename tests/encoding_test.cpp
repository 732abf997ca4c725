// The character encoding through the real window: a .htpasswd whose bytes look written in the other
// encoding is offered to be read again in it, and a realm that may arrive garbled is marked.
#include <QMenu>
#include <array>
#include <tuple>

#include "des_crypt/des_crypt.h"
#include "window_fixture.h"

TEST_F(WindowTest, AFileThatLooksWrittenInTheOtherEncodingIsOfferedToBeReadInIt) {
  const std::string line_end = ":" + DesCrypt("pw", "ab") + "\n";
  // The mode it is opened in, whether the name ユーザ is in UTF-8 (else Shift-JIS), whether it is
  // asked about, and the answer.
  for (const auto& c : {std::array{false, true, true, true}, {true, false, true, true}, {false, true, true, false}, {true, true, false, false}}) {
    const auto [utf8, file_utf8, asked, yes] = c;
    SCOPED_TRACE(testing::PrintToString(c));
    Choose(hashes::Format::Des, utf8);
    dialogs.questions.clear();
    dialogs.confirms = {yes};
    WriteBytes(dir.File("existing"), (file_utf8 ? std::string("ユーザ") : Sjis("ユーザ")) + line_end);
    OpenHtpasswd(dir.File("existing"));
    const QString other = file_utf8 ? "UTF-8" : "Shift-JIS";
    EXPECT_EQ(dialogs.questions, asked ? std::vector<QString>{"この .htpasswd は " + other + " で書かれているようです。\n文字コードを " +
                                                                 other + " に切り替えて読み込み直しますか？"}
                                         : std::vector<QString>{});
    const bool utf8_after = yes ? file_utf8 : utf8;
    EXPECT_EQ(form->CurrentOptions().utf8, utf8_after);
    EXPECT_TRUE(form->findChild<QMenu*>("EncodingMenu")->actions()[utf8_after ? 1 : 0]->isChecked());
    if (utf8_after == file_utf8) {
      ASSERT_EQ(Table().Strings().Count(), 1);
      EXPECT_EQ(form->UserList->model()->index(0, 0).data().toString(), "ユーザ") << "read again in the other mode";
    }
  }
  // ASCII alone tells nothing: no question.
  dialogs.questions.clear();
  WriteBytes(dir.File("existing"), "ascii" + line_end);
  OpenHtpasswd(dir.File("existing"));
  EXPECT_TRUE(dialogs.questions.empty());
  // A CSV that the mode refuses and the other reads is offered likewise: declined, it stays refused
  // and the table as it was; accepted, it is read in the other mode.
  Choose(hashes::Format::Des, true);
  const std::vector<std::string> before = Lines();
  for (const bool yes : {false, true}) {
    dialogs.questions.clear();
    dialogs.confirms = {yes};
    Load(Sjis("ユーザ,pw\r\n"));
    EXPECT_EQ(dialogs.questions, std::vector<QString>{"「" + QString::fromStdString(dir.File("users.csv")) +
                                                      "」は Shift-JIS で書かれているようで、今の文字コードでは読めません。\n"
                                                      "文字コードを Shift-JIS に切り替えて読み込み直しますか？"});
    EXPECT_EQ(std::make_pair(Errors().size(), form->CurrentOptions().utf8), std::make_pair(std::size_t{yes ? 0U : 1U}, !yes));
    EXPECT_EQ(Lines(), yes ? std::vector<std::string>{Sjis("ユーザ=pw")} : before);
  }
  // A realm beyond ASCII is marked in UTF-8 mode, where a browser may show it garbled; the mark
  // follows the text and the mode. ASCII ends with DEL; U+0080 is the first character beyond it.
  for (const auto& [utf8, name, marked] : {std::tuple{true, "会員", true}, {false, "会員", false},
                                            {true, "Members\x7F", false}, {true, "Members\u0080", true}}) {
    Choose(hashes::Format::Des, utf8);
    form->AuthName->setText(QString::fromUtf8(name));
    EXPECT_EQ(form->AuthNameWarning->isVisible(), marked) << name;
  }
  EXPECT_TRUE(form->AuthNameWarning->toolTip().startsWith("AuthName に ASCII 以外の文字があると"));
}

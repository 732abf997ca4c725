// UTF-8 files in and out, through the real window: the table keeps Shift-JIS bytes, and only what
// enters and leaves is converted.
#include <QMenu>

#include "app/screen_text.h"
#include "text/exceptions.h"
#include "text/messages.h"
#include "window_fixture.h"

namespace {

using EncodingTest = WindowTest;

// Kanji, kana (with a voiced mark), full-width letters, half-width katakana and ASCII.
const std::string kUtf8Users = "山田太郎,パスワード\r\nがぎぐ,ｶﾅ\r\nＡＢＣ,full\r\nalice,wonderland\r\n";

}  // namespace

TEST_F(EncodingTest, AUtf8FileLoadsAsItsShiftJisTwinAndIsSavedInComposedUtf8) {
  Load(Sjis(kUtf8Users));
  const std::vector<std::string> from_sjis = Lines();
  EXPECT_EQ(from_sjis.size(), 4u);
  Choose(hashes::Format::Bcrypt, true);
  EXPECT_EQ(form->findChild<QMenu*>("EncodingMenu")->actions()[0]->text(), "Shift-JIS（変換しない）(&J)");
  const std::string decomposed = "\xE3\x81\x8B\xE3\x82\x99\xE3\x81\x8D\xE3\x82\x99\xE3\x81\x8F\xE3\x82\x99";  // がぎぐ
  std::string lf = kUtf8Users;
  lf.replace(lf.find("がぎぐ"), std::string("がぎぐ").size(), decomposed);
  for (std::string::size_type at; (at = lf.find("\r\n")) != std::string::npos;) lf.erase(at, 1);
  for (const std::string& file : {kUtf8Users, "\xEF\xBB\xBF" + kUtf8Users, lf, "\xEF\xBB\xBF" + lf}) {
    Load(file);
    EXPECT_EQ(Lines(), from_sjis) << file;
  }
  EXPECT_TRUE(Errors().empty());

  Click(form->CreateEnc);
  const std::string out = dir.File("out");
  mkdir(out.c_str(), 0700);
  SaveTo(out);
  const std::string passwd = ReadBytes(out + "/passwd.txt");
  EXPECT_EQ(passwd, "山田太郎=パスワード\r\nがぎぐ=ｶﾅ\r\nＡＢＣ=full\r\nalice=wonderland\r\n") << "composed UTF-8, no byte-order mark";
  EXPECT_EQ(form->Htpasswd->ShownText().left(5), "山田太郎:") << "the boxes show the same characters";
  EXPECT_EQ(text::SplitLines(form->Htpasswd->Text())[0].substr(0, 9), Sjis("山田太郎:"));
}

TEST_F(EncodingTest, ALineThatIsNoUtf8OrHoldsWhatShiftJisLacksStopsTheLoadThere) {
  Choose(hashes::Format::Bcrypt, true);
  const struct {
    std::string file;
    std::string message;
  } cases[] = {
      {"a,1\r\nb,\xFF\xFE\r\nc,3\r\n", Sjis("2 行目の 3 バイト目からが UTF-8 として正しくないため、読み込めません.")},
      {"a,1\r\n\xE3\x81\r\n", Sjis("2 行目の 1 バイト目からが UTF-8 として正しくないため、読み込めません.")},
      {"a,1\r\nb,\xC0\xAF\r\n", Sjis("2 行目の 3 バイト目からが UTF-8 として正しくないため、読み込めません.")},
      {"a,1\r\n\r\n𠮷野家,2\r\n", Sjis("3 行目の文字 U+20BB7 はShift-JISで表せないため、読み込めません.")},
      {"a,1\r\nb,ok😀\r\n", Sjis("2 行目の文字 U+1F600 はShift-JISで表せないため、読み込めません.")},
      {"a,1\r\nuseræ,x\r\n", Sjis("2 行目の文字 U+00E6 はShift-JISで表せないため、読み込めません.")},
      // A wave dash would be stored as the full-width tilde, and come back as another character.
      {"a,1\r\n10〜20,x\r\n", Sjis("2 行目の文字 U+301C はShift-JISで表せないため、読み込めません.")},
  };
  for (const auto& c : cases) {
    Load(c.file);
    EXPECT_EQ(Lines(), std::vector<std::string>{"a=1"}) << c.file;
    EXPECT_EQ(Errors(), std::vector<std::string>{c.message}) << c.file;
  }
  // Bytes taken as Shift-JIS that are no character cannot leave as UTF-8: the build stops before
  // hashing, and a text of several lines is named by the line that holds them.
  Choose(hashes::Format::Bcrypt, false);
  Load("ok,1\r\n\x81\x7F,2\r\n");
  Choose(hashes::Format::Bcrypt, true);
  Click(form->CreateEnc);
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_TRUE(dialogs.errors[0].startsWith("文字にならないバイトを含む")) << dialogs.errors[0].toStdString();
  EXPECT_TRUE(form->Htpasswd->Text().empty());
  EXPECT_EQ(FailureMessage<text::Exception>([] { OutputBytes("ok\r\nx\x81\x7F\r\nok\r\n", true); }),
            text::FormatMessage(messages::SNoUtf8Form, {"x\x81\x7F"}));
}


#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>

#include "app/failure_display.h"
#include "test_files.h"
#include "text/exceptions.h"
#include "window_fixture.h"

using namespace std::string_literals;

TEST_F(WindowTest, EveryControlStandsWhereTheLayoutPutsIt) {
  EXPECT_EQ(form->windowTitle(), "Vastelo");
  EXPECT_EQ(form->size(), QSize(601, 450));
  EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "the window is not resizable";
  EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);

  struct Control {
    const char* name;
    const char* parent;
    QRect bounds;
    QString text;
  } controls[] = {
      {"GroupBox4", "Form1", {8, 8, 289, 145}, ".htaccessに記述する基本データ"},
      {"AuthUserFile", "GroupBox4", {16, 32, 257, 20}, "//.htpasswd"},
      {"LabeledEdit2", "GroupBox4", {16, 72, 257, 20}, "<非対応>"},
      {"AuthName", "GroupBox4", {16, 112, 257, 20}, "Protected_area"},
      {"GroupBox1", "Form1", {8, 160, 290, 281}, "認証に使用するリスト"},
      {"LoadFile", "GroupBox1", {8, 38, 137, 30}, "ファイル読み込み"},
      {"CreateEnc", "GroupBox1", {152, 38, 129, 30}, "認証データ作成"},
      {"UserList", "GroupBox1", {9, 72, 272, 201}, ""},
      {"GroupBox2", "Form1", {304, 8, 290, 161}, "作成した.htaccess ファイルの内容"},
      {"Htaccess", "GroupBox2", {8, 16, 273, 137}, ""},
      {"GroupBox3", "Form1", {304, 176, 290, 225}, "作成した.htpasswd ファイルの内容"},
      {"Htpasswd", "GroupBox3", {8, 16, 273, 201}, ""},
      {"SaveData", "Form1", {408, 408, 185, 33}, "作成したデータを保存する"},
  };
  for (const Control& c : controls) {
    auto* w = form->findChild<QWidget*>(c.name);
    ASSERT_NE(w, nullptr) << c.name;
    EXPECT_EQ(w->parentWidget()->objectName(), c.parent) << c.name;
    EXPECT_EQ(w->geometry(), c.bounds) << c.name;
    QString text;
    if (auto* g = qobject_cast<QGroupBox*>(w)) text = g->title();
    if (auto* e = qobject_cast<QLineEdit*>(w)) text = e->text();
    if (auto* b = qobject_cast<QPushButton*>(w)) text = b->text();
    EXPECT_EQ(text, c.text) << c.name;
  }
  EXPECT_EQ(form->AuthUserFile->EditLabel->text(), "AuthUserFile(.htpasswdのフルパス):");
  EXPECT_EQ(form->LabeledEdit2->EditLabel->text(), "AuthGroupFile(対応していません):");
  EXPECT_EQ(form->AuthName->EditLabel->text(), "AuthName(認証するエリア名):");
  EXPECT_EQ(form->Label4->text(), "(<ユーザID>,<パスワード>形式のカンマ区切りデータ)");
  EXPECT_TRUE(form->LabeledEdit2->isReadOnly());
  EXPECT_FALSE(form->AuthUserFile->isReadOnly());
    EXPECT_FALSE(form->Htaccess->WrapLines());
  EXPECT_TRUE(form->Htpasswd->WrapLines());
  EXPECT_EQ(form->Htaccess->font().pixelSize(), 13);
  EXPECT_EQ(form->font().family(), "ＭＳ Ｐゴシック");
  EXPECT_EQ(form->UserList->font().family(), "ＭＳ ゴシック");
  EXPECT_EQ(QFontInfo(form->UserList->font()).family(), "IPAGothic") << "the substitute font is installed";

  // A screen reader hears each control by its caption.
  EXPECT_EQ(form->UserList->accessibleName(), "認証に使用するリスト");
  EXPECT_EQ(form->Htpasswd->accessibleName(), "作成した.htpasswd ファイルの内容");
  EXPECT_EQ(form->AuthName->accessibleName(), "AuthName(認証するエリア名):");

  // Only LoadFile can be pressed at start, and no button takes the focus.
  EXPECT_TRUE(form->LoadFile->isEnabled());
  EXPECT_FALSE(form->CreateEnc->isEnabled());
  EXPECT_FALSE(form->SaveData->isEnabled());
  for (QPushButton* b : {form->LoadFile, form->CreateEnc, form->SaveData}) EXPECT_EQ(b->focusPolicy(), Qt::NoFocus);
  for (QPushButton* b : {form->LoadFile, form->CreateEnc, form->SaveData}) EXPECT_FALSE(b->icon().isNull());
}

TEST_F(WindowTest, FocusStartsInThePasswordCellAndTabsThroughTheControlsInOrder) {
  EXPECT_EQ(QApplication::focusWidget(), Editor());
  EXPECT_TRUE(Table().EditorOpen());
  EXPECT_EQ(Table().Col(), table::ValueColumn);
  EXPECT_EQ(Table().Row(), 1);

  const std::vector<QWidget*> order = {form->Htaccess, form->Htpasswd, form->AuthName, form->LabeledEdit2,
                                       form->AuthUserFile};
  for (QWidget* expected : order) {
    Key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), expected) << expected->objectName().toStdString();
  }
  for (auto it = order.rbegin() + 1; it != order.rend(); ++it) {
    Key(Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), *it) << (*it)->objectName().toStdString();
  }
  Key(Qt::Key_Backtab);
  EXPECT_EQ(QApplication::focusWidget(), Editor()) << "back in the table, with its editor open";
}

TEST_F(WindowTest, TheFirstChangeOfTheTableEnablesTheBuild) {
  Type("a");
  EXPECT_TRUE(form->CreateEnc->isEnabled());
  EXPECT_EQ(Lines(), std::vector<std::string>{"=a"});
  EXPECT_FALSE(form->SaveData->isEnabled());
  // Pressing a button leaves the focus where it was.
  Click(form->LoadFile);
  EXPECT_EQ(QApplication::focusWidget(), Editor());
}

TEST(FailureDisplay, AppendsAPeriodAfterALastCharacterAboveIt) {
  struct Case {
    std::string message, shown;
  } cases[] = {
      {Sjis("キーは等号記号（“=”）を含めません。"), Sjis("キーは等号記号（“=”）を含めません。") + "."},
      {Sjis("キー名 \"a\" はすでに存在します"), Sjis("キー名 \"a\" はすでに存在します") + "."},
      {Sjis("リストのインデックスが範囲を超えています (1)"), Sjis("リストのインデックスが範囲を超えています (1)")},
      {"ends in a letter", "ends in a letter."},
      {"ends in 7", "ends in 7."},
      {"ends in .", "ends in ."},
      {"ends in -", "ends in -"},
      {"\x83\x5C", "\x83\x5C."},  // a trail byte below "." would not count: the whole character does
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageForDisplay(c.message), c.shown) << c.message;
}

TEST_F(WindowTest, AFailureIsShownInTheMessageBoxAndTheProgramGoesOn) {
  Guarded([] { throw text::Exception(Sjis("キー名 \"x\" はすでに存在します")); });
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors[0], "キー名 \"x\" はすでに存在します.");
  EXPECT_EQ(dialogs.error_caption, "Vastelo");
  // A failure that escapes an event handler is caught at the application, not by Qt.
  struct Thrower : QObject {
    bool event(QEvent*) override { throw text::EWriteError(); }
  } thrower;
  QEvent event(QEvent::User);
  QCoreApplication::sendEvent(&thrower, &event);
  ASSERT_EQ(dialogs.errors.size(), 2u);
  EXPECT_EQ(dialogs.errors[1], "ストリームへの書き込みエラー.");
}

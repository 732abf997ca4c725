#include <QDir>
#include <QFileDialog>
#include <QSpinBox>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QTimer>

#include "app/strength_dialog.h"
#include "app/verify_dialog.h"
#include "window_fixture.h"

// The program as a user starts it shows the window these tests build. Qt's minimal platform writes
// every frame it shows to a PNG file in the current folder.
TEST_F(WindowTest, TheProgramShowsTheWindowTheTestsBuild) {
  const TempDir run;
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const QString& name : env.keys())
    if (name.startsWith("QT_")) env.remove(name);
  // In the style the tests' platform gives, which the minimal platform does not choose itself.
  env.insert("QT_QPA_PLATFORM", "minimal:enable_fonts"), env.insert("QT_DEBUG_BACKINGSTORE", "1"), env.insert("QT_STYLE_OVERRIDE", "Fusion");
  program.setProcessEnvironment(env);
  program.setWorkingDirectory(QString::fromStdString(run.path()));
  program.start(VASTELO_APP, {});
  // A frame read while it is written is no image yet.
  QImage first;
  EXPECT_TRUE(QTest::qWaitFor([&] { return !(first = QImage(QString::fromStdString(run.File("output0000.png")))).isNull(); }, 60'000));
  program.kill();
  program.waitForFinished();
  // Pixel for pixel, but for the table, where the caret blinks.
  const auto still = [&](QImage image) {
    image = image.convertToFormat(QImage::Format_RGB32);
    const QRect table(form->UserList->mapTo(form.get(), QPoint()), form->UserList->size());
    QPainter(&image).fillRect(table, Qt::black);
    return image;
  };
  EXPECT_EQ(still(first), still(form->grab().toImage()));
}

// Where each control stands, its caption, font, frame and state are pinned by pictures; what no
// picture shows is asked of the widgets.
TEST_F(WindowTest, EveryControlStandsWhereTheLayoutPutsIt) {
  EXPECT_TRUE(LooksAsItsReference(form.get(), "window-at-start"));
  // A long line: .htaccess scrolls sideways, .htpasswd wraps it, each in its own fixed-pitch Gothic.
  form->Htaccess->Append("AuthUserFile /var/www/html/members/only/a/rather/long/path/.htpasswd");
  form->Htpasswd->Append(Sjis("あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほ:$2y$05$abcdefghijklmnopqrstuu"));
  form->Htpasswd->Append("bob:xyZ1ab2cD3ef4");
  EXPECT_TRUE(LooksAsItsReference(form.get(), "window-with-texts"));

  EXPECT_EQ(std::make_tuple(form->objectName(), form->windowTitle(), QCoreApplication::applicationName(), form->pos()),
            std::make_tuple(QString("Form1"), QString("Vastelo"), QString("Vastelo"), QPoint(191, 105)));
  EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "the window is not resizable";
  EXPECT_TRUE(!(form->windowFlags() & Qt::WindowMaximizeButtonHint) && form->windowFlags() & Qt::WindowMinimizeButtonHint);
  // Each edit box's caption also names it to a screen reader; the boxes are named as the groups around them.
  for (TLabeledEdit* edit : {form->AuthUserFile, form->LabeledEdit2, form->AuthName})
    EXPECT_EQ(edit->accessibleName(), edit->EditLabel->text());
  EXPECT_EQ(std::make_tuple(form->UserList->accessibleName(), Editor()->accessibleName(), form->UserList->accessibleDescription(), form->Htaccess->accessibleName(),
                            form->Htpasswd->accessibleName(), Editor()->objectName()),
            std::make_tuple(QString("認証に使用するリスト"), form->GroupBox1->title(), form->Label4->text(), form->GroupBox2->title(), form->GroupBox3->title(),
                            QString("UserListEditor")));
  EXPECT_EQ(QApplication::windowIcon().availableSizes(), (QList<QSize>{{16, 16}, {32, 32}}));
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "キャンセル") << "Qt's dialogs speak Japanese";
  for (QPushButton* b : {form->LoadFile, form->CreateEnc, form->SaveData}) EXPECT_EQ(b->focusPolicy(), Qt::NoFocus) << "no button takes the focus";
}

TEST_F(WindowTest, FocusStartsInTheFirstNameAndTabsThroughTheCellsThenTheControls) {
  EXPECT_EQ(QApplication::focusWidget(), Editor());
  EXPECT_EQ(Current(), std::make_pair(0, 1));
  Fill({"alice=1", "bob=2"});
  // Cell by cell, name then password, and out of the table only from its last cell.
  for (const auto& [tab, cell] : {std::pair{Qt::Key_Tab, std::pair{1, 1}}, {Qt::Key_Tab, {0, 2}}, {Qt::Key_Tab, {1, 2}},
                                  {Qt::Key_Backtab, {0, 2}}, {Qt::Key_Backtab, {1, 1}}, {Qt::Key_Tab, {0, 2}}, {Qt::Key_Tab, {1, 2}}}) {
    Key(tab);
    EXPECT_TRUE(Current() == cell && QApplication::focusWidget() == Editor()) << cell.first << "," << cell.second;
  }
  // And back into the table, with its editor open.
  for (QWidget* next : std::initializer_list<QWidget*>{form->Htaccess, form->Htpasswd, form->AuthName, form->LabeledEdit2, form->AuthUserFile, Editor()}) {
    Key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
  }
  Table().MoveTo(table::Column::Key, 1);
  Key(Qt::Key_Backtab);
  EXPECT_EQ(QApplication::focusWidget(), form->AuthUserFile) << "and out of it backwards from its first cell";
}

TEST_F(WindowTest, MenuItemsAreTheButtonsFromTheKeyboard) {
  auto* build = Item("CreateEncItem");
  EXPECT_FALSE(build->isEnabled());
  Key(Qt::Key_Tab);
  Type("pw");
  EXPECT_TRUE(build->isEnabled() && !Item("SaveDataItem")->isEnabled()) << "enabled with its button";
  Key(Qt::Key_B, Qt::ControlModifier);
  EXPECT_TRUE(form->Htaccess->Text().starts_with("AuthUserFile ") && Item("SaveDataItem")->isEnabled());
  EXPECT_EQ(QApplication::focusWidget(), Editor()) << "the editor keeps the focus, as with the button";
  Key(Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(dialogs.folder_title, "「.htpasswd」ファイルの保存場所選択");

  // The menu bar taken from the keyboard and left again does not close the cell editor.
  Type("x");
  Key(Qt::Key_Alt);
  Key(Qt::Key_Escape);
  EXPECT_TRUE(Table().EditorOpen() && QApplication::focusWidget() == Editor());
  EXPECT_EQ(Lines(), std::vector<std::string>{"=x"});
  // The last row can be removed too; then there is nothing left to ask about.
  dialogs.confirms = {true, true};
  for (int i = 0; i < 2; ++i) Item("DeleteRowItem")->trigger();
  EXPECT_EQ(std::make_pair(Lines(), dialogs.questions.size()), std::make_pair(std::vector<std::string>{}, std::size_t{1}));

  Item("AboutItem")->trigger();
  EXPECT_TRUE(dialogs.information.size() == 1 && dialogs.information[0].startsWith("バージョン情報\nVastelo 1.0.0\n"));
  Key(Qt::Key_Q, Qt::ControlModifier);
  EXPECT_FALSE(form->isVisible());
}

// The real dialogs, answered as a user answers them: each asks what it was given and hands back
// what was chosen, or nothing when it was closed. A question takes Enter for no, since it is
// whether to remove a user.
TEST(FailureDisplay, AFullStopFollowsAMessageThatEndsInALetterOrADoubleByteCharacter) {
  const std::pair<std::string, std::string> shown[] = {
      {"", ""}, {"a", "a."}, {"a.", "a."}, {"a-", "a-"}, {"a/", "a/."}, {Sjis("です"), Sjis("です") + "."},
      {Sjis("。"), Sjis("。")}, {Sjis("？"), Sjis("？")}};
  for (const auto& [message, display] : shown) EXPECT_EQ(MessageForDisplay(message), display) << message;
  // The file and line a failure was found at go before it, unless it names that line itself.
  EXPECT_EQ(FailureText(text::Exception("x", {"/srv/users.csv", 2, 0})), Sjis("「/srv/users.csv」の 2 行目：x."));
  EXPECT_EQ(FailureText(text::Exception(Sjis("2 行目に何か"), {"/srv/users.csv", 2, 0})), Sjis("2 行目に何か."));
}

TEST(QtDialogs, EachAsksWhatItWasGivenAndHandsBackTheAnswer) {
  TempDir dir;
  const QString file = QString::fromStdString(dir.File(".htpasswd")), folder = QString::fromStdString(dir.path());
  WriteBytes(dir.File(".htpasswd"), "");
  QString seen;  // the dialog's title, and what else it showed
  const auto next = [&](bool yes, const std::function<QString(QDialog*)>& shown = {}) {
    QTimer::singleShot(0, [&seen, yes, shown] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      seen = dialog->windowTitle() + (shown ? "|" + shown(dialog) : QString());
      if (auto* box = qobject_cast<QMessageBox*>(dialog))
        yes ? (box->button(QMessageBox::Yes) ? box->button(QMessageBox::Yes) : box->buttons().constFirst())->click()
            : QTest::keyClick(box, Qt::Key_Return);
      else
        yes ? dialog->accept() : dialog->reject();
      if (dialog->isVisible()) dialog->reject();  // a dialog that refused the answer must not hang the test
    });
  };
  TDialogs& real = CurrentDialogs();
  for (const bool yes : {false, true}) {
    next(yes, [](QDialog* d) {
      auto* files = static_cast<QFileDialog*>(d);
      return files->nameFilters().join(";;") + (files->filter() & QDir::Hidden ? " hidden" : "") + (files->isSizeGripEnabled() ? " grip" : "");
    });
    EXPECT_EQ(real.OpenFile(nullptr, "開く", "CSV (*.csv);;全 (*)", file), yes ? std::optional(file) : std::nullopt);
    EXPECT_EQ(seen, "開く|CSV (*.csv);;全 (*) hidden grip");
    next(yes, [&](QDialog* d) { return static_cast<QFileDialog*>(d)->setDirectory(folder), QString(); });
    EXPECT_EQ(real.ChooseFolder(nullptr, "保存場所"), yes ? std::optional(folder) : std::nullopt);
    EXPECT_EQ(seen, "保存場所|");
    next(yes, [](QDialog* d) { return static_cast<TStrengthDialog*>(d)->BcryptCost->setValue(5), QString(); });
    EXPECT_EQ(real.ChooseStrength(nullptr, {10, 5000}), yes ? std::optional(hashes::TStrength{5, 5000}) : std::nullopt);
    EXPECT_EQ(seen, "強度|");
    // The buttons, then the one Enter presses.
    next(yes, [](QDialog* d) { auto* b = static_cast<QMessageBox*>(d); return b->button(QMessageBox::Yes)->text() + b->button(QMessageBox::No)->text() + b->defaultButton()->text(); });
    EXPECT_EQ(real.Confirm(nullptr, "Vastelo", "remove?"), yes);
    EXPECT_EQ(seen, "Vastelo|はい(&Y)いいえ(&N)いいえ(&N)");
  }
  next(false, [](QDialog* d) {
    auto* b = static_cast<QMessageBox*>(d);
    return b->button(QMessageBox::Save)->text() + b->button(QMessageBox::Discard)->text() + b->button(QMessageBox::Cancel)->text() + b->defaultButton()->text();
  });
  EXPECT_EQ(real.AskUnsaved(nullptr, "unsaved"), TDialogs::TUnsaved::Save) << "Enter saves";
  EXPECT_EQ(seen, "Vastelo|保存(&S)破棄(&D)キャンセル保存(&S)");
  for (const auto& [show, icon] : {std::pair{&TDialogs::ShowError, QMessageBox::Critical}, {&TDialogs::ShowInformation, QMessageBox::Information}}) {
    next(true, [](QDialog* d) { return static_cast<QMessageBox*>(d)->text() + QString::number(static_cast<QMessageBox*>(d)->icon()); });
    (real.*show)(nullptr, "Vastelo", "text");
    EXPECT_EQ(seen, "Vastelo|text" + QString::number(icon));
  }
  next(false, [](QDialog* d) { return static_cast<TVerifyDialog*>(d)->User->text(); });
  real.CheckPasswords(nullptr, "alice", {});
  EXPECT_EQ(seen, "パスワードの確認|alice");
  EXPECT_EQ(QtFileFilter("CSV|*.csv;*.txt|odd"), "CSV (*.csv *.txt)") << "a description without patterns is dropped";
}

// A real main window, shown offscreen, with its dialogs answered by the test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QInputMethodEvent>
#include <QMenu>
#include <QSettings>
#include <QTest>
#include <deque>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

#include "app/dialogs.h"
#include "app/application.h"
#include "app/unit1.h"
#include "platform/cp932.h"
#include "test_files.h"
#include "text/string_list.h"

// Texts of the window read as text in a failure message, not as UTF-16 units.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

class ScriptedDialogs : public TDialogs {
 public:
  // Answers, in order: files to open and folders to save to (none left is the user cancelling),
  // yes-or-no answers (none left is no), and the strength 強度 returns.
  std::deque<QString> files, folders;
  std::deque<bool> confirms;
  std::optional<hashes::TStrength> strength;
  // What the window showed and asked.
  std::vector<QString> errors, information, questions;
  QString open_title, open_filter, open_initial, folder_title, verify_user;
  TPasswordCheck check;  // how パスワードの確認 answers

  std::optional<QString> OpenFile(QWidget*, const QString& title, const QString& filter, const QString& initial) override {
    std::tie(open_title, open_filter, open_initial) = std::tie(title, filter, initial);
    return Next(files);
  }
  std::optional<QString> ChooseFolder(QWidget*, const QString& title) override { return folder_title = title, Next(folders); }
  std::optional<hashes::TStrength> ChooseStrength(QWidget*, const hashes::TStrength&) override { return strength; }
  bool Confirm(QWidget*, const QString&, const QString& text) override { return questions.push_back(text), Next(confirms).value_or(false); }
  void CheckPasswords(QWidget*, const QString& user, const TPasswordCheck& c) override { verify_user = user, check = c; }
  void ShowError(QWidget*, const QString&, const QString& text) override { errors.push_back(text); }
  void ShowInformation(QWidget*, const QString& caption, const QString& text) override { information.push_back(caption + u'\n' + text); }
  // Unsaved work: none left is discarding it, as the tests that do not ask about it expect.
  std::deque<TUnsaved> unsaved;
  std::vector<QString> unsaved_questions;
  TUnsaved AskUnsaved(QWidget*, const QString& text) override {
    return unsaved_questions.push_back(text), Next(unsaved).value_or(TUnsaved::Discard);
  }
  std::deque<QString> texts;  // what AskText returns; none left is cancelling
  std::optional<QString> AskText(QWidget*, const QString&, const QString&) override { return Next(texts); }

 private:
  template <class T>
  static std::optional<T> Next(std::deque<T>& answers) {
    if (answers.empty()) return std::nullopt;
    const T answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

class WindowTest : public testing::Test {
 protected:
  void SetUp() override {
    QSettings(QStringLiteral("Vastelo"), QStringLiteral("Vastelo")).clear();  // a first start
    form = std::make_unique<TForm1>();
    form->show();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    Settle();
  }

  // Lets deferred work (memo refresh, editor reopening) happen, as it would after a handler.
  static void Settle() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  }
  // A picture against tests/reference/<name>.png, pixel for pixel: the fonts and Qt are the same
  // wherever the suite runs. VASTELO_UPDATE_REFERENCES=1 draws the references anew; a mismatch
  // leaves <name>-shown.png in the build folder to look at.
  static bool LooksAsItsReference(const QImage& picture, const QString& name) {
    const QImage shown = picture.convertToFormat(QImage::Format_RGB32);
    const QString reference = QStringLiteral(VASTELO_REFERENCES "/") + name + ".png";
    if (qEnvironmentVariableIsSet("VASTELO_UPDATE_REFERENCES")) shown.save(reference);
    const bool same = QImage(reference).convertToFormat(QImage::Format_RGB32) == shown;
    if (!same) shown.save(name + "-shown.png");
    return same;
  }
  static bool LooksAsItsReference(QWidget* widget, const QString& name) { return Settle(), LooksAsItsReference(widget->grab().toImage(), name); }
  void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton), Settle(); }
  // Runs a handler as its button would, whether or not the button is enabled.
  void Run(void (TForm1::*handler)()) { Guarded([&] { (form.get()->*handler)(); }), Settle(); }
  // Loads a credential file of these bytes, or the named file, opens a .htpasswd and saves, each
  // through its dialog.
  void Load(const std::string& bytes) { WriteBytes(dir.File("users.csv"), bytes), LoadPath(dir.File("users.csv")); }
  void LoadPath(const std::string& path) { dialogs.files.push_back(QString::fromStdString(path)), Run(&TForm1::LoadFileClick); }
  void OpenHtpasswd(const std::string& path) { dialogs.files.push_back(QString::fromStdString(path)), Item("OpenHtpasswdItem")->trigger(), Settle(); }
  void SaveTo(const std::string& folder) { dialogs.folders.push_back(QString::fromStdString(folder)), Run(&TForm1::SaveDataClick); }
  void Fill(std::initializer_list<const char*> lines) {
    for (const char* l : lines) Table().Strings().Add(l);
    Settle();
  }
  void ClickCell(int column, int row) {
    TUserListGrid* grid = form->UserList;
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, grid->visualRect(grid->model()->index(row - 1, column)).center());
    Settle();
  }
  // Chooses under 設定 as a user would: a hash format with a strength quick to compute, and an encoding.
  void Choose(hashes::Format format, bool utf8 = false, hashes::TStrength strength = {4, 1000}) {
    FormatItem(format)->trigger();
    form->findChild<QMenu*>("EncodingMenu")->actions()[utf8 ? 1 : 0]->trigger();
    dialogs.strength = strength;
    Item("StrengthItem")->trigger();
  }
  QAction* Item(const char* name) { return form->findChild<QAction*>(name); }
  QAction* FormatItem(hashes::Format f) { return form->findChild<QMenu*>("HashFormatMenu")->actions()[static_cast<int>(f)]; }
  table::TUserList& Table() { return form->UserList->Table(); }
  std::vector<std::string> Lines() { return Table().Strings().Lines(); }
  std::pair<int, int> Current() { return {table::ColumnIndex(Table().Col()), Table().Row()}; }
  TInplaceEdit* Editor() { return form->UserList->Editor(); }
  // Types as a person does: ASCII key by key, anything else committed by the input method, the
  // way Japanese text arrives from an IME.
  void Type(const QString& text) {
    for (const char32_t c : text.toUcs4()) {
      QInputMethodEvent commit;
      commit.setCommitString(QString::fromUcs4(&c, 1));
      if (c < 0x80)
        QTest::keyClick(QApplication::focusWidget(), static_cast<char>(c));
      else
        QCoreApplication::sendEvent(QApplication::focusWidget(), &commit);
    }
    Settle();
  }
  void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(QApplication::focusWidget(), key, mods), Settle(); }
  // Each message box text as code page 932 bytes, for comparing with the message table; taken, so
  // that the next look sees only what came after.
  std::vector<std::string> Errors() {
    std::vector<std::string> out;
    for (const QString& e : dialogs.errors) out.push_back(*platform::Utf8ToCp932(e.toStdString()));
    dialogs.errors.clear();
    return out;
  }

  TempDir dir;
  ScriptedDialogs dialogs;
  TScopedDialogs scoped_dialogs{dialogs};
  std::unique_ptr<TForm1> form;
};

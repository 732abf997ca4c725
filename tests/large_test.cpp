#include <QClipboard>
#include <QCursor>
#include <QProgressDialog>
#include <QScrollBar>

#include "app/busy.h"
#include "test_files.h"
#include "text/string_list.h"
#include "window_fixture.h"

namespace {

class LargeTest : public WindowTest {
 protected:
  void Load(int users) {
    std::string file;
    for (int i = 0; i < users; ++i) file += "user" + std::to_string(i) + (i % 3 ? ",pw" + std::to_string(i) : ",") + "\r\n";
    WriteBytes(dir.File("users.csv"), file);
    dialogs.files.push_back(QString::fromStdString(dir.File("users.csv")));
    Run(&TForm1::LoadFileClick);
  }
  TempDir dir;
};

}  // namespace

TEST_F(LargeTest, HashingOnAllCoresKeepsEveryRowInItsPlace) {
  Load(9000);  // more than one block of rows, and enough for several threads
  ASSERT_EQ(Table().Strings().Count(), 9000);
  Click(form->CreateEnc);
  text::TStringList built;
  built.SetText(form->Htpasswd->Text());
  ASSERT_EQ(built.Count(), 9000);
  for (int i = 0; i < 9000; ++i) {
    const std::string user = "user" + std::to_string(i);
    const std::string& line = built.Get(i);
    ASSERT_EQ(line.substr(0, user.size() + 1), user + ":") << i;
    const std::string password = Table().CellText(table::ValueColumn, i + 1);
    if (i % 3 != 0) {
      EXPECT_EQ(password, "pw" + std::to_string(i));
    }
    ASSERT_TRUE(Verifies(password, line.substr(user.size() + 1))) << i;
  }
  EXPECT_EQ(form->Htpasswd->LineCount(), 9000);
  EXPECT_GT(form->Htpasswd->verticalScrollBar()->maximum(), 8900);
}

TEST_F(LargeTest, LongWorkShowsAWaitCursorAndAProgressCount) {
  BusyScope::SetDialogDelay(0);
  bool saw_wait_cursor = false, saw_progress = false;
  Table().OnStringsChange = [&] {
    form->UserListStringsChange();
    saw_wait_cursor = saw_wait_cursor || (QApplication::overrideCursor() &&
                                          QApplication::overrideCursor()->shape() == Qt::WaitCursor);
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* p = qobject_cast<QProgressDialog*>(w); p && p->isVisible()) saw_progress = true;
  };
  Load(5000);
  BusyScope::SetDialogDelay(1000);
  EXPECT_TRUE(saw_wait_cursor);
  EXPECT_TRUE(saw_progress);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the cursor is back once the work is done";
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_EQ(qobject_cast<QProgressDialog*>(w), nullptr);
  EXPECT_EQ(Table().Strings().Count(), 5000);
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(LargeTest, TheTextBoxesShowAndCopyWhatTheyHold) {
  // A long line wraps in .htpasswd's box and scrolls sideways in .htaccess's.
  std::string long_name;
  for (int i = 0; i < 4; ++i) long_name += Sjis("利用者名前がとても長い");
  form->Htpasswd->Append(long_name + ":hash");
  form->Htaccess->Append(long_name);
  form->Htpasswd->Append("short");
  Settle();
  EXPECT_GT(form->Htpasswd->verticalScrollBar()->maximum() + form->Htpasswd->verticalScrollBar()->pageStep(), 2)
      << "the long line takes more than one row";
  EXPECT_GT(form->Htaccess->horizontalScrollBar()->maximum(), 0);
  EXPECT_EQ(form->Htpasswd->ShownText(), QString::fromStdString(platform::Cp932ToUtf8(long_name)) + ":hash\nshort");
  form->Htpasswd->SelectAll();
  form->Htpasswd->CopySelection();
  EXPECT_EQ(QApplication::clipboard()->text(), form->Htpasswd->ShownText());
  EXPECT_EQ(form->Htpasswd->Text(), long_name + ":hash\r\nshort\r\n") << "the bytes are what is saved";
}

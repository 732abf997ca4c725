#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QScrollBar>

#include "test_files.h"
#include "window_fixture.h"

namespace {

class EditTest : public WindowTest {
 protected:
  void ClickCell(int column, int row) {
    TUserListGrid* grid = form->UserList;
    const QRect cell = grid->visualRect(grid->model()->index(row - 1, column));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    Settle();
  }
  void Fill(std::initializer_list<const char*> lines) {
    for (const char* l : lines) Table().Strings().Add(l);
    Settle();
  }
  std::pair<int, int> Current() { return {Table().Col(), Table().Row()}; }
  std::string EditorText() { return Editor()->text().toStdString(); }
};

const std::string kEquals = Sjis("キーは等号記号（“=”）を含めません。.");

}  // namespace

TEST_F(EditTest, TypingIntoAnEmptyTableCreatesItsFirstRow) {
  Key(Qt::Key_Left);  // from the password cell to the user-name cell
  EXPECT_EQ(Current(), std::make_pair(0, 1));
  Type("=");
  EXPECT_EQ(Errors(), std::vector<std::string>{kEquals});
  EXPECT_EQ(Lines(), std::vector<std::string>{""}) << "the first keystroke gave the row its line";
  EXPECT_TRUE(form->CreateEnc->isEnabled());
  EXPECT_EQ(EditorText(), "=") << "the editor keeps what the user typed";

  Key(Qt::Key_Backspace);
  Type("山田");
  EXPECT_EQ(Lines(), std::vector<std::string>{Sjis("山田=")});
  Key(Qt::Key_Right);
  Type("pw");
  EXPECT_EQ(Lines(), std::vector<std::string>{Sjis("山田=pw")});
  EXPECT_EQ(Table().RowCount(), 2);

  // A character the code page cannot hold is refused; the stored line keeps its text.
  Type("\U0001F600");
  ASSERT_EQ(dialogs.errors.size(), 2u);
  EXPECT_TRUE(dialogs.errors[1].contains("U+1F600")) << dialogs.errors[1].toStdString();
  EXPECT_EQ(Lines(), std::vector<std::string>{Sjis("山田=pw")});
}

TEST_F(EditTest, DuplicateUserNamesAreHeldThenRefused) {
  Fill({"a=1", "x=2"});
  ClickCell(0, 2);
  EXPECT_EQ(EditorText(), "x");
  Type("A");  // replaces the selected x
  EXPECT_TRUE(dialogs.errors.empty());
  ClickCell(0, 1);
  EXPECT_EQ(Errors(), std::vector<std::string>{Sjis("キー名 \"A\" はすでに存在します.")});
  EXPECT_EQ(Lines(), (std::vector<std::string>{"a=1", "x=2"}));
  EXPECT_EQ(Current(), std::make_pair(0, 2)) << "the failed move leaves the current cell";
  EXPECT_EQ(EditorText(), "A");

  Type("b");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"a=1", "Ab=2"}));
  EXPECT_EQ(dialogs.errors.size(), 1u);

  // Only the first letter changes: bob to Bob in one change is held, and stored on leaving.
  Fill({"bob=3"});
  ClickCell(0, 3);
  Key(Qt::Key_Home);
  Key(Qt::Key_Right, Qt::ShiftModifier);
  Type("B");
  EXPECT_EQ(Lines()[2], "bob=3");
  ClickCell(1, 3);
  EXPECT_EQ(Lines()[2], "Bob=3");
  EXPECT_EQ(dialogs.errors.size(), 1u);
}

TEST_F(EditTest, ARowLeftEmptyGoesWhenTheUserLeavesIt) {
  for (const int target : {3, 1}) {
    Table().Strings().Clear();
    Fill({"a=1", "b=2", "c=3"});
    ClickCell(0, 2);
    Key(Qt::Key_Backspace);
    Key(Qt::Key_Right);
    Key(Qt::Key_Backspace);
    EXPECT_EQ(Lines()[1], "=");
    ClickCell(1, target);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"a=1", "c=3"})) << target;
    EXPECT_EQ(Current(), std::make_pair(1, target == 3 ? 2 : 1)) << "lands on the row that was clicked";
    EXPECT_EQ(Table().CellText(1, Table().Row()), target == 3 ? "3" : "1");
    EXPECT_TRUE(Table().EditorOpen());
  }
}

TEST_F(EditTest, DownInsertAndEscapeAddAndRemoveRows) {
  Fill({"a=1", "b=2", "c=3", "d=4"});
  Key(Qt::Key_Down, Qt::ControlModifier);
  EXPECT_EQ(Current(), std::make_pair(1, 4));
  Key(Qt::Key_Down);
  EXPECT_EQ(Lines().back(), "=");
  EXPECT_EQ(Current(), std::make_pair(1, 5));
  Key(Qt::Key_Down);
  EXPECT_EQ(Lines().size(), 5u) << "Down on a row without a user name adds nothing";
  Key(Qt::Key_Escape);
  EXPECT_EQ(Lines().size(), 4u);
  EXPECT_EQ(Current(), std::make_pair(1, 4));

  Key(Qt::Key_Up, Qt::ControlModifier);
  EXPECT_EQ(Current(), std::make_pair(1, 1));
  Key(Qt::Key_Down);
  Key(Qt::Key_Insert);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"a=1", "=", "b=2", "c=3", "d=4"}));
  EXPECT_EQ(Current(), std::make_pair(1, 2));
  Key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(Lines().size(), 5u) << "Ctrl+Delete deletes no row";
  Type("new");
  EXPECT_EQ(Lines()[1], "=new");
  Key(Qt::Key_Escape);
  EXPECT_EQ(Lines()[1], "=") << "Escape gives the cell its text back";
  EXPECT_EQ(Editor()->selectedText(), "");
  Key(Qt::Key_Escape);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"a=1", "b=2", "c=3", "d=4"}));

  // Escape on the only, empty row brings back the placeholder.
  Table().Strings().Clear();
  Settle();
  Key(Qt::Key_Down);
  Type("x");
  Key(Qt::Key_Backspace);
  EXPECT_EQ(Lines(), std::vector<std::string>{"="});
  Key(Qt::Key_Escape);
  Key(Qt::Key_Escape);
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(Table().RowCount(), 2);
}

TEST_F(EditTest, EnterTogglesTheSelectionAndStays) {
  Fill({"alice=secret"});
  EXPECT_EQ(Editor()->selectedText(), "secret") << "the editor opens with its text selected";
  Key(Qt::Key_Return);
  EXPECT_EQ(Editor()->selectedText(), "");
  EXPECT_EQ(Editor()->cursorPosition(), 6);
  Key(Qt::Key_Return);
  EXPECT_EQ(Editor()->selectedText(), "secret");
  EXPECT_EQ(Current(), std::make_pair(1, 1));
}

TEST_F(EditTest, ThePasswordColumnFillsWhatTheUserNameColumnLeaves) {
  TUserListGrid* grid = form->UserList;
  EXPECT_EQ(grid->columnWidth(0), 130);
  EXPECT_EQ(grid->columnWidth(0) + grid->columnWidth(1), grid->viewport()->width());
  EXPECT_EQ(grid->horizontalHeader()->height(), 18);
  EXPECT_EQ(grid->rowHeight(0), 18);
  EXPECT_EQ(grid->model()->headerData(0, Qt::Horizontal).toString(), "ユーザ名");
  EXPECT_EQ(grid->model()->headerData(1, Qt::Horizontal).toString(), "パスワード");
  grid->horizontalHeader()->resizeSection(0, 100);  // what dragging the boundary does
  EXPECT_EQ(grid->columnWidth(1), grid->viewport()->width() - 100);
  for (int i = 0; i < 40; ++i) Table().Strings().Add("user" + std::to_string(i) + "=p");
  Settle();
  EXPECT_TRUE(grid->verticalScrollBar()->isVisible());
  EXPECT_EQ(grid->columnWidth(0) + grid->columnWidth(1), grid->viewport()->width()) << "also with a scroll bar";
}

TEST_F(EditTest, HandlersFailBeforeChangingAnythingWhileTheEditorHoldsARefusedName) {
  Fill({"a=1", "b=2"});
  Click(form->CreateEnc);
  ASSERT_TRUE(form->SaveData->isEnabled());

  // A held duplicate: the build's first write-back hands it over and fails at row 1.
  ClickCell(0, 2);
  Type("A");
  EXPECT_TRUE(dialogs.errors.empty());
  form->AuthName->setText("changed");  // typed elsewhere without leaving... set directly
  Click(form->CreateEnc);
  EXPECT_EQ(Errors(), std::vector<std::string>{Sjis("キー名 \"A\" はすでに存在します.")});
  EXPECT_NE(form->Htaccess->Text().find("AuthName \"changed\""), std::string::npos) << "Htaccess was rebuilt";
  EXPECT_EQ(form->Htpasswd->Text(), "");
  EXPECT_TRUE(form->SaveData->isEnabled());
  EXPECT_EQ(Lines(), (std::vector<std::string>{"a=1", "b=2"}));

  // A name with "=": clearing the table for a load hands it over, fails, and no dialog opens.
  Type("=");
  ASSERT_EQ(Errors().size(), 2u);
  EXPECT_EQ(Errors()[1], kEquals);
  dialogs.files.push_back(QStringLiteral("/nonexistent"));
  Click(form->LoadFile);
  ASSERT_EQ(Errors().size(), 3u);
  EXPECT_EQ(Errors()[2], kEquals);
  EXPECT_EQ(dialogs.files.size(), 1u) << "the dialog did not open";
  EXPECT_EQ(Lines(), (std::vector<std::string>{"a=1", "b=2"}));
  EXPECT_TRUE(form->CreateEnc->isEnabled());
}

TEST_F(EditTest, TheItemModelStaysConsistentThroughEveryKindOfChange) {
  QAbstractItemModelTester tester(form->UserList->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  Fill({"a=1", "b=2", "c=3"});
  Table().InsertEntry("d", "4", false);
  Table().SetCellText(table::KeyColumn, 2, "B2");
  Table().Strings().Delete(0);
  Settle();
  Key(Qt::Key_Down, Qt::ControlModifier);
  Key(Qt::Key_Down);
  Key(Qt::Key_Escape);
  Table().Strings().Clear();
  Settle();
  EXPECT_EQ(form->UserList->model()->rowCount(), 1) << "the placeholder row";
  for (int i = 0; i < 2000; ++i) Table().Strings().Add("u" + std::to_string(i) + "=p");
  Settle();
  EXPECT_EQ(form->UserList->model()->rowCount(), 2000);
  EXPECT_EQ(form->UserList->model()->index(1999, 0).data().toString(), "u1999");
}

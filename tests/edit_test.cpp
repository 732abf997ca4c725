// Editing the table in the real window, with keys, clicks and typed text.
#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QScrollBar>
#include <QSignalSpy>

#include "window_fixture.h"

using Lines_ = std::vector<std::string>;

TEST_F(WindowTest, DuplicateUserNamesAreHeldThenRefused) {
  Fill({"a=1", "x=2"});
  ClickCell(0, 2);
  EXPECT_EQ(Editor()->text(), "x");
  Type("A");  // replaces the selected x
  EXPECT_TRUE(Errors().empty());
  ClickCell(0, 1);
  EXPECT_EQ(Errors(), Lines_{DuplicateMessage("A") + "."});
  // The failed move leaves the current cell, and the name in the editor.
  EXPECT_EQ(std::make_tuple(Lines(), Current(), Editor()->text()), std::make_tuple(Lines_{"a=1", "x=2"}, std::make_pair(0, 2), QString("A")));
  Type("b");
  EXPECT_EQ(Lines(), (Lines_{"a=1", "Ab=2"}));
  Key(Qt::Key_Backspace);  // a name stored ends the hold: "A" again is held again, without a word
  Type("b");
  EXPECT_EQ(std::make_pair(Lines(), Errors()), std::make_pair(Lines_{"a=1", "Ab=2"}, Lines_{}));

  // Leaving the table (Shift+Tab from its first cell) with a refused name closes the editor on what
  // the table holds.
  ClickCell(0, 1);
  Type("ab");
  Key(Qt::Key_Backtab);
  EXPECT_EQ(Errors(), Lines_{DuplicateMessage("ab") + "."});
  EXPECT_FALSE(Table().EditorOpen() || Editor()->isVisible()) << "no refused text stays on the screen";
  Click(form->CreateEnc);
  EXPECT_TRUE(form->Htpasswd->Text().starts_with("a:") && Errors().empty()) << "the build uses what the table shows";

  // A build refused for a name in the editor leaves nothing to save, not the files of the last one.
  ASSERT_TRUE(form->SaveData->isEnabled());
  ClickCell(0, 1);
  Type("ab");
  Key(Qt::Key_B, Qt::ControlModifier);
  EXPECT_EQ(Errors(), Lines_{DuplicateMessage("ab") + "."});
  EXPECT_TRUE(form->Htpasswd->Text().empty() && !form->SaveData->isEnabled() && !Item("SaveDataItem")->isEnabled());
}

TEST_F(WindowTest, KeysMoveTheCurrentCellAsAGridDoes) {
  for (int i = 1; i <= 30; ++i) Table().Strings().Add("user" + std::to_string(i) + "=pw" + std::to_string(i));
  Settle();
  Key(Qt::Key_Tab);  // from the first name to its password
  // Enter toggles the selection of the whole text and stays in the cell.
  EXPECT_EQ(Editor()->selectedText(), "pw1") << "the editor opens with its text selected";
  Key(Qt::Key_Return);
  EXPECT_EQ(std::make_pair(Editor()->selectedText(), Editor()->cursorPosition()), std::make_pair(QString(), 3));
  Key(Qt::Key_Return);
  EXPECT_EQ(std::make_pair(Editor()->selectedText(), Current()), std::make_pair(QString("pw1"), std::make_pair(1, 1)));
  const int page = form->UserList->viewport()->height() / 18;
  struct Step {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    std::pair<int, int> cell;
  } steps[] = {
      {Qt::Key_Down, Qt::NoModifier, {1, 2}},      {Qt::Key_PageDown, Qt::NoModifier, {1, 2 + page}},
      {Qt::Key_End, Qt::ControlModifier, {1, 30}}, {Qt::Key_PageDown, Qt::NoModifier, {1, 30}},
      {Qt::Key_Up, Qt::NoModifier, {1, 29}},       {Qt::Key_PageUp, Qt::NoModifier, {1, 29 - page}},
      {Qt::Key_Home, Qt::ControlModifier, {1, 1}}, {Qt::Key_Down, Qt::ControlModifier, {1, 30}},
      {Qt::Key_Up, Qt::ControlModifier, {1, 1}},   {Qt::Key_Up, Qt::NoModifier, {1, 1}},
      {Qt::Key_Left, Qt::NoModifier, {0, 1}},      {Qt::Key_Right, Qt::NoModifier, {1, 1}},
      {Qt::Key_Right, Qt::NoModifier, {1, 1}},
  };
  for (const Step& s : steps) {
    Key(s.key, s.mods);
    EXPECT_EQ(Current(), s.cell) << QKeySequence(s.key | s.mods).toString().toStdString();
    EXPECT_EQ(Editor()->text().toStdString(), Table().CellText(table::ColumnAt(s.cell.first), s.cell.second));
    // The view's own current cell, which a screen reader follows, and the editor over it.
    const QModelIndex shown = form->UserList->model()->index(s.cell.second - 1, s.cell.first);
    EXPECT_EQ(std::make_pair(form->UserList->currentIndex(), Editor()->geometry()), std::make_pair(shown, form->UserList->visualRect(shown)));
  }
  // Inside the text the arrows move the caret, and at its ends they move to the next cell.
  Key(Qt::Key_End);
  Key(Qt::Key_Left);
  EXPECT_EQ(Editor()->cursorPosition(), 2);
  Key(Qt::Key_Left);
  Key(Qt::Key_Left);
  EXPECT_EQ(Current(), std::make_pair(1, 1)) << "at the start of the text, not before it";
  Key(Qt::Key_Left);
  EXPECT_EQ(Current(), std::make_pair(0, 1));
  Key(Qt::Key_Home);
  Key(Qt::Key_Right);
  EXPECT_EQ(std::make_pair(Current(), Editor()->cursorPosition()), std::make_pair(std::make_pair(0, 1), 1));
  Key(Qt::Key_End);
  Key(Qt::Key_Right);
  EXPECT_EQ(Current(), std::make_pair(1, 1));
  Key(Qt::Key_Delete, Qt::ControlModifier);
  Key(Qt::Key_Insert);
  EXPECT_EQ(std::make_pair(Table().CellText(table::Column::Value, 2), Table().Strings().Count()), std::make_pair(std::string("pw1"), 31)) << "no word deleted, a row inserted";
}

TEST_F(WindowTest, ThePasswordColumnFillsWhatTheUserNameColumnLeaves) {
  TUserListGrid* grid = form->UserList;
  QHeaderView* header = grid->horizontalHeader();
  // The widths at start are in the window's reference picture.
  header->resizeSection(0, 100);  // what dragging the boundary does
  EXPECT_EQ(grid->columnWidth(1), grid->viewport()->width() - 100);
  EXPECT_EQ(Editor()->geometry(), grid->visualRect(grid->currentIndex())) << "the editor goes with its cell";
  header->resizeSection(0, 1000);  // dragged past the edge: the password column stays usable
  EXPECT_EQ(grid->columnWidth(1), TUserListGrid::kMinValueWidth);
  EXPECT_EQ(grid->columnWidth(0) + grid->columnWidth(1), grid->viewport()->width());
  emit header->sectionHandleDoubleClicked(0);  // a double-click on the boundary
  EXPECT_EQ(grid->columnWidth(0), 130);
  for (int i = 0; i < 40; ++i) Table().Strings().Add("user" + std::to_string(i) + "=p");
  Settle();
  EXPECT_TRUE(grid->verticalScrollBar()->isVisible());
  EXPECT_EQ(grid->columnWidth(0) + grid->columnWidth(1), grid->viewport()->width()) << "also with a scroll bar";
}

TEST_F(WindowTest, TheItemModelStaysConsistentThroughEveryKindOfChange) {
  QAbstractItemModelTester tester(form->UserList->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  Fill({"a=1", "b=2", "c=3"});
  Table().InsertEntry("d", "4", false);
  Settle();
  const QSignalSpy redrawn(form->UserList->model(), &QAbstractItemModel::dataChanged);
  Table().SetCellText(table::Column::Key, 2, "B2");
  Settle();
  ASSERT_FALSE(redrawn.isEmpty());
  EXPECT_EQ(redrawn.constLast().at(0).toModelIndex(), form->UserList->model()->index(1, 0)) << "a changed name is redrawn";
  Table().Strings().Delete(0);
  Settle();
  EXPECT_EQ(redrawn.constLast().at(1).toModelIndex().row(), 2) << "every row below a removed one is redrawn";
  Key(Qt::Key_Down, Qt::ControlModifier);
  Key(Qt::Key_Down);
  Key(Qt::Key_Escape);
  Table().Strings().Clear();
  Settle();
  EXPECT_EQ(form->UserList->model()->rowCount(), 1) << "the placeholder row";
  EXPECT_EQ(form->UserList->model()->columnCount(form->UserList->model()->index(0, 0)), 0) << "a cell has no cells below it";
}

TEST_F(WindowTest, ATypedCharacterTheTableCannotStoreIsRefusedAndStaysInTheEditor) {
  // U+301C is what a Japanese input method gives for ～; Shift-JIS mode stores it as its own code,
  // UTF-8 mode keeps characters exactly and has no Shift-JIS form for it. Each case: the mode,
  // what is typed, the code point named (none: the table takes the text), and what the table
  // holds meanwhile: the text as it was before the character.
  const std::tuple<bool, const char*, const char*, const char*> cases[] = {
      {false, "😀q", "1F600", "old"}, {true, "p😀q", "1F600", "oldp"}, {true, "q😀", "1F600", "oldq"}, {true, "x〜y", "301C", "oldx"}, {false, "x〜y", nullptr, nullptr}};
  for (const auto& [utf8, typed, refused, stored] : cases) {
    SCOPED_TRACE(typed);
    Choose(hashes::Format::Des, utf8);
    Table().Strings().Clear();
    Fill({"alice=old"});
    Click(form->CreateEnc);
    ASSERT_TRUE(form->SaveData->isEnabled());
    ClickCell(1, 1);
    Key(Qt::Key_End);
    Type(QString::fromUtf8(typed));
    // No message on every key; the files built before are not what the cell shows.
    EXPECT_TRUE(Errors().empty() && !form->SaveData->isEnabled());
    ClickCell(0, 1);
    if (!refused) {
      EXPECT_EQ(std::make_pair(Errors(), Lines()), std::make_pair(Lines_{}, Lines_{"alice=old" + *platform::Utf8ToCp932(typed)}));
      continue;
    }
    EXPECT_EQ(Errors(), Lines_{Sjis("1 行目のパスワード：入力した文字 U+" + std::string(refused) + " はShift-JISで表せないため、保存できません.")});
    EXPECT_EQ(Lines(), Lines_{"alice=" + std::string(stored)}) << "nothing stored without the character";
    EXPECT_TRUE(Editor()->isVisible());
    EXPECT_EQ(std::make_pair(Editor()->text(), Current()), std::make_pair("old" + QString::fromUtf8(typed), std::make_pair(1, 1))) << "as typed";
    Key(Qt::Key_B, Qt::ControlModifier);
    EXPECT_TRUE(Errors().size() == 1 && !form->SaveData->isEnabled()) << "the build stops there too";
    Key(Qt::Key_Escape);
  }
}

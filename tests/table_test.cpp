#include <gtest/gtest.h>

#include "table/user_list.h"
#include "test_files.h"
#include "text/exceptions.h"

using table::KeyColumn;
using table::TUserList;
using table::ValueColumn;

namespace {

// A table that counts its change notifications.
struct Table : TUserList {
  int changes = 0;
  Table() {
    OnStringsChange = [this] { ++changes; };
  }
  std::vector<std::string> lines() const { return Strings().Lines(); }
  void Load(std::initializer_list<const char*> lines) {
    for (const char* l : lines) Strings().Add(l);
    changes = 0;
  }
};

std::string Message(const std::function<void()>& action) {
  try {
    action();
  } catch (const text::Exception& failure) {
    return failure.Message();
  }
  return "(no failure)";
}

std::string Duplicate(const std::string& key) { return Sjis("キー名 \"") + key + Sjis("\" はすでに存在します"); }
const std::string kEquals = Sjis("キーは等号記号（“=”）を含めません。");

}  // namespace

TEST(UserListData, EmptyTableShowsThePlaceholderRow) {
  Table t;
  EXPECT_EQ(t.RowCount(), 2);
  EXPECT_EQ(t.Col(), ValueColumn);
  EXPECT_EQ(t.Row(), 1);
  EXPECT_EQ(t.CellText(KeyColumn, 0), Sjis("ユーザ名"));
  EXPECT_EQ(t.CellText(ValueColumn, 0), Sjis("パスワード"));
  EXPECT_EQ(t.CellText(KeyColumn, 1), "");
  EXPECT_EQ(t.CellText(ValueColumn, 1), "");
  EXPECT_FALSE(t.IsEmptyRow(1));  // the placeholder has no line behind it

  t.SetCellText(ValueColumn, 1, "secret");
  EXPECT_EQ(t.lines(), std::vector<std::string>{"=secret"});
  EXPECT_EQ(t.RowCount(), 2);
  EXPECT_EQ(t.CellText(KeyColumn, 1), "");
  EXPECT_EQ(t.changes, 1);
  // A data row without a line, while the list has lines, is a list index error.
  EXPECT_EQ(Message([&] { t.CellText(KeyColumn, 2); }), Sjis("リストのインデックスが範囲を超えています (1)"));
}

TEST(UserListData, InsertEntryAppendsReusesAndRefuses) {
  Table t;
  EXPECT_EQ(t.InsertEntry("alice", "P", true), 1);
  EXPECT_EQ(t.InsertEntry("bob", "", true), 2);
  EXPECT_EQ(t.lines(), (std::vector<std::string>{"alice=P", "bob="}));
  EXPECT_EQ(t.RowCount(), 3);

  t.changes = 0;
  EXPECT_EQ(Message([&] { t.InsertEntry("Alice", "x", true); }), Duplicate("Alice"));
  EXPECT_EQ(t.lines(), (std::vector<std::string>{"alice=P", "bob="}));
  EXPECT_EQ(t.changes, 1) << "a failed batch still announces itself once";

  // Empty user names never clash.
  EXPECT_EQ(t.InsertEntry("", "p1", true), 3);
  EXPECT_EQ(t.InsertEntry("", "p2", true), 4);

  // Inserting before the current row.
  t.MoveTo(ValueColumn, 2);
  EXPECT_EQ(t.InsertEntry("carol", "c", false), 2);
  EXPECT_EQ(t.lines(), (std::vector<std::string>{"alice=P", "carol=c", "bob=", "=p1", "=p2"}));
}

TEST(UserListData, AnEmptyCurrentRowIsFilledInsteadOfAdded) {
  Table t;
  EXPECT_EQ(t.InsertEntry("", "", true), 1);  // a line holding only a comma
  EXPECT_TRUE(t.IsEmptyRow(1));
  t.changes = 0;
  EXPECT_EQ(t.InsertEntry("dave", "pw", true), 1);
  EXPECT_EQ(t.lines(), std::vector<std::string>{"dave=pw"});
  EXPECT_EQ(t.changes, 2) << "two cell writes, each announced";
}

TEST(UserListData, KeysWithAnEqualsSignAreRefusedBeforeAnythingChanges) {
  Table t;
  t.Load({"alice=P"});
  EXPECT_EQ(Message([&] { t.InsertEntry("a=b", "V", true); }), kEquals);
  EXPECT_EQ(t.lines(), std::vector<std::string>{"alice=P"});
  EXPECT_EQ(t.changes, 1);

  Table reuse;
  reuse.InsertEntry("", "", true);
  reuse.changes = 0;
  EXPECT_EQ(Message([&] { reuse.InsertEntry("a=b", "V", true); }), kEquals);
  EXPECT_EQ(reuse.lines(), std::vector<std::string>{"="});
  EXPECT_EQ(reuse.changes, 0);

  // A cell write would cut the name at the sign and push the rest into the password.
  EXPECT_EQ(Message([&] { t.SetCellText(KeyColumn, 1, "a=b"); }), kEquals);
  EXPECT_EQ(t.lines(), std::vector<std::string>{"alice=P"});
  t.SetCellText(ValueColumn, 1, "p=q");
  EXPECT_EQ(t.lines(), std::vector<std::string>{"alice=p=q"}) << "a password may hold one";
}

TEST(UserListData, KeysAreUniqueIgnoringCase) {
  Table t;
  t.Load({"alice=1", "\x82\x60\x82\x61=2", "bob=3"});  // ＡＢ
  struct Case {
    const char* label;
    std::function<void()> action;
    std::string message;
  } refused[] = {
      {"add", [&] { t.Strings().Add("ALICE=x"); }, Duplicate("ALICE")},
      {"insert", [&] { t.Strings().Insert(0, "Bob=x"); }, Duplicate("Bob")},
      {"full-width other case", [&] { t.Strings().Add("\x82\x81\x82\x82=x"); }, Duplicate("\x82\x81\x82\x82")},
      {"replace with another's key", [&] { t.Strings().Put(2, "Alice=3"); }, Duplicate("Alice")},
      {"cell write", [&] { t.SetCellText(KeyColumn, 3, "ALICE"); }, Duplicate("ALICE")},
  };
  for (const Case& c : refused) {
    EXPECT_EQ(Message(c.action), c.message) << c.label;
    EXPECT_EQ(t.lines(), (std::vector<std::string>{"alice=1", "\x82\x60\x82\x61=2", "bob=3"})) << c.label;
  }

  // A row may change the case of its own key; afterwards the old spelling is free for nobody else.
  t.SetCellText(KeyColumn, 1, "Alice");
  EXPECT_EQ(t.lines()[0], "Alice=1");
  EXPECT_EQ(Message([&] { t.Strings().Add("alice=z"); }), Duplicate("alice"));
  // A renamed key frees its old name.
  t.SetCellText(KeyColumn, 3, "robert");
  t.Strings().Add("BOB=4");
  t.Strings().Delete(0);
  t.Strings().Add("alice=5");
  EXPECT_EQ(t.lines(), (std::vector<std::string>{"\x82\x60\x82\x61=2", "robert=3", "BOB=4", "alice=5"}));
  // Lines without "=" have no key and never clash.
  t.Strings().Add("noequals");
  t.Strings().Add("noequals");
  EXPECT_EQ(t.Strings().Count(), 6);
}

TEST(UserListData, NotificationsFollowEveryChangeAndOnlyChanges) {
  Table t;
  t.Strings().Clear();
  EXPECT_EQ(t.changes, 0) << "clearing an empty list is no change";
  t.Strings().Add("a=1");
  t.Strings().Insert(0, "b=2");
  t.Strings().Put(1, "a=3");
  t.Strings().Delete(0);
  EXPECT_EQ(t.changes, 4);
  t.Strings().Clear();
  EXPECT_EQ(t.changes, 5);
  EXPECT_THROW(t.Strings().Put(0, "x=1"), text::EStringListError);
  EXPECT_EQ(t.changes, 5);
}

TEST(UserListData, RowCountAndCurrentRowFollowTheLines) {
  Table t;
  t.Load({"a=1", "b=2", "c=3", "d=4"});
  EXPECT_EQ(t.RowCount(), 5);
  t.MoveTo(KeyColumn, 4);
  t.Strings().Delete(3);
  EXPECT_EQ(t.RowCount(), 4);
  EXPECT_EQ(t.Row(), 3) << "a current row beyond the last moves to the last";
  t.Strings().Delete(0);
  EXPECT_EQ(t.Row(), 2);
  EXPECT_EQ(t.CellText(KeyColumn, 2), "c");
  t.Strings().Clear();
  EXPECT_EQ(t.RowCount(), 2);
  EXPECT_EQ(t.Row(), 1);
  EXPECT_EQ(t.Col(), KeyColumn);
}

namespace {

// The editor as the table sees it, without a screen: the test types by setting its text.
class FakeEditor : public table::CellEditor {
 public:
  std::string text;
  bool shown = false;
  int selections = 0;
  std::string Text() const override { return text; }
  void Show(int, int, std::string_view t) override {
    text = std::string(t);
    shown = true;
  }
  void Hide() override { shown = false; }
  bool Restore(std::string_view t) override {
    const bool changed = text != t;
    text = std::string(t);
    return changed;
  }
  void SelectAll() override { ++selections; }
};

struct EditedTable : Table {
  FakeEditor editor;
  EditedTable() {
    SetEditor(&editor);
    ShowEditor();
  }
  // Moves as the view does: the editor opens again on the new cell.
  void Go(int column, int row) {
    MoveTo(column, row);
    ShowEditor();
  }
  void TypeText(const std::string& t) {
    editor.text = t;
    EditorTextChanged();
  }
};

}  // namespace

TEST(UserListEditing, AHeldDuplicateIsRefusedEverySecondHandOver) {
  EditedTable t;
  t.Load({"a=1", "x=2"});
  t.Go(KeyColumn, 2);
  t.TypeText("A");
  EXPECT_EQ(t.PendingDuplicateKey(), "A");
  EXPECT_EQ(t.lines()[1], "x=2") << "held silently";
  EXPECT_EQ(Message([&] { t.CloseEditor(); }), Duplicate("A"));
  EXPECT_TRUE(t.EditorOpen()) << "a refused hand-over leaves the editor open";
  EXPECT_EQ(t.editor.text, "A");
  EXPECT_EQ(Message([&] { t.MoveTo(KeyColumn, 1); }), "(no failure)") << "held again, without a word";
  EXPECT_EQ(t.Row(), 1);
  EXPECT_EQ(t.lines(), (std::vector<std::string>{"a=1", "x=2"}));

  // The held text is pending again: handed over once more, right away, it is refused.
  t.Go(KeyColumn, 2);
  EXPECT_EQ(Message([&] { t.TypeText("A"); }), Duplicate("A"));

  // Passing through a duplicate on the way to a unique name stores the unique one.
  t.TypeText("y");
  t.TypeText("A");
  t.TypeText("Ab");
  EXPECT_EQ(t.lines()[1], "Ab=2");
  EXPECT_EQ(t.PendingDuplicateKey(), "");
  // The row's own key in another case is held once, then stored.
  t.TypeText("AB");
  EXPECT_EQ(t.lines()[1], "Ab=2");
  t.CloseEditor();
  EXPECT_EQ(t.lines()[1], "AB=2");
}

TEST(UserListEditing, TheEqualsSignIsRefusedAtEveryHandOver) {
  EditedTable t;
  t.Go(KeyColumn, 1);
  EXPECT_EQ(Message([&] { t.TypeText("="); }), kEquals);
  EXPECT_EQ(t.lines(), std::vector<std::string>{""}) << "the first keystroke still gave the row its line";
  EXPECT_EQ(t.changes, 1);
  EXPECT_EQ(Message([&] { t.TypeText("a=b"); }), kEquals);
  EXPECT_EQ(Message([&] { t.InsertEntry("c", "d", true); }), kEquals) << "another change closes the editor first";
  EXPECT_EQ(Message([&] { t.Strings().Clear(); }), kEquals);
  EXPECT_EQ(t.lines(), std::vector<std::string>{""});
  t.TypeText("ab");
  EXPECT_EQ(t.lines(), std::vector<std::string>{"ab="});
}

TEST(UserListEditing, EscapeRestoresTheCellOrRemovesAnEmptyRow) {
  EditedTable t;
  t.Load({"a=1", "b=2"});
  t.Go(ValueColumn, 2);
  t.TypeText("22");
  t.KeyEscape();
  EXPECT_EQ(t.lines()[1], "b=2") << "the stored cell gets its text back";
  EXPECT_EQ(t.editor.text, "2");
  EXPECT_EQ(t.editor.selections, 1);
  t.KeyEscape();
  EXPECT_EQ(t.Strings().Count(), 2) << "a row with text is never removed";

  t.KeyDown();  // adds "=" and moves to it
  EXPECT_EQ(t.lines(), (std::vector<std::string>{"a=1", "b=2", "="}));
  EXPECT_EQ(t.Row(), 3);
  t.ShowEditor();
  t.KeyDown();
  EXPECT_EQ(t.Strings().Count(), 3) << "Down on an empty last row adds nothing";
  t.KeyEscape();
  EXPECT_EQ(t.lines(), (std::vector<std::string>{"a=1", "b=2"}));
  EXPECT_EQ(t.Row(), 2);

  // Escape on the only, empty row removes the last line; the placeholder shows again.
  EditedTable one;
  one.InsertEntry("", "", true);
  one.ShowEditor();
  one.KeyEscape();
  EXPECT_TRUE(one.lines().empty());
  EXPECT_EQ(one.RowCount(), 2);
}

TEST(UserListEditing, LeavingAnEmptyRowRemovesIt) {
  struct Case {
    int target, landed;
    std::vector<std::string> left;
  } cases[] = {
      {4, 3, {"a=1", "c=3", "d=4"}},  // below: the row the user aimed at, one index higher up
      {1, 1, {"a=1", "c=3", "d=4"}},  // above: the target itself
  };
  for (const Case& c : cases) {
    EditedTable t;
    t.Load({"a=1", "b=2", "c=3", "d=4"});
    t.Go(KeyColumn, 2);
    t.TypeText("");
    t.Go(ValueColumn, 2);
    t.TypeText("");
    EXPECT_TRUE(t.IsEmptyRow(2));
    t.MoveTo(KeyColumn, c.target);
    EXPECT_EQ(t.lines(), c.left);
    EXPECT_EQ(t.Row(), c.landed);
    EXPECT_EQ(t.RowCount(), 4);
  }
  // Insert puts an empty row before a named row; the current row index stays on it.
  EditedTable t;
  t.Load({"a=1", "b=2", "c=3", "d=4"});
  t.MoveTo(ValueColumn, 2);
  t.KeyInsert();
  EXPECT_EQ(t.lines(), (std::vector<std::string>{"a=1", "=", "b=2", "c=3", "d=4"}));
  EXPECT_EQ(t.Row(), 2);
  t.KeyInsert();
  EXPECT_EQ(t.Strings().Count(), 5) << "no Insert on a row without a user name";
}

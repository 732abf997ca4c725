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

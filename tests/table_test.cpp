// The credential table without a screen. The table fuzzer (fuzz/fuzz_user_list.cpp, replayed by
// ctest) holds it to a naive model through every kind of edit; these cases pin what the model
// takes from the table itself: messages, notifications and the placeholder row.
#include <gtest/gtest.h>

#include "table/user_list.h"
#include "test_files.h"
#include "text/exceptions.h"

using table::KeyColumn;
using table::ValueColumn;
using Lines = std::vector<std::string>;

TEST(UserListData, EveryChangeIsAnnouncedAndARefusedOneChangesNothing) {
  table::TUserList t;
  int changes = 0;
  t.OnStringsChange = [&] { ++changes; };
  const std::string equals = Sjis("キーは等号記号（“=”）を含めません。");
  // What the step shows, the step, the lines after it, the changes it announces, and its failure.
  const std::tuple<const char*, std::function<void()>, Lines, int, std::string> steps[] = {
      {"clearing an empty list is no change", [&] { t.Strings().Clear(); }, {}, 0, ""},
      {"a refused first entry announces nothing", [&] { t.InsertEntry("a=b", "V", true); }, {}, 0, equals},
      {"append", [&] { t.InsertEntry("alice", "P", true); }, {"alice=P"}, 1, ""},
      {"a duplicate in another case", [&] { t.InsertEntry("Alice", "x", true); }, {"alice=P"}, 1,
       Sjis("キー名 \"Alice\" はすでに存在します")},
      {"an empty row, as a line holding only a comma", [&] { t.InsertEntry("", "", true); }, {"alice=P", "="}, 1, ""},
      {"move onto it", [&] { t.MoveTo(ValueColumn, 2); }, {"alice=P", "="}, 0, ""},
      {"the empty row is filled by two cell writes", [&] { t.InsertEntry("bob", "", true); }, {"alice=P", "bob="}, 2, ""},
      {"insert before the current row", [&] { t.InsertEntry("", "p", false); }, {"alice=P", "=p", "bob="}, 1, ""},
      {"a cell write refuses a name with =", [&] { t.SetCellText(KeyColumn, 2, "a=b"); }, {"alice=P", "=p", "bob="}, 0,
       equals},
      {"a password may hold one", [&] { t.SetCellText(ValueColumn, 2, "p=q"); }, {"alice=P", "=p=q", "bob="}, 1, ""},
      {"a row may change the case of its own name", [&] { t.SetCellText(KeyColumn, 1, "ALICE"); },
       {"ALICE=P", "=p=q", "bob="}, 1, ""},
      {"put", [&] { t.Strings().Put(2, "Bob=2"); }, {"ALICE=P", "=p=q", "Bob=2"}, 1, ""},
      {"delete", [&] { t.Strings().Delete(0); }, {"=p=q", "Bob=2"}, 1, ""},
      {"a line beyond the list", [&] { t.Strings().Put(2, "x=1"); }, {"=p=q", "Bob=2"}, 0,
       Sjis("リストのインデックスが範囲を超えています (2)")},
      {"clear", [&] { t.Strings().Clear(); }, {}, 1, ""},
  };
  for (const auto& [label, action, lines, announced, message] : steps) {
    changes = 0;
    EXPECT_EQ(FailureMessage<text::Exception>(action), message) << label;
    EXPECT_EQ(t.Strings().Lines(), lines) << label;
    EXPECT_EQ(changes, announced) << label;
  }
  EXPECT_EQ(t.RowCount(), 2);
  EXPECT_EQ(t.Row(), 1) << "back on the placeholder";
}

// Files nobody should feed the tool, shown in the real window: the table paints whatever bytes it
// holds, and a cell too long to lay out is kept whole rather than edited in place.
#include <random>

#include "window_fixture.h"

using namespace std::string_literals;

TEST_F(WindowTest, OddAndHugeCellsAreShownAndKeptWhole) {
  std::mt19937 random(7);
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>(1 + random() % 255);  // no NUL
  std::replace(binary.begin(), binary.end(), '=', '-');  // nor a name the table refuses
  // Random bytes are read up to the first line that would put a control byte into a name (here
  // the second byte of a would-be character).
  for (const auto& [odd, refusals] : {std::pair{"\x81,\x82\r\n\x83\x40\x9F,x\x81"s, 0u}, {binary, 1u}}) {
    Load(odd);
    ASSERT_GT(Table().Strings().Count(), 0);
    EXPECT_EQ(Errors().size(), refusals);
    form->UserList->grab();
  }
  const std::vector<std::string> before = Lines();
  Load("\xFF\xFEu\0s\0,\0p\0"s);
  EXPECT_EQ(Lines(), before) << "UTF-16 is refused for its NUL bytes, whole";
  EXPECT_EQ(Errors().size(), 1u);

  const std::size_t size = 16u << 20;  // far past what a line edit lays out in good time
  std::string line = "user,";
  line.resize(size, 'p');
  Load(line);
  ASSERT_TRUE(Errors().empty());
  ASSERT_EQ(Table().Strings().Count(), 1);
  EXPECT_EQ(form->UserList->model()->index(0, 1).data(), QString(4096, u'p') + u'…') << "its start is shown";
  QApplication::setActiveWindow(form.get());  // back from the progress dialog, as a window manager would
  Settle();
  Key(Qt::Key_Right);  // the editor moves onto the huge cell
  form->UserList->grab();
  EXPECT_TRUE(Editor()->isReadOnly()) << "too long to lay out in a line edit";
  EXPECT_EQ(Editor()->toolTip(), "長すぎるため、ここでは編集できません");
  Type("x");
  Key(Qt::Key_Escape);
  Key(Qt::Key_Left);
  EXPECT_FALSE(Editor()->isReadOnly());
  EXPECT_EQ(Table().CellText(table::Column::Value, 1).size(), size - 5) << "not one byte lost or changed";
  Click(form->CreateEnc);
  EXPECT_EQ(form->Htpasswd->Text().size(), 4 + 1 + 13 + 2u);
}

// The read-only text boxes: what they show, where their selection and caret are drawn, and what
// they copy. Pixels are read from the real widget.
#include <QClipboard>
#include <QMenu>
#include <QScrollBar>
#include <QTimer>

#include "app/busy.h"
#include "window_fixture.h"

namespace {

class MemoTest : public WindowTest {
 protected:
  // Screen row `row` (from the top of the view) as the box draws it.
  QPoint RowPoint(const TMemo* memo, int row, int x) const {
    return {x, 2 + row * memo->fontMetrics().height() + memo->fontMetrics().height() / 2};
  }
  // Pixels of a colour role (dark ones for Text, which is drawn smoothed) in each screen row band:
  // whether each row shows a selection, its text, or selected text.
  static std::vector<int> PixelsByRow(TMemo* memo, int rows, QPalette::ColorRole role = QPalette::Highlight) {
    const QRgb colour = memo->palette().color(role).rgb();
    return PixelsByRow(memo, rows, [&](QRgb p) { return role == QPalette::Text ? qGray(p) < 128 : p == colour; });
  }
  template <class Counts>
  static std::vector<int> PixelsByRow(TMemo* memo, int rows, Counts counts_pixel) {
    const QImage image = memo->viewport()->grab().toImage();
    std::vector<int> counts(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r)
      for (int y = 2 + r * memo->fontMetrics().height(); y < 2 + (r + 1) * memo->fontMetrics().height(); ++y)
        for (int x = 0; x < image.width(); ++x) counts[static_cast<std::size_t>(r)] += counts_pixel(image.pixel(x, y));
    return counts;
  }
  // The enabled state of each item of the box's context menu.
  static std::vector<bool> ContextItems(TMemo* memo) {
    std::vector<bool> enabled;
    QTimer::singleShot(0, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(menu, nullptr);
      for (QAction* a : menu->actions()) enabled.push_back(a->isEnabled());
      menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), memo->viewport()->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(memo->viewport(), &event);
    // The offscreen platform gives the window back no activation when a popup closes.
    QApplication::setActiveWindow(memo->window());
    memo->setFocus();
    return enabled;
  }
};

}  // namespace

TEST_F(MemoTest, WrappedLinesSelectCopyAndShowFocusWhereTheyAre) {
  TMemo* memo = form->Htpasswd;
  // No character twice, so that every piece of it is found in one place only.
  const std::string long_name = Sjis("あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわをん");
  memo->Append(long_name + ":hash");
  memo->Append("short");
  form->Htaccess->Append(long_name);
  Settle();
  EXPECT_GT(form->Htaccess->horizontalScrollBar()->maximum(), 0) << ".htaccess scrolls sideways";
  form->Htaccess->setFocus();
  Key(Qt::Key_Right);
  EXPECT_EQ(form->Htaccess->horizontalScrollBar()->value(), form->Htaccess->fontMetrics().horizontalAdvance(u'0'))
      << "a character at a time";
  EXPECT_EQ(form->Htaccess->verticalScrollBar()->maximum(), 0);
  const QString whole = QString::fromStdString(platform::Cp932ToUtf8(long_name)) + ":hash\nshort";
  EXPECT_EQ(memo->ShownText(), whole);
  EXPECT_EQ(memo->Text(), long_name + ":hash\r\nshort\r\n") << "the bytes are what is saved";

  // Drag along the second screen row of the wrapped line: exactly that row is selected and drawn so.
  const int right = memo->viewport()->width() - 3;
  QTest::mousePress(memo->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(memo, 1, 2));
  QTest::mouseMove(memo->viewport(), RowPoint(memo, 1, right));
  const QString row1 = memo->SelectedText();
  ASSERT_FALSE(row1.isEmpty());
  // A row takes every double-byte character (two cells each) that fits between the margins.
  const int cell = memo->fontMetrics().horizontalAdvance(u'0');
  EXPECT_EQ(row1.size(), (memo->viewport()->width() - 4) / cell / 2) << row1.toStdString();
  EXPECT_TRUE(whole.indexOf(row1) > 0) << row1.toStdString();
  form->AuthName->setFocus();
  Settle();
  const std::vector<int> unfocused = PixelsByRow(memo, 4);
  EXPECT_EQ(unfocused, std::vector<int>(4, 0)) << "no selection drawn without the focus";
  const std::vector<int> text = PixelsByRow(memo, 5, QPalette::Text);
  EXPECT_TRUE(text[0] > 0 && text[1] > 0 && text[2] > 0 && text[3] > 0 && text[4] == 0) << testing::PrintToString(text);
  memo->setFocus();
  Settle();
  const std::vector<int> focused = PixelsByRow(memo, 4);
  EXPECT_EQ(focused[0] + focused[2] + focused[3], 0);
  EXPECT_GT(focused[1], 0);
  // Selected text is drawn in its own (lighter) colour: nothing on the band is darker than the band.
  const int band_grey = qGray(memo->palette().color(QPalette::Highlight).rgb());
  EXPECT_EQ(PixelsByRow(memo, 4, [&](QRgb p) { return qGray(p) < band_grey - 8; })[1], 0);
  EXPECT_EQ(ContextItems(memo), (std::vector<bool>{true, true}));

  // A shift-click reaches into the next line; a double-click takes a whole line.
  QTest::mouseClick(memo->viewport(), Qt::LeftButton, Qt::ShiftModifier, RowPoint(memo, 3, right));
  EXPECT_EQ(memo->SelectedText().toStdString(), whole.mid(whole.indexOf(row1)).toStdString());
  QTest::mouseDClick(memo->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(memo, 3, 5));
  EXPECT_EQ(memo->SelectedText(), "short");
  QTest::mouseClick(memo->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(memo, 3, 2));
  QTest::mouseClick(memo->viewport(), Qt::LeftButton, Qt::ShiftModifier, RowPoint(memo, 4, 2));
  EXPECT_EQ(memo->SelectedText(), "short") << "below the text is its end";
  // A click goes to the character boundary nearest to it, on the row whose band holds it.
  const int bottom = memo->fontMetrics().height() / 2 - 1;
  QTest::mouseClick(memo->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(memo, 3, 2) + QPoint(0, bottom));
  QTest::mouseClick(memo->viewport(), Qt::LeftButton, Qt::ShiftModifier, RowPoint(memo, 3, right));
  EXPECT_EQ(memo->SelectedText(), "short");
  QTest::mouseClick(memo->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(memo, 3, 2 + cell * 16 / 10));
  QTest::mouseClick(memo->viewport(), Qt::LeftButton, Qt::ShiftModifier, RowPoint(memo, 3, 2 + cell * 44 / 10));
  EXPECT_EQ(memo->SelectedText(), "or");
  EXPECT_LE(PixelsByRow(memo, 4)[3], 2 * cell * memo->fontMetrics().height()) << "the band covers the selection only";
  Key(Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(memo->SelectedText(), whole) << "select all starts at the top, wherever the anchor was";
  Key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), whole);

  // A click selects nothing, puts the caret there, and leaves nothing to copy.
  QTest::mouseClick(memo->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(memo, 3, 2));
  EXPECT_EQ(memo->SelectedText(), "");
  EXPECT_EQ(ContextItems(memo), (std::vector<bool>{false, true}));
  QApplication::clipboard()->clear();
  Key(Qt::Key_Insert, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "");
  const QImage image = memo->viewport()->grab().toImage();
  const QPoint caret = RowPoint(memo, 3, 2);
  EXPECT_EQ(image.pixel(caret), memo->palette().color(QPalette::Text).rgb()) << "a caret where the focus is";
  EXPECT_EQ(image.pixel(caret + QPoint(0, memo->fontMetrics().height())), memo->palette().color(QPalette::Base).rgb());
}

TEST_F(MemoTest, ABoxEmptiedWhileAHandlerWorksPaintsWhatItHolds) {
  for (int i = 0; i < 20; ++i) form->Htpasswd->Append("user" + std::to_string(i) + ":hash");
  Settle();
  {
    const TBusyScope busy(form.get(), "work");  // the layout waits for the end of the work
    form->Htpasswd->Clear();
    form->Htpasswd->Append("new:hash");
    form->Htpasswd->viewport()->grab();
  }
  EXPECT_TRUE(Errors().empty());
}

TEST_F(MemoTest, AnEmptyBoxShowsItsFocusAndLongTextScrollsByKey) {
  TMemo* memo = form->Htaccess;
  const QPoint corner(2, 2 + memo->fontMetrics().height() / 2);
  EXPECT_EQ(memo->viewport()->grab().toImage().pixel(corner), memo->palette().color(QPalette::Base).rgb());
  memo->setFocus();
  Settle();
  EXPECT_EQ(memo->viewport()->grab().toImage().pixel(corner), memo->palette().color(QPalette::Text).rgb());
  for (int i = 0; i < 100; ++i) memo->Append("line " + std::to_string(i));
  Settle();
  Key(Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(memo->verticalScrollBar()->value(), memo->verticalScrollBar()->maximum());
  EXPECT_GT(memo->verticalScrollBar()->value(), 80);
  Key(Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(memo->verticalScrollBar()->value(), 0);
  memo->Clear();
  Settle();
  EXPECT_EQ(memo->verticalScrollBar()->maximum(), 0);
  EXPECT_EQ(memo->ShownText(), "");
}

// The read-only text boxes: what they show, where their selection and caret are drawn, and what
// they copy. Pixels are read from the real widget.
#include <QClipboard>
#include <QScrollBar>

#include "app/busy.h"
#include "window_fixture.h"

namespace {

class MemoTest : public WindowTest {
 protected:
  // Screen row `row` (from the top of the view) of the .htpasswd box as it draws it.
  QPoint RowPoint(int row, int x) const { return {x, 2 + row * Height() + Height() / 2}; }
  int Height() const { return form->Htpasswd->fontMetrics().height(); }
  // The text a click at `from` and a shift-click at `to` select.
  QString Select(QPoint from, QPoint to) {
    QTest::mouseClick(form->Htpasswd->viewport(), Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseClick(form->Htpasswd->viewport(), Qt::LeftButton, Qt::ShiftModifier, to);
    return form->Htpasswd->SelectedText();
  }
  // A box as the screen shows it once pending paints are done: a change the box did not ask to
  // repaint does not reach it.
  static QImage Shown(const QWidget* w) { return Settle(), w->screen()->grabWindow(w->window()->winId()).toImage().copy(QRect(w->mapTo(w->window(), QPoint()), w->size())); }
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
  const int cell = memo->fontMetrics().horizontalAdvance(u'0');
  const int wide = form->Htaccess->fontMetrics().horizontalAdvance(u'0');
  EXPECT_EQ(form->Htaccess->horizontalScrollBar()->maximum(), static_cast<int>(long_name.size()) * wide + 4 - form->Htaccess->viewport()->width())
      << ".htaccess scrolls sideways to the end of its longest line and its margin";
  form->Htaccess->setFocus();
  Key(Qt::Key_Right);
  EXPECT_EQ(form->Htaccess->horizontalScrollBar()->value(), cell) << "a character at a time";
  EXPECT_EQ(std::make_tuple(form->Htaccess->verticalScrollBar()->maximum(), form->Htaccess->verticalScrollBar()->isVisible(), memo->verticalScrollBar()->isVisible(),
                            memo->horizontalScrollBar()->isVisible()), std::make_tuple(0, true, true, false)) << "a vertical scroll bar whether or not there is anything to scroll";
  const QString whole = QString::fromStdString(platform::Cp932ToUtf8(long_name)) + ":hash\nshort";
  EXPECT_EQ(memo->ShownText(), whole);
  EXPECT_EQ(memo->Text(), long_name + ":hash\r\nshort\r\n") << "the bytes are what is saved";

  // Drag along the second screen row of the wrapped line: exactly that row is selected and drawn so.
  const int right = memo->viewport()->width() - 3;
  QTest::mousePress(memo->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(1, 2)), Settle();  // painted before the drag
  QTest::mouseMove(memo->viewport(), RowPoint(1, right));
  const QString row1 = memo->SelectedText();
  EXPECT_TRUE(LooksAsItsReference(Shown(memo), "memo-dragged")) << "drawn while it is dragged";
  // A row takes every double-byte character (two cells each) that fits between the margins.
  EXPECT_EQ(row1.size(), (memo->viewport()->width() - 4) / cell / 2) << row1.toStdString();
  EXPECT_TRUE(whole.indexOf(row1) > 0) << row1.toStdString();
  form->AuthName->setFocus();
  EXPECT_TRUE(LooksAsItsReference(Shown(memo), "memo-unfocused")) << "no selection drawn without the focus";
  memo->setFocus();
  EXPECT_TRUE(LooksAsItsReference(Shown(memo), "memo-dragged")) << "and drawn again with it";

  // A shift-click reaches into the next line; below the text is its end; a click goes to the
  // character boundary nearest to it, on the row whose band holds it; a double-click takes a line.
  QTest::mouseClick(memo->viewport(), Qt::LeftButton, Qt::ShiftModifier, RowPoint(3, right));
  EXPECT_EQ(memo->SelectedText().toStdString(), whole.mid(whole.indexOf(row1)).toStdString());
  EXPECT_EQ(Select(RowPoint(3, 2), RowPoint(4, 2)), "short");
  EXPECT_EQ(Select(RowPoint(3, 2) + QPoint(0, Height() / 2 - 1), RowPoint(3, right)), "short");
  EXPECT_EQ(Select(RowPoint(3, 2 + cell * 44 / 10), RowPoint(3, 2 + cell * 16 / 10)), "or");
  EXPECT_TRUE(LooksAsItsReference(Shown(memo), "memo-two-characters")) << "the band covers the selection only, the rest keeps its text";
  QTest::mouseDClick(memo->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(1, 5));
  EXPECT_EQ(memo->SelectedText(), whole.section('\n', 0, 0));
  Key(Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(memo->SelectedText(), whole) << "select all runs from the top to the end, wherever the selection was";
  Key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), whole);

  // A click selects nothing, puts the caret there, and leaves nothing to copy.
  QTest::mouseClick(memo->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(3, 2));
  EXPECT_EQ(memo->SelectedText(), "");
  QApplication::clipboard()->clear();
  Key(Qt::Key_Insert, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "");
  EXPECT_TRUE(LooksAsItsReference(Shown(memo), "memo-caret")) << "a caret where the focus is";
}

TEST_F(MemoTest, AnEmptyBoxShowsItsFocusAndLongTextScrollsByKey) {
  TMemo* memo = form->Htpasswd;
  EXPECT_EQ(memo->viewport()->cursor().shape(), Qt::IBeamCursor) << "text to select";
  EXPECT_TRUE(LooksAsItsReference(Shown(memo), "memo-empty"));
  QTest::mouseClick(memo->viewport(), Qt::LeftButton);  // a click gives it the focus
  EXPECT_TRUE(LooksAsItsReference(Shown(memo), "memo-empty-focused"));
  for (int i = 0; i < 100; ++i) memo->Append("line " + std::to_string(i));
  Settle();
  Key(Qt::Key_End, Qt::ControlModifier);
  EXPECT_TRUE(memo->verticalScrollBar()->value() == memo->verticalScrollBar()->maximum() && memo->verticalScrollBar()->value() > 80);
  Key(Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ((Key(Qt::Key_PageDown), memo->verticalScrollBar()->value()), (memo->viewport()->height() - 2) / Height()) << "from the top, a page down";
  {
    const TBusyScope busy(form.get(), "work");  // the layout waits for the end of the work
    memo->Clear();
    memo->Append("new:hash");
    memo->viewport()->grab();  // a box emptied while a handler works paints what it holds
    EXPECT_GT((Settle(), memo->verticalScrollBar()->maximum()), 80) << "laid out anew only once the work is done";
  }
  EXPECT_TRUE(Errors().empty());
  QTest::mouseDClick(memo->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(0, 5));
  EXPECT_EQ(memo->SelectedText(), QString("new:hash"));
  EXPECT_TRUE(LooksAsItsReference(Shown(memo), "memo-line-selected")) << "the caret at the line's end";
  memo->Clear();
  Settle();
  EXPECT_EQ(std::make_pair(memo->verticalScrollBar()->maximum(), memo->ShownText()), std::make_pair(0, QString()));
  memo->Append("after");
  EXPECT_EQ(memo->SelectedText(), "") << "the selection went with the text";
  memo->Append("longer line");
  Settle();
  EXPECT_EQ(Select(RowPoint(0, 2), RowPoint(5, 2)), "after\nlonger line") << "below the text is the end of its last line";
  // A selected line end is drawn as half a cell of band after the line's text.
  const int cell = memo->fontMetrics().horizontalAdvance(u'0');
  EXPECT_EQ(Select(RowPoint(0, 2 + 5 * cell + 1), RowPoint(1, 2)), "\n");
  EXPECT_TRUE(LooksAsItsReference(Shown(memo), "memo-line-end"));
}

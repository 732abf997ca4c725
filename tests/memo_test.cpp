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
  // Pixels in each screen row band that `counts` takes: whether each row shows a selection, its
  // text, or selected text. By default those of the selection's colour.
  std::vector<int> PixelsByRow(int rows, const std::function<bool(QRgb)>& counts = {}) const {
    const QRgb band = form->Htpasswd->palette().color(QPalette::Highlight).rgb();
    const QImage image = Shown(form->Htpasswd->viewport());
    std::vector<int> found(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r)
      for (int y = 2 + r * Height(); y < 2 + (r + 1) * Height(); ++y)
        for (int x = 0; x < image.width(); ++x) found[static_cast<std::size_t>(r)] += counts ? counts(image.pixel(x, y)) : image.pixel(x, y) == band;
    return found;
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
  EXPECT_GT(PixelsByRow(2)[1], 0) << "drawn while it is dragged";
  // A row takes every double-byte character (two cells each) that fits between the margins.
  EXPECT_EQ(row1.size(), (memo->viewport()->width() - 4) / cell / 2) << row1.toStdString();
  EXPECT_TRUE(whole.indexOf(row1) > 0) << row1.toStdString();
  form->AuthName->setFocus();
  Settle();
  EXPECT_EQ(PixelsByRow(4), std::vector<int>(4, 0)) << "no selection drawn without the focus";
  const std::vector<int> text = PixelsByRow(5, [](QRgb p) { return qGray(p) < 128; });  // dark: text, drawn smoothed
  EXPECT_TRUE(text[0] > 0 && text[1] > 0 && text[2] > 0 && text[3] > 0 && text[4] == 0) << testing::PrintToString(text);
  memo->setFocus();
  Settle();
  const std::vector<int> focused = PixelsByRow(4);
  EXPECT_TRUE(focused[0] + focused[2] + focused[3] == 0 && focused[1] > 0) << testing::PrintToString(focused);
  // Selected text is drawn in its own (lighter) colour: nothing on the band is darker than the band.
  const int band_grey = qGray(memo->palette().color(QPalette::Highlight).rgb());
  EXPECT_EQ(PixelsByRow(4, [&](QRgb p) { return qGray(p) < band_grey - 8; })[1], 0);
  const QRgb band = memo->palette().color(QPalette::Highlight).rgb(), base = memo->palette().color(QPalette::Base).rgb();
  EXPECT_EQ(std::ranges::count(PixelsByRow(4, [&](QRgb p) { return p != band && p != base; }), 0), 0) << "but drawn, and the rows below it";

  // A shift-click reaches into the next line; below the text is its end; a click goes to the
  // character boundary nearest to it, on the row whose band holds it; a double-click takes a line.
  QTest::mouseClick(memo->viewport(), Qt::LeftButton, Qt::ShiftModifier, RowPoint(3, right));
  EXPECT_EQ(memo->SelectedText().toStdString(), whole.mid(whole.indexOf(row1)).toStdString());
  EXPECT_EQ(Select(RowPoint(3, 2), RowPoint(4, 2)), "short");
  EXPECT_EQ(Select(RowPoint(3, 2) + QPoint(0, Height() / 2 - 1), RowPoint(3, right)), "short");
  EXPECT_EQ(Select(RowPoint(3, 2 + cell * 44 / 10), RowPoint(3, 2 + cell * 16 / 10)), "or");
  EXPECT_TRUE(PixelsByRow(4)[3] <= 2 * cell * Height() && PixelsByRow(4, [&](QRgb p) { return qGray(p) < band_grey - 8; })[3] > 0) << "the band covers the selection only, the rest keeps its text";
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
  const QImage image = Shown(memo->viewport());
  EXPECT_EQ(image.pixel(RowPoint(3, 2)), memo->palette().color(QPalette::Text).rgb()) << "a caret where the focus is";
  EXPECT_EQ(image.pixel(RowPoint(4, 2)), memo->palette().color(QPalette::Base).rgb());
}

TEST_F(MemoTest, AnEmptyBoxShowsItsFocusAndLongTextScrollsByKey) {
  TMemo* memo = form->Htpasswd;
  EXPECT_EQ(memo->viewport()->cursor().shape(), Qt::IBeamCursor) << "text to select";
  EXPECT_EQ(Shown(memo->viewport()).pixel(RowPoint(0, 2)), memo->palette().color(QPalette::Base).rgb());
  QTest::mouseClick(memo->viewport(), Qt::LeftButton);  // a click gives it the focus
  Settle();
  const QImage caret = Shown(memo->viewport());
  EXPECT_EQ(std::make_pair(caret.pixel(RowPoint(0, 2)), caret.pixel(RowPoint(0, 3))),
            std::make_pair(memo->palette().color(QPalette::Text).rgb(), memo->palette().color(QPalette::Base).rgb()));
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
  EXPECT_EQ(std::pair(memo->SelectedText(), Shown(memo->viewport()).pixel(RowPoint(0, 2 + 8 * memo->fontMetrics().horizontalAdvance(u'0')))),
            std::pair(QString("new:hash"), memo->palette().color(QPalette::Text).rgb())) << "the caret at the line's end";
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
  EXPECT_EQ(PixelsByRow(2), (std::vector<int>{cell / 2 * Height(), 0}));
}

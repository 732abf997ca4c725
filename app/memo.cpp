#include "app/memo.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>

#include "app/busy.h"
#include "app/screen_text.h"
#include "platform/cp932.h"
#include "text/messages.h"
#include "text/string_list.h"

namespace {
constexpr int kMargin = 2;  // text starts 2 pixels in from the box's inner corner
}

TMemo::TMemo(QWidget* parent) : QAbstractScrollArea(parent) {
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setBackgroundRole(QPalette::Base);
}

std::string_view TMemo::Line(std::size_t i) const {
  const std::size_t begin = starts_[i];
  const std::size_t end = (i + 1 < starts_.size() ? starts_[i + 1] : text_.size()) - 2;  // without CR LF
  return std::string_view(text_).substr(begin, end - begin);
}

void TMemo::Clear() {
  text_.clear();
  starts_.clear();
  // The wrapped rows go with their lines: a paint before the next layout (while a handler works)
  // must find no row whose line is gone.
  first_row_.clear();
  widest_ = 0;
  anchor_ = cursor_ = TPos{};
  ScheduleRefresh();
}

void TMemo::Append(std::string_view line) {
  starts_.push_back(text_.size());
  text_.append(line).append("\r\n");
  widest_ = std::max(widest_, line.size());
  ScheduleRefresh();
}

void TMemo::Assign(std::string_view text) {
  Clear();
  for (std::size_t from = 0, end; (end = text.find("\r\n", from)) != std::string_view::npos; from = end + 2)
    Append(text.substr(from, end - from));
}


void TMemo::SetWrapLines(bool wrap) {
  wrap_ = wrap;
  setHorizontalScrollBarPolicy(wrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
  ScheduleRefresh();
}

void TMemo::ScheduleRefresh() {
  if (refresh_pending_) return;
  refresh_pending_ = true;
  QTimer::singleShot(0, this, &TMemo::Refresh);
}

void TMemo::Refresh() {
  if (TBusyScope::Active() && refresh_pending_) {
    // Half-done work is not drawn: the box catches up when the handler has finished.
    TBusyScope::WhenIdle(this, [this] { Refresh(); });
    return;
  }
  refresh_pending_ = false;
  Relayout();
  viewport()->update();
}

int TMemo::CellWidth() const { return std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0'))); }

int TMemo::Columns() const { return std::max(2, (viewport()->width() - 2 * kMargin) / CellWidth()); }

// The screen rows of `line` at `columns` cells a row: a row ends before a character that would not
// fit, so a double-byte character is never cut in two.
template <class OnRow>
static void ForEachRow(std::string_view line, std::size_t columns, OnRow on_row) {
  std::size_t begin = 0;
  if (line.size() > columns) {
    std::size_t pos = 0;
    while (pos < line.size()) {
      const std::size_t next = platform::CharNext(line, pos);
      if (next - begin > columns && pos > begin) {
        if (!on_row(begin, pos)) return;
        begin = pos;
      }
      pos = next;
    }
  }
  on_row(begin, line.size());
}

void TMemo::Relayout() {
  first_row_.clear();
  if (wrap_) {
    const auto columns = static_cast<std::size_t>(Columns());
    first_row_.reserve(starts_.size() + 1);
    std::uint32_t row = 0;
    for (std::size_t i = 0; i < starts_.size(); ++i) {
      first_row_.push_back(row);
      const std::string_view line = Line(i);
      if (line.size() <= columns) {
        ++row;
      } else {
        ForEachRow(line, columns, [&](std::size_t, std::size_t) { return ++row, true; });
      }
    }
    first_row_.push_back(row);
  }
  UpdateScrollBars();
}

std::size_t TMemo::RowCount() const { return wrap_ ? (first_row_.empty() ? 0 : first_row_.back()) : starts_.size(); }

TMemo::TSegment TMemo::RowSegment(std::size_t row) const {
  if (!wrap_) return {row, 0, Line(row).size()};
  const auto it = std::upper_bound(first_row_.begin(), first_row_.end() - 1, static_cast<std::uint32_t>(row));
  const auto line = static_cast<std::size_t>(it - first_row_.begin()) - 1;
  std::size_t k = row - first_row_[line];
  TSegment segment{line, 0, 0};
  ForEachRow(Line(line), static_cast<std::size_t>(Columns()), [&](std::size_t b, std::size_t e) {
    segment.begin = b;
    segment.end = e;
    return k-- > 0;
  });
  return segment;
}

void TMemo::UpdateScrollBars() {
  const int line_height = fontMetrics().height();
  const int visible = std::max(1, (viewport()->height() - kMargin) / line_height);
  verticalScrollBar()->setPageStep(visible);
  verticalScrollBar()->setRange(0, static_cast<int>(std::min<std::size_t>(
                                       std::max<std::size_t>(RowCount(), static_cast<std::size_t>(visible)) -
                                           static_cast<std::size_t>(visible),
                                       INT32_MAX)));
  const int width = static_cast<int>(widest_) * CellWidth() + 2 * kMargin;
  horizontalScrollBar()->setPageStep(viewport()->width());
  horizontalScrollBar()->setSingleStep(CellWidth());
  horizontalScrollBar()->setRange(0, wrap_ ? 0 : std::max(0, width - viewport()->width()));
}

void TMemo::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  Relayout();
}

void TMemo::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void TMemo::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

void TMemo::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) Relayout();
}

void TMemo::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const QFontMetrics metrics = fontMetrics();
  const int line_height = metrics.height();
  const int cell = CellWidth();
  const int x0 = kMargin - horizontalScrollBar()->value();
  const TPos from = std::min(anchor_, cursor_), to = std::max(anchor_, cursor_);
  const std::size_t first = static_cast<std::size_t>(verticalScrollBar()->value());
  const std::size_t rows = RowCount();
  // Like the system's own edit boxes: the selection shows only while the box has the focus, and
  // a caret shows where the focus is, although nothing can be typed here.
  const bool focused = hasFocus();
  if (focused && rows == 0) painter.fillRect(x0, kMargin, 1, line_height, palette().color(QPalette::Text));
  for (std::size_t row = first, y = kMargin; row < rows && static_cast<int>(y) < viewport()->height();
       ++row, y += static_cast<std::size_t>(line_height)) {
    const TSegment s = RowSegment(row);
    const std::string_view bytes = Line(s.line).substr(s.begin, s.end - s.begin);
    const QString shown = ScreenText(bytes);
    const QPoint origin(x0, static_cast<int>(y) + metrics.ascent());
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(origin, shown);
    // The selected part of this row, in cells.
    const std::size_t sel_begin = from.line < s.line ? s.begin : from.line == s.line ? std::clamp(from.byte, s.begin, s.end) : s.end;
    const std::size_t sel_end = to.line > s.line ? s.end : to.line == s.line ? std::clamp(to.byte, s.begin, s.end) : s.begin;
    const bool line_end = s.end == Line(s.line).size();
    if (focused && cursor_.line == s.line && cursor_.byte >= s.begin && (cursor_.byte < s.end || line_end))
      painter.fillRect(x0 + static_cast<int>(cursor_.byte - s.begin) * cell, static_cast<int>(y), 1, line_height,
                       palette().color(QPalette::Text));
    if (focused && (sel_begin < sel_end || (from.line <= s.line && to.line > s.line && line_end))) {
      const int left = x0 + static_cast<int>(sel_begin - s.begin) * cell;
      const int width = sel_begin < sel_end ? static_cast<int>(sel_end - sel_begin) * cell : cell / 2;
      const QRect band(left, static_cast<int>(y), width, line_height);
      painter.fillRect(band, palette().color(QPalette::Highlight));
      painter.save();
      painter.setClipRect(band);
      painter.setPen(palette().color(QPalette::HighlightedText));
      painter.drawText(origin, shown);
      painter.restore();
    }
  }
}

TMemo::TPos TMemo::PosAt(const QPoint& point) const {
  const std::size_t rows = RowCount();
  if (rows == 0) return {};
  const int row_in_view = std::max(0, (point.y() - kMargin) / fontMetrics().height());
  const std::size_t row = static_cast<std::size_t>(verticalScrollBar()->value()) + static_cast<std::size_t>(row_in_view);
  if (row >= rows) return {starts_.size() - 1, Line(starts_.size() - 1).size()};
  const TSegment s = RowSegment(row);
  const int x = point.x() - kMargin + horizontalScrollBar()->value();
  const std::string_view line = Line(s.line);
  std::size_t pos = s.begin;
  // The boundary nearest to the point, counting in cells.
  while (pos < s.end) {
    const std::size_t next = platform::CharNext(line, pos);
    const int middle = static_cast<int>(pos - s.begin) * CellWidth() + static_cast<int>(next - pos) * CellWidth() / 2;
    if (x < middle) break;
    pos = next;
  }
  return {s.line, pos};
}

QString TMemo::Between(TPos from, TPos to) const {
  QString out;
  for (std::size_t i = from.line; i <= to.line && i < starts_.size(); ++i) {
    const std::string_view line = Line(i);
    const std::size_t b = i == from.line ? std::min(from.byte, line.size()) : 0;
    const std::size_t e = i == to.line ? std::min(to.byte, line.size()) : line.size();
    if (i != from.line) out += QLatin1Char('\n');
    out += ScreenText(line.substr(b, e - b));
  }
  return out;
}

QString TMemo::ShownText() const {
  if (starts_.empty()) return QString();
  return Between({0, 0}, {starts_.size() - 1, Line(starts_.size() - 1).size()});
}

QString TMemo::SelectedText() const {
  const TPos from = std::min(anchor_, cursor_), to = std::max(anchor_, cursor_);
  return from == to ? QString() : Between(from, to);
}

void TMemo::SelectAll() {
  anchor_ = {};
  cursor_ = starts_.empty() ? TPos{} : TPos{starts_.size() - 1, Line(starts_.size() - 1).size()};
  viewport()->update();
}

void TMemo::CopySelection() const {
  const QString selected = SelectedText();
  if (!selected.isEmpty()) QApplication::clipboard()->setText(selected);
}

void TMemo::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  cursor_ = PosAt(event->position().toPoint());
  if (!(event->modifiers() & Qt::ShiftModifier)) anchor_ = cursor_;
  viewport()->update();
}

void TMemo::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return;
  cursor_ = PosAt(event->position().toPoint());
  viewport()->update();
}

void TMemo::mouseDoubleClickEvent(QMouseEvent* event) {
  const TPos at = PosAt(event->position().toPoint());
  if (starts_.empty()) return;
  anchor_ = {at.line, 0};
  cursor_ = {at.line, Line(at.line).size()};
  viewport()->update();
}

void TMemo::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::SelectAll)) return SelectAll();
  if (event->matches(QKeySequence::Copy) || (event->key() == Qt::Key_Insert && event->modifiers() == Qt::ControlModifier))
    return CopySelection();
  if (event->key() == Qt::Key_Home && (event->modifiers() & Qt::ControlModifier))
    return verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
  if (event->key() == Qt::Key_End && (event->modifiers() & Qt::ControlModifier))
    return verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
  QAbstractScrollArea::keyPressEvent(event);
}

void TMemo::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* copy = menu.addAction(ScreenText(messages::SCopyItem), this, &TMemo::CopySelection);
  copy->setEnabled(!SelectedText().isEmpty());
  menu.addAction(ScreenText(messages::SSelectAllItem), this, &TMemo::SelectAll);
  menu.exec(event->globalPos());
}

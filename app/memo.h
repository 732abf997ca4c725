// A read-only multi-line text box whose text is a byte string. The bytes are what is saved; the
// screen shows them decoded from code page 932.
//
// The box draws only the lines in view, from the bytes, so a text of a million lines costs a few
// bytes of bookkeeping per line and nothing more: no document, no layout of lines nobody sees.
// Lines are laid out on a grid of half-width cells, as the box's fixed-pitch Japanese font draws
// them: a single byte is one cell, a double-byte character two.
#pragma once

#include <QAbstractScrollArea>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TMemo : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit TMemo(QWidget* parent = nullptr);

  // The box's text exactly as it holds it: each appended line followed by CR LF.
  const std::string& Text() const noexcept { return text_; }
  void Clear();
  void Append(std::string_view line);
  // Puts back a text that Text() gave: lines each followed by CR LF.
  void Assign(std::string_view text);

  // Lines longer than the box wrap at its width (display only), or scroll sideways.
  void SetWrapLines(bool wrap);
  bool WrapLines() const noexcept { return wrap_; }

  int LineCount() const noexcept { return static_cast<int>(starts_.size()); }
  QString ShownText() const;     // every line as the screen has it, joined by "\n"
  QString SelectedText() const;  // likewise for the selection
  void SelectAll();
  void CopySelection() const;

  // Brings the screen up to date now instead of after the handler.
  void Refresh();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void changeEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  // A place in the text: a line and a byte offset within it.
  struct TPos {
    std::size_t line = 0;
    std::size_t byte = 0;
    auto operator<=>(const TPos&) const = default;
  };
  struct TSegment {  // one screen row: bytes [begin, end) of a line
    std::size_t line, begin, end;
  };

  std::string_view Line(std::size_t i) const;
  void ScheduleRefresh();
  void Relayout();
  void UpdateScrollBars();
  int Columns() const;
  std::size_t RowCount() const;
  TSegment RowSegment(std::size_t row) const;
  TPos PosAt(const QPoint& point) const;
  QString Between(TPos from, TPos to) const;
  int CellWidth() const;

  std::string text_;
  std::vector<std::size_t> starts_;      // where each line begins in text_
  std::vector<std::uint32_t> first_row_;  // when wrapping: each line's first screen row, and the total
  std::size_t widest_ = 0;               // cells of the longest line, for sideways scrolling
  bool wrap_ = false;
  bool refresh_pending_ = false;
  TPos anchor_, cursor_;                  // the selection runs between them
};

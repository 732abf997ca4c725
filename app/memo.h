// A read-only multi-line text box whose text is a byte string. The bytes are what is saved; the
// screen shows them decoded from code page 932, refreshed once the current handler has finished,
// so that filling a box line by line costs no redraw per line.
#pragma once

#include <QPlainTextEdit>
#include <string>
#include <string_view>

#include "text/string_list.h"

class TMemo : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit TMemo(QWidget* parent = nullptr);

  // The box's text exactly as it holds it: each appended line followed by CR LF.
  const std::string& Text() const noexcept { return text_; }
  void Clear();
  void Append(std::string_view line);
  void SaveToFile(const std::string& path) const { text::WriteFileBytes(path, text_); }

  // Brings the screen up to date now instead of after the handler.
  void Refresh();

 private:
  void ScheduleRefresh();

  std::string text_;
  bool refresh_pending_ = false;
};

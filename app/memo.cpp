#include "app/memo.h"

#include <QTimer>

#include "app/screen_text.h"

TMemo::TMemo(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setTabChangesFocus(true);
  setUndoRedoEnabled(false);
}

void TMemo::Clear() {
  text_.clear();
  ScheduleRefresh();
}

void TMemo::Append(std::string_view line) {
  text_.append(line).append("\r\n");
  ScheduleRefresh();
}

void TMemo::ScheduleRefresh() {
  if (refresh_pending_) return;
  refresh_pending_ = true;
  QTimer::singleShot(0, this, &TMemo::Refresh);
}

void TMemo::Refresh() {
  refresh_pending_ = false;
  // The box shows lines; the CR LF after each is the file's business. The last line's break
  // would show as an empty line at the end.
  std::string_view shown = text_;
  if (shown.size() >= 2 && shown.substr(shown.size() - 2) == "\r\n") shown.remove_suffix(2);
  QString decoded = ScreenText(shown);
  decoded.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  setPlainText(decoded);
}

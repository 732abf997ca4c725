// Long work shows it: a wait cursor for as long as a handler runs, and a modal progress dialog
// with a count once the work has taken more than about a second.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <memory>

class QProgressDialog;
class QWidget;

class BusyScope {
 public:
  BusyScope(QWidget* owner, const QString& what);
  ~BusyScope();
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

  // `done` of `total` items are finished. Cheap enough to call for every row.
  void Progress(long long done, long long total);

  // True while a handler's work is under way: deferred screen updates wait for its end rather than
  // redraw half-done work whenever the progress dialog lets the event loop run.
  static bool Active() { return depth_ > 0; }

  // How long work runs before the dialog shows (tests set 0).
  static void SetDialogDelay(int milliseconds) { delay_ms_ = milliseconds; }

 private:
  QWidget* owner_;
  QString what_;
  QElapsedTimer clock_;
  std::unique_ptr<QProgressDialog> dialog_;
  long long last_check_ = 0;
  qint64 last_update_ms_ = 0;
  static inline int depth_ = 0;
  static inline int delay_ms_ = 1000;
};

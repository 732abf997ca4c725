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
  // Work that can be stopped half-way without harm offers 中止 in its dialog.
  BusyScope(QWidget* owner, const QString& what, bool cancellable = false);
  ~BusyScope();
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

  // `done` of `total` items are finished. Cheap enough to call for every row.
  void Progress(long long done, long long total) { (void)Update(done, total, false); }

  // For a thread that waits while others work: updates the count, keeps the window painted, and
  // answers false once the user has asked to stop.
  bool Waiting(long long done, long long total);

  // True while a handler's work is under way: deferred screen updates wait for its end rather than
  // redraw half-done work whenever the progress dialog lets the event loop run.
  static bool Active() { return depth_ > 0; }

  // How long work runs before the dialog shows (tests set 0).
  static void SetDialogDelay(int milliseconds) { delay_ms_ = milliseconds; }

 private:
  bool Update(long long done, long long total, bool now);

  QWidget* owner_;
  QString what_;
  bool cancellable_;
  QElapsedTimer clock_;
  std::unique_ptr<QProgressDialog> dialog_;
  long long last_check_ = 0;
  qint64 last_update_ms_ = 0;
  static inline int depth_ = 0;
  static inline int delay_ms_ = 1000;
};

// Long work shows it: a wait cursor for as long as a handler runs, and a modal progress dialog
// with a count once the work has taken more than about a second.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QProgressDialog;
class QWidget;

class TBusyScope {
 public:
  // Work that can be stopped half-way without harm offers 中止 in its dialog.
  TBusyScope(QWidget* owner, const QString& what, bool cancellable = false);
  ~TBusyScope();
  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;

  // `done` of `total` items are finished. Cheap enough to call for every row.
  void Progress(long long done, long long total) { (void)Update(done, total, false); }

  // Waits for work running on other threads until `finished()`, running the window's event loop
  // meanwhile: the window paints, timers and posted events run, and input that would start or
  // change anything is dropped rather than queued to run afterwards. The dialog shows after the
  // delay whatever the count; `count()` gives done and total. False, at once, when the user
  // pressed 中止 (or Escape, or closed the dialog).
  bool Wait(const std::function<bool()>& finished, const std::function<std::pair<long long, long long>()>& count);

  // True while a handler's work is under way: deferred screen updates wait for its end rather than
  // redraw half-done work whenever the event loop runs.
  static bool Active() { return depth_ > 0; }

  // Runs `action` on `context`'s thread once no handler's work is under way: at once (posted) when
  // none is, else when the last TBusyScope ends. Dropped if `context` is gone by then.
  static void WhenIdle(QObject* context, std::function<void()> action);

  // How long work runs before the dialog shows (tests set 0).
  static void SetDialogDelay(int milliseconds) { delay_ms_ = milliseconds; }

 private:
  bool Update(long long done, long long total, bool now);
  void ShowDialog();

  QWidget* owner_;
  QString what_;
  bool cancellable_;
  QElapsedTimer clock_;
  std::unique_ptr<QProgressDialog> dialog_;
  long long last_check_ = 0;
  qint64 last_update_ms_ = 0;
  static inline int depth_ = 0;
  static inline std::vector<std::pair<QPointer<QObject>, std::function<void()>>> when_idle_;
  static inline int delay_ms_ = 1000;
};

#include "app/busy.h"

#include <QApplication>
#include <QProgressDialog>

BusyScope::BusyScope(QWidget* owner, const QString& what, bool cancellable)
    : owner_(owner), what_(what), cancellable_(cancellable) {
  ++depth_;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  clock_.start();
}

BusyScope::~BusyScope() {
  dialog_.reset();
  QApplication::restoreOverrideCursor();
  --depth_;
}

bool BusyScope::Waiting(long long done, long long total) {
  const bool go_on = Update(done, total, true);
  // Before the dialog shows, the window still repaints; clicks wait until the work is done.
  if (!dialog_) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  return go_on;
}

bool BusyScope::Update(long long done, long long total, bool now) {
  // The clock is read every 1024 items, and the dialog is updated at most every 50 ms.
  if (!now && done - last_check_ < 1024 && done != total) return true;
  last_check_ = done;
  const qint64 elapsed = clock_.elapsed();
  if (dialog_ && elapsed - last_update_ms_ < 50 && done != total) return !dialog_->wasCanceled();
  last_update_ms_ = elapsed;
  if (!dialog_) {
    if (elapsed < delay_ms_) return true;
    dialog_ = std::make_unique<QProgressDialog>(what_, QString(), 0, 100, owner_);
    dialog_->setObjectName(QStringLiteral("Progress"));
    dialog_->setWindowTitle(QStringLiteral("Vastelo"));
    dialog_->setWindowModality(Qt::ApplicationModal);
    dialog_->setMinimumDuration(0);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    // Loading and saving are short, and stopping them half-way helps nobody.
    if (cancellable_)
      dialog_->setCancelButtonText(QStringLiteral("中止"));
    else
      dialog_->setCancelButton(nullptr);
  }
  const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
  dialog_->setLabelText(QStringLiteral("%1\n%2 / %3").arg(what_).arg(done).arg(total));
  dialog_->setValue(percent);  // lets the dialog paint: it is modal, so nothing else can be pressed
  return !dialog_->wasCanceled();
}

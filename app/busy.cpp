#include "app/busy.h"

#include <QApplication>
#include <QProgressDialog>

BusyScope::BusyScope(QWidget* owner, const QString& what) : owner_(owner), what_(what) {
  ++depth_;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  clock_.start();
}

BusyScope::~BusyScope() {
  dialog_.reset();
  QApplication::restoreOverrideCursor();
  --depth_;
}

void BusyScope::Progress(long long done, long long total) {
  // The clock is read every 1024 items, and the dialog is updated at most every 50 ms.
  if (done - last_check_ < 1024 && done != total) return;
  last_check_ = done;
  const qint64 now = clock_.elapsed();
  if (dialog_ && now - last_update_ms_ < 50 && done != total) return;
  last_update_ms_ = now;
  if (!dialog_) {
    if (now < delay_ms_) return;
    dialog_ = std::make_unique<QProgressDialog>(what_, QString(), 0, 100, owner_);
    dialog_->setObjectName(QStringLiteral("Progress"));
    dialog_->setWindowTitle(QStringLiteral("Vastelo"));
    dialog_->setWindowModality(Qt::ApplicationModal);
    dialog_->setMinimumDuration(0);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    dialog_->setCancelButton(nullptr);  // the work is short and stopping half-way helps nobody
  }
  const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
  dialog_->setLabelText(QStringLiteral("%1\n%2 / %3").arg(what_).arg(done).arg(total));
  dialog_->setValue(percent);  // lets the dialog paint: it is modal, so nothing else can be pressed
}

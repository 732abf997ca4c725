#include "app/busy.h"

#include <QApplication>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <QWindow>

#include "app/screen_text.h"
#include "text/messages.h"

namespace {

// Drops, for as long as it lives, every input event meant for anything but `allowed`'s window:
// keys, clicks, wheel turns, shortcuts and window closings. Dropped, not held: a Ctrl+B pressed
// while a build runs must not start a second build once the first has ended.
class TInputBlocker final : public QObject {
 public:
  TInputBlocker(QWidget* window, std::function<QWidget*()> allowed) : window_(window), allowed_(std::move(allowed)) {
    qApp->installEventFilter(this);
  }
  ~TInputBlocker() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::ContextMenu:
      case QEvent::InputMethod:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::Drop:
        break;
      case QEvent::Close:
        // Only the window's own closing: a tool tip or a menu still closes as it likes.
        if (watched != window_ && (!window_ || watched != window_->windowHandle())) return false;
        break;
      default:
        return false;
    }
    // The dialog's own input passes, also what reaches its parts that are no widgets (the
    // shortcut that makes Escape its 中止).
    if (QWidget* dialog = allowed_())
      for (QObject* part = watched; part; part = part->parent())
        if (part == dialog || part == dialog->windowHandle()) return false;
    // Accepted, so that a shortcut sees its key taken and does not fire either.
    event->accept();
    return true;
  }

 private:
  QPointer<QWidget> window_;
  std::function<QWidget*()> allowed_;
};

}  // namespace

TBusyScope::TBusyScope(QWidget* owner, const QString& what, bool cancellable)
    : owner_(owner), what_(what), cancellable_(cancellable) {
  ++depth_;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  clock_.start();
}

TBusyScope::~TBusyScope() {
  dialog_.reset();
  QApplication::restoreOverrideCursor();
  if (--depth_ > 0) return;
  for (auto& [context, action] : std::exchange(when_idle_, {}))
    if (context) QTimer::singleShot(0, context, std::move(action));
}

void TBusyScope::WhenIdle(QObject* context, std::function<void()> action) {
  if (depth_ == 0)
    QTimer::singleShot(0, context, std::move(action));
  else
    when_idle_.emplace_back(context, std::move(action));
}

bool TBusyScope::Wait(const std::function<bool()>& finished,
                     const std::function<std::pair<long long, long long>()>& count) {
  if (finished()) return true;
  const TInputBlocker blocker(owner_ ? owner_->window() : nullptr, [this] { return static_cast<QWidget*>(dialog_.get()); });
  QEventLoop loop;
  bool cancelled = false;
  const auto look = [&] {
    if (dialog_ && dialog_->wasCanceled()) {
      cancelled = true;
      loop.quit();
    } else if (finished()) {
      loop.quit();
    } else {
      const auto [done, total] = count();
      const bool had_dialog = dialog_ != nullptr;
      (void)Update(done, total, true);
      // The dialog's 中止 ends the wait the moment it is pressed, not at the next look.
      if (!had_dialog && dialog_)
        QObject::connect(dialog_.get(), &QProgressDialog::canceled, &loop, [&] {
          cancelled = true;
          loop.quit();
        });
    }
  };
  QTimer ticks;
  QObject::connect(&ticks, &QTimer::timeout, &loop, look);
  ticks.start(20);
  look();
  if (!cancelled && !finished()) loop.exec();
  return !cancelled;
}

bool TBusyScope::Update(long long done, long long total, bool now) {
  // The clock is read every 1024 items, and the dialog is updated at most every 50 ms.
  if (!now && done - last_check_ < 1024 && done != total) return true;
  last_check_ = done;
  const qint64 elapsed = clock_.elapsed();
  if (dialog_ && elapsed - last_update_ms_ < 50 && done != total) return !dialog_->wasCanceled();
  last_update_ms_ = elapsed;
  if (!dialog_) {
    if (elapsed < delay_ms_) return true;
    ShowDialog();
  }
  const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
  dialog_->setLabelText(QStringLiteral("%1\n%2 / %3").arg(what_).arg(done).arg(total));
  dialog_->setValue(percent);  // lets the dialog paint: it is modal, so nothing else can be pressed
  return !dialog_->wasCanceled();
}

void TBusyScope::ShowDialog() {
  dialog_ = std::make_unique<QProgressDialog>(what_, QString(), 0, 100, owner_);
  dialog_->setObjectName(QStringLiteral("Progress"));
  dialog_->setWindowTitle(QStringLiteral("Vastelo"));
  dialog_->setWindowModality(Qt::ApplicationModal);
  dialog_->setAutoClose(false);
  dialog_->setAutoReset(false);
  // Loading and saving are short, and stopping them half-way helps nobody.
  if (cancellable_)
    dialog_->setCancelButtonText(ScreenText(messages::SCancelWorkButton));
  else
    dialog_->setCancelButton(nullptr);
  dialog_->show();
}

#include "app/verify_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/screen_text.h"
#include "text/messages.h"

TVerifyDialog::TVerifyDialog(QWidget* parent, const QString& user, TDialogs::TPasswordCheck check)
    : QDialog(parent), check_(std::move(check)) {
  setObjectName(QStringLiteral("VerifyDialog"));
  setWindowTitle(ScreenText(messages::SVerifyTitle));
  User = new QLineEdit(user, this);
  Password = new QLineEdit(this);
  Password->setEchoMode(QLineEdit::Password);
  Result = new QLabel(this);
  Result->setObjectName(QStringLiteral("Result"));
  auto* form = new QFormLayout;
  form->addRow(ScreenText(messages::SVerifyUserLabel), User);
  form->addRow(ScreenText(messages::SVerifyPasswordLabel), Password);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  CheckButton = buttons->addButton(QString(), QDialogButtonBox::ActionRole);
  CheckButton->setObjectName(QStringLiteral("CheckButton"));
  CheckButton->setDefault(true);
  Running(false);  // the button's caption
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(CheckButton, &QPushButton::clicked, this, &TVerifyDialog::CheckOrStop);
  connect(&ticks_, &QTimer::timeout, this, &TVerifyDialog::Look);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(Result);
  layout->addWidget(buttons);
  (user.isEmpty() ? User : Password)->setFocus();
}

void TVerifyDialog::CheckOrStop() {
  if (running_) {
    // Dropping the check kills the process that computes its hash.
    Running(false);
    Result->setText(ScreenText(messages::SCheckCancelled));
    return;
  }
  TDialogs::TCheckAnswer answer = check_(User->text(), Password->text());
  if (!answer.later) {
    Result->setText(answer.now);
    return;
  }
  running_ = std::make_unique<core::TBackground<QString>>(std::move(answer.later));
  Running(true);
  Result->setText(ScreenText(messages::SChecking));
}

void TVerifyDialog::Look() {
  if (!running_ || !running_->Ready()) return;
  QString answer;
  try {
    answer = running_->Take();
  } catch (...) {
    answer = ScreenText(messages::SCheckFailed);
  }
  Running(false);
  Result->setText(answer);
}

void TVerifyDialog::Running(bool running) {
  if (!running) running_.reset();
  CheckButton->setText(running ? ScreenText(messages::SCancelCheckButton) : ScreenText(messages::SCheckButton));
  if (running)
    ticks_.start(20);
  else
    ticks_.stop();
}

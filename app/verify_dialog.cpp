#include "app/verify_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TVerifyDialog::TVerifyDialog(QWidget* parent, const QString& user, TDialogs::TPasswordCheck check)
    : QDialog(parent), check_(std::move(check)) {
  setObjectName(QStringLiteral("VerifyDialog"));
  setWindowTitle(QStringLiteral("パスワードの確認"));
  User = new QLineEdit(user, this);
  Password = new QLineEdit(this);
  Password->setEchoMode(QLineEdit::Password);
  Result = new QLabel(this);
  Result->setObjectName(QStringLiteral("Result"));
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("ユーザ名(&U):"), User);
  form->addRow(QStringLiteral("パスワード(&P):"), Password);
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
    Result->setText(QStringLiteral("確認を中止しました。"));
    return;
  }
  TDialogs::TCheckAnswer answer = check_(User->text(), Password->text());
  if (!answer.later) {
    Result->setText(answer.now);
    return;
  }
  running_ = std::make_unique<core::TBackground<QString>>(std::move(answer.later));
  Running(true);
  Result->setText(QStringLiteral("確認しています…"));
}

void TVerifyDialog::Look() {
  if (!running_ || !running_->Ready()) return;
  QString answer;
  try {
    answer = running_->Take();
  } catch (...) {
    answer = QStringLiteral("確認できませんでした。");
  }
  Running(false);
  Result->setText(answer);
}

void TVerifyDialog::Running(bool running) {
  if (!running) running_.reset();
  CheckButton->setText(running ? QStringLiteral("中止(&C)") : QStringLiteral("確認(&V)"));
  if (running)
    ticks_.start(20);
  else
    ticks_.stop();
}

#include "app/verify_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

VerifyDialog::VerifyDialog(QWidget* parent, const QString& user, Dialogs::PasswordCheck check)
    : QDialog(parent), check_(std::move(check)) {
  setObjectName(QStringLiteral("VerifyDialog"));
  setWindowTitle(QStringLiteral("パスワードの確認"));
  User = new QLineEdit(user, this);
  Password = new QLineEdit(this);
  Password->setEchoMode(QLineEdit::Password);
  Result = new QLabel(this);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("ユーザ名(&U):"), User);
  form->addRow(QStringLiteral("パスワード(&P):"), Password);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  QPushButton* check_button = buttons->addButton(QStringLiteral("確認(&V)"), QDialogButtonBox::ActionRole);
  check_button->setDefault(true);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(check_button, &QPushButton::clicked, this, [this] { Result->setText(check_(User->text(), Password->text())); });
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(Result);
  layout->addWidget(buttons);
  (user.isEmpty() ? User : Password)->setFocus();
}

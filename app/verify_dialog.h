// パスワードの確認: whether a name and a password match the hash the table holds or built for that
// user, asked as often as the user likes.
#pragma once

#include <QDialog>

#include "app/dialogs.h"

class QLabel;
class QLineEdit;

class VerifyDialog final : public QDialog {
  Q_OBJECT

 public:
  VerifyDialog(QWidget* parent, const QString& user, Dialogs::PasswordCheck check);

  QLineEdit* User;
  QLineEdit* Password;
  QLabel* Result;

 private:
  Dialogs::PasswordCheck check_;
};

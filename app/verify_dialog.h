// パスワードの確認: whether a name and a password match the hash the table holds or built for that
// user, asked as often as the user likes. A check runs off the window's thread (one hash can take
// minutes) and can be stopped: the button reads 中止 while it runs.
#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>

#include "app/dialogs.h"
#include "core/background.h"

class QLabel;
class QLineEdit;
class QPushButton;

class TVerifyDialog final : public QDialog {
  Q_OBJECT

 public:
  TVerifyDialog(QWidget* parent, const QString& user, TDialogs::TPasswordCheck check);

  QLineEdit* User;
  QLineEdit* Password;
  QLabel* Result;
  QPushButton* CheckButton;

 private:
  void CheckOrStop();
  void Look();
  void Running(bool running);

  TDialogs::TPasswordCheck check_;
  std::unique_ptr<core::TBackground<QString>> running_;
  QTimer ticks_;
};

// 強度: how costly the slow formats are, with what one verification of each setting costs on this
// machine, since the server pays that on every request.
#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>
#include <utility>

#include "core/background.h"
#include "hashes/hashes.h"

class QLabel;
class QSpinBox;

class TStrengthDialog final : public QDialog {
  Q_OBJECT

 public:
  TStrengthDialog(QWidget* parent, const hashes::TStrength& current);
  hashes::TStrength Chosen() const;

  QSpinBox* BcryptCost;
  QSpinBox* Sha512Rounds;
  QLabel* BcryptTime;
  QLabel* Sha512Time;

 private:
  void ShowTimes();

  // One hash measured when the dialog opens, at a setting cheap enough to measure at once: the
  // time of any other setting follows from it (bcrypt doubles a step, SHA-512 grows with rounds).
  double bcrypt_ms_ = 0;
  int bcrypt_measured_cost_ = 0;
  double sha512_ms_ = 0;
  unsigned long sha512_measured_rounds_ = 0;
  std::unique_ptr<core::TBackground<std::pair<double, double>>> measuring_;
  QTimer ticks_;
};

// A duration as the dialog words it: under a millisecond, whole milliseconds, or seconds to a tenth.
QString ApproximateTime(double milliseconds);

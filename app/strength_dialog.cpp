#include "app/strength_dialog.h"

#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <tuple>

#include "app/screen_text.h"
#include "text/messages.h"

namespace {

double MillisecondsFor(hashes::Format format, const hashes::TStrength& strength) {
  const std::string setting = hashes::DrawSetting(format, strength);
  QElapsedTimer clock;
  clock.start();
  (void)hashes::HashWithSetting("password", setting);
  return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

}  // namespace

QString ApproximateTime(double milliseconds) {
  if (milliseconds < 1) return ScreenText(messages::SUnderAMillisecond);
  if (milliseconds < 1000) return ScreenText(messages::SAboutMilliseconds, {QString::number(std::lround(milliseconds))});
  return ScreenText(messages::SAboutSeconds, {QString::number(milliseconds / 1000, 'f', 1)});
}

TStrengthDialog::TStrengthDialog(QWidget* parent, const hashes::TStrength& current) : QDialog(parent) {
  setObjectName(QStringLiteral("StrengthDialog"));
  setWindowTitle(ScreenText(messages::SStrengthTitle));
  BcryptCost = new QSpinBox(this);
  BcryptCost->setObjectName(QStringLiteral("BcryptCost"));
  BcryptCost->setRange(hashes::kMinBcryptCost, hashes::kMaxBcryptCost);
  BcryptCost->setValue(current.bcrypt_cost);
  Sha512Rounds = new QSpinBox(this);
  Sha512Rounds->setObjectName(QStringLiteral("Sha512Rounds"));
  Sha512Rounds->setRange(static_cast<int>(hashes::kMinSha512Rounds), static_cast<int>(hashes::kMaxSha512Rounds));
  Sha512Rounds->setGroupSeparatorShown(true);
  Sha512Rounds->setSingleStep(10'000);
  Sha512Rounds->setValue(static_cast<int>(current.sha512_rounds));
  BcryptTime = new QLabel(this);
  Sha512Time = new QLabel(this);

  // Measured off the window's thread: the dialog answers keys and paints from its first moment,
  // and the times appear when they are known.
  bcrypt_measured_cost_ = std::min(current.bcrypt_cost, 10);
  sha512_measured_rounds_ = std::min<unsigned long>(current.sha512_rounds, 100'000);
  measuring_ = std::make_unique<core::TBackground<std::pair<double, double>>>(
      [bcrypt = bcrypt_measured_cost_, sha512 = sha512_measured_rounds_] {
        return std::pair(MillisecondsFor(hashes::Format::Bcrypt, {bcrypt, 0}),
                         MillisecondsFor(hashes::Format::Sha512, {0, sha512}));
      });
  connect(&ticks_, &QTimer::timeout, this, [this] {
    if (!measuring_->Ready()) return;
    ticks_.stop();
    try {
      std::tie(bcrypt_ms_, sha512_ms_) = measuring_->Take();
    } catch (...) {
      // No random bytes for a salt: the times stay unknown, and the choice is still the user's.
    }
    measuring_.reset();
    ShowTimes();
  });
  ticks_.start(20);

  auto* form = new QFormLayout;
  form->addRow(ScreenText(messages::SBcryptCostLabel), BcryptCost);
  form->addRow(QString(), BcryptTime);
  form->addRow(ScreenText(messages::SSha512RoundsLabel), Sha512Rounds);
  form->addRow(QString(), Sha512Time);
  auto* reminder = new QLabel(ScreenText(messages::SStrengthReminder), this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(reminder);
  layout->addWidget(buttons);
  connect(BcryptCost, &QSpinBox::valueChanged, this, &TStrengthDialog::ShowTimes);
  connect(Sha512Rounds, &QSpinBox::valueChanged, this, &TStrengthDialog::ShowTimes);
  ShowTimes();
}

hashes::TStrength TStrengthDialog::Chosen() const {
  return {BcryptCost->value(), static_cast<unsigned long>(Sha512Rounds->value())};
}

void TStrengthDialog::ShowTimes() {
  if (measuring_ || bcrypt_ms_ <= 0) {
    const QString unknown = measuring_ ? ScreenText(messages::SMeasuring) : QString();
    BcryptTime->setText(unknown);
    Sha512Time->setText(unknown);
    return;
  }
  const hashes::TStrength chosen = Chosen();
  const double bcrypt = std::ldexp(bcrypt_ms_, chosen.bcrypt_cost - bcrypt_measured_cost_);
  const double sha512 = sha512_ms_ * static_cast<double>(chosen.sha512_rounds) / static_cast<double>(sha512_measured_rounds_);
  BcryptTime->setText(ScreenText(messages::SCheckTakes, {ApproximateTime(bcrypt)}));
  Sha512Time->setText(ScreenText(messages::SCheckTakes, {ApproximateTime(sha512)}));
}

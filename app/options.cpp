#include "app/options.h"

#include <QSettings>

namespace {

constexpr const char* kFormatNames[] = {"des", "apr1", "sha512", "bcrypt"};

}  // namespace

core::TSettings LoadOptions() {
  const QSettings store(QStringLiteral("Vastelo"), QStringLiteral("Vastelo"));
  core::TSettings options;
  const QString format = store.value(QStringLiteral("hash/format")).toString();
  for (std::size_t i = 0; i < std::size(kFormatNames); ++i)
    if (format == QLatin1String(kFormatNames[i])) options.format = static_cast<hashes::Format>(i);
  bool ok = false;
  const int cost = store.value(QStringLiteral("hash/bcryptCost")).toInt(&ok);
  if (ok && cost >= hashes::kMinBcryptCost && cost <= hashes::kMaxBcryptCost) options.strength.bcrypt_cost = cost;
  const qulonglong rounds = store.value(QStringLiteral("hash/sha512Rounds")).toULongLong(&ok);
  if (ok && rounds >= hashes::kMinSha512Rounds && rounds <= hashes::kMaxSha512Rounds)
    options.strength.sha512_rounds = static_cast<unsigned long>(rounds);
  options.utf8 = store.value(QStringLiteral("text/encoding")).toString() == QLatin1String("utf-8");
  return options;
}

void SaveOptions(const core::TSettings& options) {
  QSettings store(QStringLiteral("Vastelo"), QStringLiteral("Vastelo"));
  store.setValue(QStringLiteral("hash/format"), QLatin1String(kFormatNames[static_cast<std::size_t>(options.format)]));
  store.setValue(QStringLiteral("hash/bcryptCost"), options.strength.bcrypt_cost);
  store.setValue(QStringLiteral("hash/sha512Rounds"), qulonglong{options.strength.sha512_rounds});
  store.setValue(QStringLiteral("text/encoding"), options.utf8 ? QStringLiteral("utf-8") : QStringLiteral("shift-jis"));
}

#include "app/options.h"

#include <QSettings>

#include "hashes/formats.h"

core::TSettings LoadOptions() {
  const QSettings store(QStringLiteral("Vastelo"), QStringLiteral("Vastelo"));
  core::TSettings options;
  const QString format = store.value(QStringLiteral("hash/format")).toString();
  if (const std::optional<hashes::Format> stored = hashes::FormatStoredAs(format.toStdString())) options.format = *stored;
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
  store.setValue(QStringLiteral("hash/format"), QString::fromUtf8(hashes::RowOf(options.format).settings_key.data(),
                                                               static_cast<qsizetype>(hashes::RowOf(options.format).settings_key.size())));
  store.setValue(QStringLiteral("hash/bcryptCost"), options.strength.bcrypt_cost);
  store.setValue(QStringLiteral("hash/sha512Rounds"), qulonglong{options.strength.sha512_rounds});
  store.setValue(QStringLiteral("text/encoding"), options.utf8 ? QStringLiteral("utf-8") : QStringLiteral("shift-jis"));
}

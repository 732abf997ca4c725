#include "app/dialogs.h"

#include "app/screen_text.h"
#include "app/strength_dialog.h"
#include "app/verify_dialog.h"
#include "text/messages.h"

#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QSettings>
#include <QMessageBox>
#include <QPushButton>

namespace {

class TQtDialogs final : public TDialogs {
 public:
  std::optional<QString> OpenFile(QWidget* owner, const QString& title, const QString& filter,
                                  const QString& initial) override {
    // Qt's defaults stand: a dialog to open with, which takes a typed name of a missing file too,
    // so that reading it fails with the file's full path in the message.
    QFileDialog dialog(owner, title, QString(), filter);
    dialog.setSizeGripEnabled(true);
    // A .htpasswd is a hidden file, and the one that is asked for.
    dialog.setFilter(dialog.filter() | QDir::Hidden);
    if (!initial.isEmpty()) dialog.selectFile(initial);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst();
  }

  std::optional<QString> ChooseFolder(QWidget* owner, const QString& title) override {
    // The folder chosen last time is offered again, also after a restart.
    QSettings settings(QStringLiteral("Vastelo"), QStringLiteral("Vastelo"));
    const QString folder = QFileDialog::getExistingDirectory(owner, title, settings.value(QStringLiteral("LastFolder")).toString(),
                                                             QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) return std::nullopt;
    settings.setValue(QStringLiteral("LastFolder"), folder);
    return folder;
  }

  TUnsaved AskUnsaved(QWidget* owner, const QString& text) override {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Vastelo"), text, QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, owner);
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    box.button(QMessageBox::Save)->setText(ScreenText(messages::SSaveButton));
    box.button(QMessageBox::Discard)->setText(ScreenText(messages::SDiscardButton));
    box.button(QMessageBox::Cancel)->setText(ScreenText(messages::SCancelButton));
    const int answer = box.exec();
    return answer == QMessageBox::Save ? TUnsaved::Save : answer == QMessageBox::Discard ? TUnsaved::Discard : TUnsaved::Cancel;
  }

  std::optional<QString> AskText(QWidget* owner, const QString& caption, const QString& label) override {
    QInputDialog dialog(owner);
    dialog.setWindowTitle(caption);
    dialog.setLabelText(label);
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(ScreenText(messages::SCancelButton));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.textValue();
  }

  std::optional<hashes::TStrength> ChooseStrength(QWidget* owner, const hashes::TStrength& current) override {
    TStrengthDialog dialog(owner, current);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Chosen();
  }

  bool Confirm(QWidget* owner, const QString& caption, const QString& text) override {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton(QMessageBox::No);
    // Named here: Qt's own names are English unless its translations happen to be installed.
    box.button(QMessageBox::Yes)->setText(ScreenText(messages::SYesButton));
    box.button(QMessageBox::No)->setText(ScreenText(messages::SNoButton));
    return box.exec() == QMessageBox::Yes;
  }
  void CheckPasswords(QWidget* owner, const QString& user, const TPasswordCheck& check) override {
    TVerifyDialog(owner, user, check).exec();
  }

  void ShowError(QWidget* owner, const QString& caption, const QString& text) override {
    Show(QMessageBox::Critical, owner, caption, text);
  }
  void ShowInformation(QWidget* owner, const QString& caption, const QString& text) override {
    Show(QMessageBox::Information, owner, caption, text);
  }

 private:
  static void Show(QMessageBox::Icon icon, QWidget* owner, const QString& caption, const QString& text) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    box.exec();
  }
};

TQtDialogs qt_dialogs;
TDialogs* current = &qt_dialogs;

}  // namespace

TDialogs& CurrentDialogs() { return *current; }

TDialogs*& DialogsInForce() { return current; }

QString QtFileFilter(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    const QString patterns = parts[i + 1].trimmed().replace(QLatin1Char(';'), QLatin1Char(' '));
    if (description.endsWith(QLatin1Char('(') + patterns + QLatin1Char(')')))
      entries << description;
    else
      entries << description + QStringLiteral(" (") + patterns + QLatin1Char(')');
  }
  return entries.join(QStringLiteral(";;"));
}

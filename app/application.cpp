#include "app/application.h"

#include <QFont>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>
#include <QWidget>

#include "app/dialogs.h"
#include "app/screen_text.h"
#include "platform/cp932.h"
#include "text/exceptions.h"
#include "text/messages.h"

std::string MessageForDisplay(std::string_view message) {
  std::string shown(message);
  if (!message.empty()) {
    // The last character compared as unsigned bytes: a double-byte one starts with a lead byte,
    // which is above ".", so its second byte never decides. A sentence that ends in its own
    // full-width stop (。．！？ in code page 932) gets no second one.
    const std::string_view last = message.substr(platform::LastCharStart(message));
    const bool stopped = last == "\x81\x42" || last == "\x81\x44" || last == "\x81\x48" || last == "\x81\x49";
    if (!stopped && static_cast<unsigned char>(last.front()) > '.') shown += '.';
  }
  return shown;
}

std::string FailureText(const text::Exception& failure) {
  std::string shown = MessageForDisplay(failure.Message());
  // A failure found at a line of a file says which, unless its own words do.
  const text::TFacts& facts = failure.Facts();
  const std::string line = std::to_string(facts.line);
  if (facts.line > 0 && !facts.path.empty() && shown.find(text::FormatMessage(messages::SLineNumber, {line})) == std::string::npos)
    shown = text::FormatMessage(messages::SLineOfFile, {text::PathForMessage(facts.path), line}) + shown;
  return shown;
}

void ShowFailure(const std::exception& failure) {
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
  const auto* ours = dynamic_cast<const text::Exception*>(&failure);
  // Our failures carry code page 932 text; anything else comes from the C++ library, in UTF-8.
  const std::string utf8 = ours ? platform::Cp932ToUtf8(FailureText(*ours)) : std::string(failure.what());
  QWidget* owner = QApplication::activeWindow();
  CurrentDialogs().ShowError(owner, QStringLiteral("Vastelo"), QString::fromStdString(utf8));
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Vastelo"));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  bool handled = false;
  Guarded([&] { handled = QApplication::notify(receiver, event); });
  return handled;
}

void PrepareApplication() {
  QFont::insertSubstitution(ScreenText(messages::SGothicFont), QStringLiteral("IPAGothic"));
  QFont::insertSubstitution(ScreenText(messages::SPGothicFont), QStringLiteral("IPAPGothic"));
  // The window speaks Japanese whatever the desktop's language, so Qt's own dialogs should too.
  static QTranslator qt_japanese;
  if (qt_japanese.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(&qt_japanese);
  QIcon icon;
  icon.addFile(QStringLiteral(":/vastelo-16.xpm"), QSize(16, 16));
  icon.addFile(QStringLiteral(":/vastelo-32.xpm"), QSize(32, 32));
  QApplication::setWindowIcon(icon);
}

// The application object, and the one place where a failure meets the user. A handler never
// catches its failures: they end it, and are shown here in a modal message box captioned with the
// application's title.
#pragma once

#include "text/exceptions.h"

#include <QApplication>
#include <exception>
#include <string>
#include <string_view>

class QWidget;

// The message as the box shows it: a "." is appended when the last character (one byte, or both
// bytes of a double-byte character) compares greater than "." as unsigned bytes, so a message
// ending in a letter, a digit or a double-byte character gets one, and one ending in ")" or "."
// does not.
std::string MessageForDisplay(std::string_view message_cp932);
// What the message box says of a failure: its message so ended, after the file and line it was
// found at when it has one and does not name that line itself.
std::string FailureText(const text::Exception& failure);

// Shows the failure: cancels any mouse capture, then the modal box.
void ShowFailure(const std::exception& failure);

// Runs `action`, showing any failure it raises. Every entry from Qt into our code that may fail
// goes through here, so no exception ever travels through Qt's own frames.
template <class Action>
void Guarded(Action&& action) noexcept {
  try {
    action();
  } catch (const std::exception& failure) {
    ShowFailure(failure);
  } catch (...) {
    ShowFailure(std::runtime_error("unknown failure"));
  }
}

// The application object. Its notify() is the last line of defence for a failure that some
// entry point did not guard.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// What the program sets up before its window: the window's Japanese fonts asked for by their own
// names and let fall to the IPA fonts (same metrics) where the originals are not installed, Qt's
// own Japanese texts for its dialogs where they are installed, and the application icon.
void PrepareApplication();

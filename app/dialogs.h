// The dialogs a handler may show. They sit behind one replaceable object so that a whole handler
// can run under test, with the test answering the dialogs instead of a person.
#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "hashes/hashes.h"
#include "platform/scoped.h"

class QWidget;

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  // A file to read, or nothing when the user cancels. `initial` is offered as the file name.
  virtual std::optional<QString> OpenFile(QWidget* owner, const QString& title, const QString& filter,
                                          const QString& initial) = 0;
  // A folder, or nothing when the user cancels.
  virtual std::optional<QString> ChooseFolder(QWidget* owner, const QString& title) = 0;
  // A modal message with a stop icon and one OK button.
  virtual void ShowError(QWidget* owner, const QString& caption, const QString& text) = 0;
  // The strength of the slow formats, starting from `current`; nothing when the user cancels.
  virtual std::optional<hashes::TStrength> ChooseStrength(QWidget* owner, const hashes::TStrength& current) = 0;
  // Asks a yes-or-no question; true for yes.
  virtual bool Confirm(QWidget* owner, const QString& caption, const QString& text) = 0;
  // パスワードの確認: lets the user try names and passwords, each answered by `check`, starting from
  // `user`. An answer is ready at once (`now`) or comes from work run off the window's thread
  // (`later`, which touches nothing of the window), which the user can stop waiting for.
  struct TCheckAnswer {
    QString now;
    std::function<QString()> later;
  };
  using TPasswordCheck = std::function<TCheckAnswer(const QString& user, const QString& password)>;
  virtual void CheckPasswords(QWidget* owner, const QString& user, const TPasswordCheck& check) = 0;
  // A modal message with an information icon and one OK button.
  virtual void ShowInformation(QWidget* owner, const QString& caption, const QString& text) = 0;
  // Asks what becomes of work not yet saved before it would be lost.
  enum class TUnsaved { Save, Discard, Cancel };
  virtual TUnsaved AskUnsaved(QWidget* owner, const QString& text) = 0;
  // A line of text the user types, or nothing when the user cancels.
  virtual std::optional<QString> AskText(QWidget* owner, const QString& caption, const QString& label) = 0;
};

// The dialogs in force: Qt's own unless a test has put others in their place.
TDialogs& CurrentDialogs();

// The pointer CurrentDialogs() reads, for TScopedDialogs to change.
TDialogs*& DialogsInForce();
// Puts dialogs in force for the object's lifetime, then restores the ones before.
using TScopedDialogs = platform::TScopedOverride<TDialogs, DialogsInForce>;

// A filter in the form "description|patterns|description|patterns" as Qt's file dialog takes it:
// entries separated by ";;", each a description followed by its patterns in parentheses. A
// description that already ends with its own patterns in parentheses is used as it reads.
QString QtFileFilter(const QString& filter);

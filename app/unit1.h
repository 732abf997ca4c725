// The main window, Form1, and its handlers. The window's controls keep the names they have always
// had; what each one is:
//   GroupBox4     the .htaccess settings: AuthUserFile, LabeledEdit2 (AuthGroupFile, not supported),
//                 AuthName
//   GroupBox1     the credential list: Label4 (its format hint), LoadFile (ファイル読み込み), CreateEnc
//                 (認証データ作成), UserList (the table of users and passwords)
//   GroupBox2     the built .htaccess, shown in Htaccess
//   GroupBox3     the built .htpasswd, shown in Htpasswd
//   SaveData      作成したデータを保存する
//   OpenDialog    the chooser of a credential file; HtpasswdDialog that of an existing .htpasswd
//   LoadFileClick, CreateEncClick, SaveDataClick: the three buttons' handlers;
//   UserListStringsChange: what follows any change of the table's rows
#pragma once

#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QMainWindow>
#include <QWidget>
#include <functional>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

class QAction;
class QMenu;

#include "app/dialogs.h"
#include "app/memo.h"
#include "app/options.h"
#include "app/user_list_grid.h"

// A single-line edit with its caption label above it.
class TLabeledEdit : public QLineEdit {
  Q_OBJECT

 public:
  TLabeledEdit(QWidget* parent, const QString& name, const QRect& bounds, const QString& caption, const QString& text);
  QLabel* EditLabel;
};

// The file-open dialog of the window: the handler sets its filter and title each time it is
// used, and it offers the last chosen file name again.
struct TOpenDialog {
  QString Filter;
  QString Title;
  QString FileName;
  bool Execute(QWidget* owner);
};

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);

  QWidget* ClientArea;  // the 601 x 450 area below the menu bar that holds every control
  QGroupBox* GroupBox4;
  TLabeledEdit* AuthUserFile;
  TLabeledEdit* LabeledEdit2;
  TLabeledEdit* AuthName;
  QAction* AuthNameWarning;  // shown in AuthName when its text may arrive garbled
  QGroupBox* GroupBox1;
  QLabel* Label4;
  QPushButton* LoadFile;
  QPushButton* CreateEnc;
  TUserListGrid* UserList;
  QGroupBox* GroupBox2;
  TMemo* Htaccess;
  QGroupBox* GroupBox3;
  TMemo* Htpasswd;
  QPushButton* SaveData;
  TOpenDialog OpenDialog;
  TOpenDialog HtpasswdDialog;  // for an existing .htpasswd

  // The handlers. They catch nothing: a failure ends them where it happens.
  void LoadFileClick();
  void CreateEncClick();
  void SaveDataClick();
  void UserListStringsChange();

  // The maintenance of an existing password file, from the menu.
  void OpenHtpasswdClick();  // 既存の.htpasswdを開く: one row per user, its hash held
  void AppendFileClick();    // 追加読み込み: a credential file's users added below the rows there
  void DeleteRowClick();     // 行の削除: the current row, after a confirmation naming the user
  // パスワードの確認: whether the name and password match the hash held or built for that user.
  TDialogs::TCheckAnswer CheckPassword(const QString& user, const QString& password) const;

  const core::TSettings& CurrentOptions() const { return options_; }
  core::TJob& Job() { return *job_; }

  // 保存 can be pressed exactly when the last build made the files of the rows and settings as
  // they stand now.
  void ShowSaveState();

 protected:
  void showEvent(QShowEvent* event) override;
  // Closing asks first about work not yet saved, and remembers where the window stood.
  void closeEvent(QCloseEvent* event) override;
  // A credential file or a .htpasswd dropped on the window is read as if chosen from ファイル.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateControls();
  void CreateMenus();
  // Reads the file OpenDialog names into the table, appending to what is there or in its place.
  void ReadCredentials(bool replace);
  // Whether the table's work may go: nothing unsaved, or the user saved it or chose to discard it.
  bool KeepWork();
  // Builds when nothing is built for the rows as they stand, then saves into a folder the user
  // chooses. Whether the files were saved.
  bool SaveWork();
  bool SaveToChosenFolder();
  // The credential file or .htpasswd at `path`, read as 既存の.htpasswdを開く or ファイル読み込み.
  void OpenHtpasswdAt(const std::string& path);
  void LoadCredentialsAt(const QString& path);
  // Shows in the title bar the file the table is bound to.
  void ShowTitle(const QString& path);
  // Remembers a file read, for 最近使ったファイル.
  void RememberRecent(const QString& path, bool htpasswd);
  void ShowRecent();
  // ユーザの検索: moves to the next row whose name holds the typed text, ignoring letter case.
  void FindUserClick();
  // Sets `dialog` up to ask for a credential file.
  static TOpenDialog& AskForCredentials(TOpenDialog& dialog);
  // No file to build from: 認証データ作成 and 保存 are off and both boxes empty.
  void LeaveNothingToBuild();
  // Undoes a save into `folder` that a crash cut off, telling the user so; before a file of the
  // folder is read.
  void RecoverFolder(const std::string& folder);
  // How a text of the files (a name, a setting read from .htaccess) reads on the screen.
  QString FileText(std::string_view bytes) const;
  void ShowAuthNameWarning();
  // Applies a change of the choices under 設定 and remembers it.
  void ChangeOptions(const std::function<void(core::TSettings&)>& change);
  static QAction* AddItem(QMenu* menu, const QString& text, const QKeySequence& shortcut, const QString& name);
  QPushButton* CreateImageButton(QWidget* parent, const QString& name, const QRect& bounds, const QString& caption,
                                 const QString& image);

  // Whether another row's name differs from `key` only in letter case, from counts of the folded
  // names made again after each change of the rows.
  bool CaseTwin(std::string_view key);

  core::TSettings options_;
  QMenu* recent_menu_ = nullptr;
  std::unordered_map<std::string, int> folded_counts_;
  std::uint64_t folded_revision_ = ~std::uint64_t{0};
  std::unique_ptr<core::TJob> job_;
};

// The text of an edit box as code page 932 bytes; fails when it holds a character the code page
// cannot store (see Cp932Text for `exact`), rather than writing another character into a
// server's configuration.
std::string EditText(const QLineEdit& edit, bool exact);

// What バージョン情報 shows: name, version, licence and the Qt in use.
QString AboutText();

// A path from a dialog, in the file system's own encoding.
std::string NativePath(const QString& path);

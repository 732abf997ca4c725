#include "app/unit1.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QSettings>
#include <QStatusBar>
#include <QStringList>
#include <QImage>
#include <QLayout>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <qdrawutil.h>

#include "app/busy.h"
#include "app/cell_warnings.h"
#include "app/dialogs.h"
#include "app/application.h"
#include "app/screen_text.h"
#include "core/encoding.h"
#include "core/save_set.h"
#include "hashes/formats.h"
#include "platform/cp932.h"
#include "platform/key_fold.h"
#include "platform/system.h"
#include "text/exceptions.h"
#include "text/messages.h"
#include "text/string_list.h"

namespace {

// Runs `undo` when the scope is left by a failure, not when it ends normally.
template <class Undo>
class TOnFailure {
 public:
  explicit TOnFailure(Undo undo) : undo_(std::move(undo)) {}
  ~TOnFailure() {
    if (std::uncaught_exceptions() > failures_) undo_();
  }
  TOnFailure(const TOnFailure&) = delete;
  TOnFailure& operator=(const TOnFailure&) = delete;

 private:
  Undo undo_;
  const int failures_ = std::uncaught_exceptions();
};

QFont JapaneseFont(std::string_view family, int pixels) {
  QFont font(ScreenText(family));
  font.setPixelSize(pixels);
  return font;
}
QFont Gothic(int pixels) { return JapaneseFont(messages::SGothicFont, pixels); }
QFont PGothic(int pixels) { return JapaneseFont(messages::SPGothicFont, pixels); }

// A button image: the colour of its bottom-left pixel is its transparent colour.
QIcon ButtonImage(const QString& resource) {
  const QImage image(resource);
  QPixmap pixmap = QPixmap::fromImage(image);
  if (!image.isNull())
    pixmap.setMask(QBitmap::fromImage(image.createMaskFromColor(image.pixel(0, image.height() - 1), Qt::MaskInColor)));
  return QIcon(pixmap);
}

// A framed group drawn as the layout expects it: the frame's top line runs through the middle of
// the caption, which stands on the window's colour over it. Styles that put the caption above the
// frame push the frame down onto the controls that the layout places just below the caption.
class TGroupBox final : public QGroupBox {
 public:
  using QGroupBox::QGroupBox;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    // Drawn here rather than by the style, which may move the frame down below a caption.
    qDrawShadeRect(&painter, rect().adjusted(0, metrics.height() / 2, 0, 0), palette(), true, 1, 0);
    const QRect caption(kCaptionLeft, 0, metrics.horizontalAdvance(title()) + 2 * kCaptionPad, metrics.height());
    painter.fillRect(caption, palette().window());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(caption.adjusted(kCaptionPad, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, title());
  }

 private:
  static constexpr int kCaptionLeft = 6;
  static constexpr int kCaptionPad = 2;
};

QGroupBox* CreateGroup(QWidget* parent, const QString& name, const QRect& bounds, const QString& caption) {
  auto* group = new TGroupBox(caption, parent);
  group->setObjectName(name);
  group->setGeometry(bounds);
  return group;
}

TMemo* CreateMemo(QWidget* parent, const QString& name, const QRect& bounds) {
  auto* memo = new TMemo(parent);
  memo->setObjectName(name);
  memo->setGeometry(bounds);
  memo->setFont(Gothic(13));
  return memo;
}

}  // namespace

std::string EditText(const QLineEdit& edit, bool exact) { return Cp932Text(edit.text(), exact); }

std::string NativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

TLabeledEdit::TLabeledEdit(QWidget* parent, const QString& name, const QRect& bounds, const QString& caption,
                           const QString& text)
    : QLineEdit(text, parent), EditLabel(new QLabel(caption, parent)) {
  setObjectName(name);
  setGeometry(bounds);
  EditLabel->setObjectName(name + QStringLiteral("Label"));
  EditLabel->setFont(Gothic(12));
  EditLabel->adjustSize();
  // The caption stands 3 pixels above the edit box.
  EditLabel->move(bounds.left(), bounds.top() - EditLabel->height() - 3);
  EditLabel->setBuddy(this);
}

bool TOpenDialog::Execute(QWidget* owner) {
  const std::optional<QString> chosen = CurrentDialogs().OpenFile(owner, Title, QtFileFilter(Filter), FileName);
  if (!chosen) return false;
  FileName = *chosen;
  return true;
}

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Vastelo"));
  move(QSettings(QStringLiteral("Vastelo"), QStringLiteral("Vastelo")).value(QStringLiteral("WindowPosition"), QPoint(191, 105)).toPoint());
  setAcceptDrops(true);
  setFont(PGothic(12));
  QPalette face = palette();
  face.setColor(QPalette::Window, face.color(QPalette::Button));
  setPalette(face);
  // The controls keep the client area they were laid out in; the menu bar sits above it, outside,
  // and the window is exactly as large as the two together.
  options_ = LoadOptions();
  ClientArea = new QWidget(this);
  ClientArea->setObjectName(QStringLiteral("ClientArea"));
  ClientArea->setFixedSize(601, 450);
  setCentralWidget(ClientArea);
  CreateControls();
  CreateMenus();
  job_ = std::make_unique<core::TJob>(UserList->Table());
  job_->SetSettings(options_);
  UserList->Editor()->exact = options_.utf8;
  UserList->Model().SetAnnotator([this](table::Column column, const table::TUserListModel::TRow& row) {
    return CellWarning(column, row, options_, column == table::Column::Key && CaseTwin(row.key));
  });
  // The realm travels in the login prompt, where only ASCII is sure to arrive whole.
  AuthNameWarning = AuthName->addAction(style()->standardIcon(QStyle::SP_MessageBoxWarning), QLineEdit::TrailingPosition);
  AuthNameWarning->setToolTip(ScreenText(messages::SAuthNameNotAscii));
  connect(AuthName, &QLineEdit::textChanged, this, &TForm1::ShowAuthNameWarning);
  // Both settings go into .htaccess: the job follows them as they are typed, so that a change makes
  // the last build's files stale. Text the code page cannot hold goes as its UTF-8 bytes, which
  // differ from any it held; the build refuses it, naming the box.
  for (QLineEdit* edit : {static_cast<QLineEdit*>(AuthUserFile), static_cast<QLineEdit*>(AuthName)})
    connect(edit, &QLineEdit::textChanged, this, [this] {
      const auto bytes = [this](const QLineEdit& box) {
        try {
          return EditText(box, options_.utf8);
        } catch (const text::Exception&) {
          return box.text().toStdString();
        }
      };
      job_->SetAuth(bytes(*AuthUserFile), bytes(*AuthName));
      ShowSaveState();
    });
  connect(UserList->Editor(), &QLineEdit::textEdited, this, &TForm1::ShowSaveState);
  ShowAuthNameWarning();
  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

QPushButton* TForm1::CreateImageButton(QWidget* parent, const QString& name, const QRect& bounds,
                                       const QString& caption, const QString& image) {
  auto* button = new QPushButton(ButtonImage(image), caption, parent);
  button->setObjectName(name);
  button->setGeometry(bounds);
  button->setIconSize(QSize(24, 24));
  // Pressing a button leaves the focus, and an open cell editor with its text, where they were.
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

void TForm1::CreateControls() {
  GroupBox4 = CreateGroup(ClientArea, QStringLiteral("GroupBox4"), {8, 8, 289, 145}, ScreenText(messages::SHtaccessGroup));
  AuthUserFile = new TLabeledEdit(GroupBox4, QStringLiteral("AuthUserFile"), {16, 32, 257, 20},
                                  ScreenText(messages::SAuthUserFileLabel), ScreenText(core::kDefaultAuthUserFile));
  AuthUserFile->setFont(Gothic(12));
  LabeledEdit2 = new TLabeledEdit(GroupBox4, QStringLiteral("LabeledEdit2"), {16, 72, 257, 20},
                                  ScreenText(messages::SAuthGroupFileLabel), ScreenText(messages::SNotSupported));
  LabeledEdit2->setReadOnly(true);
  QPalette light = LabeledEdit2->palette();
  light.setColor(QPalette::Base, light.color(QPalette::Midlight));
  LabeledEdit2->setPalette(light);
  AuthName = new TLabeledEdit(GroupBox4, QStringLiteral("AuthName"), {16, 112, 257, 20},
                              ScreenText(messages::SAuthNameLabel), ScreenText(core::kDefaultAuthName));

  GroupBox1 = CreateGroup(ClientArea, QStringLiteral("GroupBox1"), {8, 160, 290, 281}, ScreenText(messages::SUserListGroup));
  Label4 = new QLabel(ScreenText(messages::SUserListHint), GroupBox1);
  Label4->setObjectName(QStringLiteral("Label4"));
  Label4->setGeometry(8, 20, 268, 12);
  // A caption is never cut off: where the substitute font runs wider than the original, the
  // label grows to the right.
  Label4->resize(std::max(268, Label4->sizeHint().width()), 12);
  LoadFile = CreateImageButton(GroupBox1, QStringLiteral("LoadFile"), {8, 38, 137, 30}, ScreenText(messages::SLoadFileButton),
                               QStringLiteral(":/load_file.xpm"));
  CreateEnc = CreateImageButton(GroupBox1, QStringLiteral("CreateEnc"), {152, 38, 129, 30},
                                ScreenText(messages::SCreateEncButton), QStringLiteral(":/create_enc.xpm"));
  CreateEnc->setEnabled(false);
  UserList = new TUserListGrid(GroupBox1);
  UserList->setGeometry(9, 72, 272, 201);

  GroupBox2 = CreateGroup(ClientArea, QStringLiteral("GroupBox2"), {304, 8, 290, 161}, ScreenText(messages::SHtaccessBox));
  Htaccess = CreateMemo(GroupBox2, QStringLiteral("Htaccess"), {8, 16, 273, 137});
  Htaccess->SetWrapLines(false);
  Htaccess->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  GroupBox3 = CreateGroup(ClientArea, QStringLiteral("GroupBox3"), {304, 176, 290, 225}, ScreenText(messages::SHtpasswdBox));
  Htpasswd = CreateMemo(GroupBox3, QStringLiteral("Htpasswd"), {8, 16, 273, 201});
  Htpasswd->SetWrapLines(true);
  Htpasswd->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  SaveData = CreateImageButton(ClientArea, QStringLiteral("SaveData"), {408, 408, 185, 33},
                               ScreenText(messages::SSaveDataButton), QStringLiteral(":/save_data.xpm"));
  SaveData->setEnabled(false);

  // A screen reader names each control by its caption.
  UserList->setAccessibleName(GroupBox1->title());
  UserList->setAccessibleDescription(Label4->text());
  UserList->Editor()->setAccessibleName(GroupBox1->title());
  Htaccess->setAccessibleName(GroupBox2->title());
  Htpasswd->setAccessibleName(GroupBox3->title());
  for (TLabeledEdit* edit : {AuthUserFile, LabeledEdit2, AuthName}) edit->setAccessibleName(edit->EditLabel->text());

  setTabOrder(UserList, Htaccess);
  setTabOrder(Htaccess, Htpasswd);
  setTabOrder(Htpasswd, AuthName);
  setTabOrder(AuthName, LabeledEdit2);
  setTabOrder(LabeledEdit2, AuthUserFile);

  UserList->Table().OnStringsChange = [this] { UserListStringsChange(); };
  connect(LoadFile, &QPushButton::clicked, this, [this] { Guarded([this] { LoadFileClick(); }); });
  connect(CreateEnc, &QPushButton::clicked, this, [this] { Guarded([this] { CreateEncClick(); }); });
  connect(SaveData, &QPushButton::clicked, this, [this] { Guarded([this] { SaveDataClick(); }); });
}

namespace {

// Keeps a menu item's enabled state the same as its button's, whoever changes the button.
class TFollowEnabled final : public QObject {
 public:
  TFollowEnabled(QWidget* button, QAction* action) : QObject(button), action_(action) {
    button->installEventFilter(this);
    action_->setEnabled(button->isEnabled());
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::EnabledChange) action_->setEnabled(static_cast<QWidget*>(watched)->isEnabled());
    return false;
  }

 private:
  QAction* action_;
};

// Both files the window reads, the credentials and an opened .htpasswd, are read under this caption.
QString ReadingCaption() { return ScreenText(messages::SReading); }

// A password that cannot be what was typed (its characters have no bytes in the files' encoding)
// is answered as one that does not match.
QString Mismatch(const QString& user) { return ScreenText(messages::SPasswordDiffers, {user}); }

}  // namespace

QAction* TForm1::AddItem(QMenu* menu, const QString& text, const QKeySequence& shortcut, const QString& name) {
  QAction* action = menu->addAction(text);
  action->setObjectName(name);
  action->setShortcut(shortcut);
  return action;
}

void TForm1::CreateMenus() {
  QMenu* file = menuBar()->addMenu(ScreenText(messages::SFileMenu));
  QMenu* edit = menuBar()->addMenu(ScreenText(messages::SEditMenu));
  QMenu* settings = menuBar()->addMenu(ScreenText(messages::SSettingsMenu));
  QMenu* help = menuBar()->addMenu(ScreenText(messages::SHelpMenu));
  // An item is its button pressed: the same guarded handler, the same enabled state, and the
  // focus (with an open cell editor) stays where it was.
  const auto press = [this](QAction* action, QPushButton* button) {
    connect(action, &QAction::triggered, button, &QPushButton::click);
    new TFollowEnabled(button, action);
  };
  press(AddItem(file, ScreenText(messages::SLoadFileItem), QKeySequence(Qt::CTRL | Qt::Key_O),
                QStringLiteral("LoadFileItem")),
        LoadFile);
  const auto handler = [this](QAction* action, void (TForm1::*click)()) {
    connect(action, &QAction::triggered, this, [this, click] { Guarded([this, click] { (this->*click)(); }); });
  };
  handler(AddItem(file, ScreenText(messages::SAppendFileItem), QKeySequence(), QStringLiteral("AppendFileItem")),
          &TForm1::AppendFileClick);
  handler(AddItem(file, ScreenText(messages::SOpenHtpasswdItem), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O),
                  QStringLiteral("OpenHtpasswdItem")),
          &TForm1::OpenHtpasswdClick);
  press(AddItem(file, ScreenText(messages::SSaveDataItem), QKeySequence(Qt::CTRL | Qt::Key_S),
                QStringLiteral("SaveDataItem")),
        SaveData);
  recent_menu_ = file->addMenu(ScreenText(messages::SRecentMenu));
  recent_menu_->setObjectName(QStringLiteral("RecentMenu"));
  ShowRecent();
  file->addSeparator();
  connect(AddItem(file, ScreenText(messages::SExitItem), QKeySequence(Qt::CTRL | Qt::Key_Q), QStringLiteral("ExitItem")),
          &QAction::triggered, this, &QWidget::close);
  press(AddItem(edit, ScreenText(messages::SCreateEncItem), QKeySequence(Qt::CTRL | Qt::Key_B),
                QStringLiteral("CreateEncItem")),
        CreateEnc);
  handler(AddItem(edit, ScreenText(messages::SDeleteRowItem), QKeySequence(), QStringLiteral("DeleteRowItem")),
          &TForm1::DeleteRowClick);
  handler(AddItem(edit, ScreenText(messages::SFindUserItem), QKeySequence(Qt::CTRL | Qt::Key_F), QStringLiteral("FindUserItem")),
          &TForm1::FindUserClick);
  connect(AddItem(edit, ScreenText(messages::SVerifyItem), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V),
                  QStringLiteral("VerifyItem")),
          &QAction::triggered, this, [this] {
            const table::TUserList& table = UserList->Table();
            const QString user = table.Strings().Count() > 0 ? ScreenText(table.CellText(table::Column::Key, table.Row())) : QString();
            CurrentDialogs().CheckPasswords(this, user, [this](const QString& u, const QString& p) { return CheckPassword(u, p); });
          });
  QMenu* formats = settings->addMenu(ScreenText(messages::SHashFormatMenu));
  formats->setObjectName(QStringLiteral("HashFormatMenu"));
  auto* format_group = new QActionGroup(this);
  for (const hashes::TFormatRow& row : hashes::kFormatRows) {
    const hashes::Format format = row.format;
    QAction* action = format_group->addAction(QString::fromUtf8(row.menu_label.data(), static_cast<qsizetype>(row.menu_label.size())));
    action->setCheckable(true);
    action->setChecked(format == options_.format);
    formats->addAction(action);
    connect(action, &QAction::triggered, this, [this, f = format] { ChangeOptions([f](core::TSettings& o) { o.format = f; }); });
  }
  QMenu* encodings = settings->addMenu(ScreenText(messages::SEncodingMenu));
  encodings->setObjectName(QStringLiteral("EncodingMenu"));
  auto* encoding_group = new QActionGroup(this);
  for (const bool utf8 : {false, true}) {
    QAction* action = encoding_group->addAction(utf8 ? ScreenText(messages::SUtf8Item) : ScreenText(messages::SShiftJisItem));
    action->setCheckable(true);
    action->setChecked(utf8 == options_.utf8);
    encodings->addAction(action);
    connect(action, &QAction::triggered, this, [this, utf8] { ChangeOptions([utf8](core::TSettings& o) { o.utf8 = utf8; }); });
  }
  connect(AddItem(settings, ScreenText(messages::SStrengthItem), QKeySequence(), QStringLiteral("StrengthItem")),
          &QAction::triggered, this, [this] {
            Guarded([this] {
              if (const auto chosen = CurrentDialogs().ChooseStrength(this, options_.strength))
                ChangeOptions([&](core::TSettings& o) { o.strength = *chosen; });
            });
          });
  connect(AddItem(help, ScreenText(messages::SAboutItem), QKeySequence(), QStringLiteral("AboutItem")),
          &QAction::triggered, this, [this] {
            CurrentDialogs().ShowInformation(this, ScreenText(messages::SAboutTitle), AboutText());
          });
}

QString AboutText() {
  return ScreenText(messages::SAboutText, {QStringLiteral(VASTELO_VERSION), QString::fromLatin1(qVersion())});
}

void TForm1::ChangeOptions(const std::function<void(core::TSettings&)>& change) {
  core::TSettings changed = options_;
  change(changed);
  options_ = changed;
  SaveOptions(options_);
  // The menu shows the choice also when it was made elsewhere than in the menu.
  findChild<QMenu*>(QStringLiteral("HashFormatMenu"))->actions()[static_cast<int>(options_.format)]->setChecked(true);
  findChild<QMenu*>(QStringLiteral("EncodingMenu"))->actions()[options_.utf8 ? 1 : 0]->setChecked(true);
  // The files of the last build are in the old form: saving waits for a build.
  job_->SetSettings(options_);
  ShowSaveState();
  UserList->Model().AnnotationsChanged();
  UserList->Editor()->exact = options_.utf8;
  ShowAuthNameWarning();
}

void TForm1::ShowAuthNameWarning() {
  const QString text = AuthName->text();
  AuthNameWarning->setVisible(options_.utf8 && std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x80; }));
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // No control is named to have the focus: the first in focus order takes it.
  if (!focusWidget()) UserList->setFocus(Qt::ActiveWindowFocusReason);
}

bool TForm1::CaseTwin(std::string_view key) {
  // Only a table that tells names apart by their bytes can hold two that differ in case alone.
  const table::TUserRecords& strings = UserList->Table().Strings();
  if (!strings.ExactKeys() || key.empty()) return false;
  if (folded_revision_ != strings.ChangeCount()) {
    folded_counts_.clear();
    for (const std::string& line : strings.Lines())
      if (const std::string_view k = table::TUserRecords::KeyOf(line); !k.empty()) ++folded_counts_[platform::FoldKey(k)];
    folded_revision_ = strings.ChangeCount();
  }
  const auto it = folded_counts_.find(platform::FoldKey(key));
  return it != folded_counts_.end() && it->second > 1;
}

void TForm1::UserListStringsChange() {
  CreateEnc->setEnabled(true);
  // Whatever the last build made no longer holds the rows as they stand.
  ShowSaveState();
}

void TForm1::ShowSaveState() {
  // The window's own notifications may come before the job exists, while the controls are made.
  SaveData->setEnabled(job_ && job_->CanSave());
}

QString TForm1::FileText(std::string_view bytes) const {
  return options_.utf8 ? QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())) : ScreenText(bytes);
}

void TForm1::LoadFileClick() {
  // Asked before the file: a cancel anywhere changes nothing.
  if (KeepWork() && AskForCredentials(OpenDialog).Execute(this)) ReadCredentials(true);
}

void TForm1::AppendFileClick() {
  // The table stays as it is: the file's users are added below the rows there.
  if (AskForCredentials(OpenDialog).Execute(this)) ReadCredentials(false);
}

TOpenDialog& TForm1::AskForCredentials(TOpenDialog& dialog) {
  dialog.Filter = ScreenText(messages::SCsvFilter);
  dialog.Title = ScreenText(messages::SCsvTitle);
  return dialog;
}

void TForm1::LeaveNothingToBuild() {
  CreateEnc->setEnabled(false);
  job_->DropResult();
  ShowSaveState();
  Htaccess->Clear();
  Htpasswd->Clear();
}

void TForm1::RecoverFolder(const std::string& folder) {
  if (const std::string note = core::RecoverCutSaves(folder); !note.empty())
    CurrentDialogs().ShowInformation(this, QStringLiteral("Vastelo"), QString::fromStdString(platform::Cp932ToUtf8(note)));
}

void TForm1::OpenHtpasswdClick() {
  HtpasswdDialog.Filter = ScreenText(messages::SHtpasswdFilter);
  HtpasswdDialog.Title = ScreenText(messages::SOpenHtpasswdTitle);
  if (KeepWork() && HtpasswdDialog.Execute(this)) OpenHtpasswdAt(NativePath(HtpasswdDialog.FileName));
}

void TForm1::OpenHtpasswdAt(const std::string& path) {
  // A file refused leaves the table, and what was built from it, as they were.
  RecoverFolder(platform::FolderOf(path));
  const auto open = [&] {
    TBusyScope busy(this, ReadingCaption());
    return job_->OpenHtpasswd(path);
  };
  core::THtaccessSettings beside = open();
  // What the boxes held was built from other rows.
  LeaveNothingToBuild();
  // Names read in the wrong encoding show garbled and are written back as other bytes than a
  // browser sends: a file that looks written in the other one is offered to be read again in it.
  const core::FileEncoding looks = core::LooksLike(job_->OpenedBytes());
  if (looks == (options_.utf8 ? core::FileEncoding::ShiftJis : core::FileEncoding::Utf8)) {
    const QString other = options_.utf8 ? QStringLiteral("Shift-JIS") : QStringLiteral("UTF-8");
    if (CurrentDialogs().Confirm(this, QStringLiteral("Vastelo"),
                                 ScreenText(messages::SHtpasswdInOtherEncoding, {other, other}))) {
      ChangeOptions([](core::TSettings& o) { o.utf8 = !o.utf8; });
      beside = open();
    }
  }
  // The file just opened is where the server is to find it, unless an .htaccess beside it says
  // otherwise.
  AuthUserFile->setText(beside.auth_user_file ? FileText(*beside.auth_user_file)
                                              : QFile::decodeName(QByteArray::fromStdString(job_->OpenedPath())));
  if (beside.auth_name) AuthName->setText(FileText(*beside.auth_name));
  job_->MarkSaved();  // the settings read from beside it are part of what was opened
  CreateEnc->setEnabled(true);
  const QString shown = QFile::decodeName(QByteArray::fromStdString(job_->OpenedPath()));
  ShowTitle(shown);
  RememberRecent(shown, true);
  // Lines that stay as they are without a row would otherwise go unnoticed until a server reads them.
  if (const std::size_t kept = job_->KeptUserLines(); kept > 0)
    CurrentDialogs().ShowInformation(this, QStringLiteral("Vastelo"),
                                     ScreenText(text::FormatMessage(messages::SKeptUserLines, {std::to_string(kept)})));
}

void TForm1::DeleteRowClick() {
  table::TUserList& table = UserList->Table();
  // The row's name as it will be removed: a name still in the editor is handed over first.
  table.CloseEditor();
  if (table.Strings().Count() == 0) return;
  const int row = table.Row();
  const QString user = ScreenText(table.CellText(table::Column::Key, row));
  if (CurrentDialogs().Confirm(this, QStringLiteral("Vastelo"), ScreenText(messages::SDeleteRowQuestion, {user})))
    table.RemoveRow(row);
}

TDialogs::TCheckAnswer TForm1::CheckPassword(const QString& user, const QString& password) const {
  if (user.isEmpty()) return {ScreenText(messages::SEnterUserName), {}};
  // What a browser sends: the typed text's bytes in the files' encoding. A server compares them
  // byte for byte with the names in the file, letter case and all, and so does this check.
  const auto sent = [this](const QString& text) -> std::optional<std::string> {
    if (options_.utf8) return text.toStdString();
    try {
      return Cp932Text(text);
    } catch (const text::Exception&) {
      return std::nullopt;  // no name or password of the file can be made of it
    }
  };
  const std::optional<std::string> name = sent(user);
  const std::optional<std::string> hash = name ? job_->HashForLogin(*name) : std::nullopt;
  if (!hash) return {ScreenText(messages::SUserNotInTable, {user}), {}};
  if (hash->empty()) return {ScreenText(messages::SNoHashYet, {user}), {}};
  const std::optional<std::string> bytes = sent(password);
  if (!bytes) return {Mismatch(user), {}};
  // One check can take minutes (SHA-512 with many rounds): it runs off the window's thread, on
  // copies of what it needs, in a process of its own that a 中止 ends.
  return {{}, [user, hash = *hash, bytes = *bytes] {
            switch (core::CheckApart(bytes, hash)) {
              case hashes::Verdict::Match:
                return ScreenText(messages::SPasswordMatches, {user});
              case hashes::Verdict::Mismatch:
                return Mismatch(user);
              case hashes::Verdict::Uncheckable:
                break;
            }
            return ScreenText(messages::SHashUncheckable, {user});
          }};
}

void TForm1::ReadCredentials(bool replace) {
  const auto load = [&] {
    TBusyScope busy(this, ReadingCaption());
    job_->LoadCredentials(NativePath(OpenDialog.FileName), [&](long long done, long long total) { busy.Progress(done, total); },
                          replace);
  };
  try {
    load();
  } catch (const text::Exception&) {
    // A file refused in one encoding that reads cleanly in the other is offered to be read again
    // in it, as an opened .htpasswd is.
    const core::FileEncoding looks = core::LooksLike(text::ReadFileBytes(NativePath(OpenDialog.FileName)));
    if (looks != (options_.utf8 ? core::FileEncoding::ShiftJis : core::FileEncoding::Utf8)) throw;
    const QString other = options_.utf8 ? QStringLiteral("Shift-JIS") : QStringLiteral("UTF-8");
    if (!CurrentDialogs().Confirm(this, QStringLiteral("Vastelo"),
                                  ScreenText(messages::SCredentialsInOtherEncoding, {OpenDialog.FileName, other, other})))
      throw;
    ChangeOptions([](core::TSettings& o) { o.utf8 = !o.utf8; });
    load();
  }
  if (replace) {
    LeaveNothingToBuild();
    job_->MarkSaved();
    ShowTitle(QString());
  }
  RememberRecent(OpenDialog.FileName, false);
  CreateEnc->setEnabled(true);
}

void TForm1::LoadCredentialsAt(const QString& path) {
  if (!KeepWork()) return;
  OpenDialog.FileName = path;
  ReadCredentials(true);
}

bool TForm1::KeepWork() {
  if (!job_->Unsaved()) return true;
  switch (CurrentDialogs().AskUnsaved(this, ScreenText(messages::SUnsavedQuestion))) {
    case TDialogs::TUnsaved::Save:
      return SaveWork();
    case TDialogs::TUnsaved::Discard:
      return true;
    case TDialogs::TUnsaved::Cancel:
      break;
  }
  return false;
}

bool TForm1::SaveWork() {
  if (!job_->CanSave()) CreateEncClick();
  return job_->CanSave() && SaveToChosenFolder();
}

void TForm1::ShowTitle(const QString& path) {
  setWindowTitle(path.isEmpty() ? QStringLiteral("Vastelo") : QStringLiteral("%1 - Vastelo").arg(path));
}

void TForm1::RememberRecent(const QString& path, bool htpasswd) {
  QSettings settings(QStringLiteral("Vastelo"), QStringLiteral("Vastelo"));
  const QString entry = (htpasswd ? QStringLiteral("htpasswd|") : QStringLiteral("csv|")) + QFileInfo(path).absoluteFilePath();
  QStringList recent = settings.value(QStringLiteral("RecentFiles")).toStringList();
  recent.removeAll(entry);
  recent.prepend(entry);
  while (recent.size() > 8) recent.removeLast();
  settings.setValue(QStringLiteral("RecentFiles"), recent);
  ShowRecent();
}

void TForm1::ShowRecent() {
  recent_menu_->clear();
  const QStringList recent = QSettings(QStringLiteral("Vastelo"), QStringLiteral("Vastelo")).value(QStringLiteral("RecentFiles")).toStringList();
  for (const QString& entry : recent) {
    const bool htpasswd = entry.startsWith(QStringLiteral("htpasswd|"));
    const QString path = entry.section(u'|', 1);
    QAction* action = recent_menu_->addAction(path);
    connect(action, &QAction::triggered, this, [this, path, htpasswd] {
      Guarded([&] {
        if (htpasswd) {
          if (KeepWork()) OpenHtpasswdAt(NativePath(path));
        } else {
          LoadCredentialsAt(path);
        }
      });
    });
  }
  recent_menu_->setEnabled(!recent.isEmpty());
}

void TForm1::FindUserClick() {
  const std::optional<QString> wanted =
      CurrentDialogs().AskText(this, ScreenText(messages::SFindUserTitle), ScreenText(messages::SFindUserPrompt));
  if (!wanted || wanted->isEmpty()) return;
  table::TUserList& table = UserList->Table();
  table.CloseEditor();
  const int rows = table.Strings().Count();
  // From the row after the current one, round to it again.
  for (int step = 1; step <= rows; ++step) {
    const int row = (table.Row() - 1 + step) % rows + 1;
    if (ScreenText(table.CellText(table::Column::Key, row)).contains(*wanted, Qt::CaseInsensitive)) {
      table.MoveTo(table::Column::Key, row);
      UserList->setFocus(Qt::OtherFocusReason);
      return;
    }
  }
  CurrentDialogs().ShowInformation(this, ScreenText(messages::SFindUserTitle), ScreenText(messages::SUserNotFound, {*wanted}));
}

void TForm1::closeEvent(QCloseEvent* event) {
  bool keep = false;
  Guarded([&] { keep = KeepWork(); });
  if (!keep) {
    event->ignore();
    return;
  }
  QSettings(QStringLiteral("Vastelo"), QStringLiteral("Vastelo")).setValue(QStringLiteral("WindowPosition"), pos());
  QMainWindow::closeEvent(event);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls() && event->mimeData()->urls().size() == 1 && event->mimeData()->urls().first().isLocalFile())
    event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  const QString path = event->mimeData()->urls().first().toLocalFile();
  event->acceptProposedAction();
  // A password file by its name; anything else is taken for a list of users.
  Guarded([&] {
    if (QFileInfo(path).fileName().contains(QStringLiteral("htpasswd"), Qt::CaseInsensitive)) {
      if (KeepWork()) OpenHtpasswdAt(NativePath(path));
    } else {
      LoadCredentialsAt(path);
    }
  });
}

void TForm1::CreateEncClick() {
  // A character the files cannot carry is named with the box it was typed into.
  const auto edit_text = [this](const TLabeledEdit& edit) {
    try {
      return EditText(edit, options_.utf8);
    } catch (const text::Exception& failure) {
      throw text::Exception(text::FormatMessage(messages::SNamedCause, {Cp932Text(edit.accessibleName()), failure.Message()}));
    }
  };
  const std::string user_file = edit_text(*AuthUserFile);
  const std::string area = edit_text(*AuthName);
  // A cancelled build puts back what the boxes held: it changes nothing at all.
  const std::string old_htaccess = Htaccess->Text(), old_htpasswd = Htpasswd->Text();
  Htaccess->Assign(core::HtaccessText(user_file, area));
  Htpasswd->Clear();
  job_->SetAuth(user_file, area);
  // A failed build leaves nothing to save: the files of an earlier build are not what the boxes say.
  const TOnFailure failed([this] {
    job_->DropResult();
    ShowSaveState();
    Htaccess->Clear();
    Htpasswd->Clear();
  });
  // The hashing runs on other threads from its first moment; the window keeps painting and a
  // 中止 brings it back at once, whatever hash is still being computed.
  TBusyScope busy(this, ScreenText(messages::SBuilding), true);
  const std::unique_ptr<core::TBuildRun> run = job_->StartBuild();
  if (!busy.Wait([&] { return run->Finished(); },
                 [&] { return std::pair<long long, long long>(run->Done(), run->Total()); }) ||
      !job_->FinishBuild(*run)) {
    Htaccess->Assign(old_htaccess);
    Htpasswd->Assign(old_htpasswd);
    return;
  }
  Htpasswd->Assign(job_->Result()->htpasswd_shown);
  ShowSaveState();
}

void TForm1::SaveDataClick() {
  if (job_->CanSave()) SaveToChosenFolder();
}

bool TForm1::SaveToChosenFolder() {
  const std::optional<QString> folder =
      CurrentDialogs().ChooseFolder(this, ScreenText(messages::SSaveFolderTitle));
  if (!folder || folder->isEmpty()) return false;
  RecoverFolder(NativePath(*folder));
  const core::TSavePlan plan = job_->PlanSave(NativePath(*folder));
  const auto names = [this](const std::vector<std::string>& users) {
    QStringList shown;
    for (const std::string& user : users) shown << ScreenText(messages::SQuotedName, {FileText(user)});
    return shown.join(ScreenText(messages::SNameSeparator));
  };
  if (!plan.conflicts.empty() &&
      !CurrentDialogs().Confirm(this, QStringLiteral("Vastelo"),
                                ScreenText(messages::SConflictsQuestion, {names(plan.conflicts)})))
    return false;
  // A .htpasswd that the table was not read from is replaced whole: its users are named in numbers.
  if (plan.replaces_other &&
      !CurrentDialogs().Confirm(this, QStringLiteral("Vastelo"),
                                ScreenText(messages::SReplaceOtherQuestion,
                                           {QFile::decodeName(QByteArray::fromStdString(plan.htpasswd_path)),
                                            QString::number(plan.changes.before), QString::number(plan.changes.removed.size()),
                                            QString::number(plan.changes.added), QString::number(plan.changes.changed)})))
    return false;
  if (!plan.replaces_other && !plan.changes.removed.empty() &&
      !CurrentDialogs().Confirm(this, QStringLiteral("Vastelo"),
                                ScreenText(messages::SRemovedUsersQuestion,
                                           {QString::number(plan.changes.removed.size()), names(plan.changes.removed),
                                            QString::number(plan.changes.added), QString::number(plan.changes.changed)})))
    return false;
  const bool replace_htaccess =
      !plan.htaccess_differs ||
      CurrentDialogs().Confirm(this, QStringLiteral("Vastelo"),
                               ScreenText(messages::SHtaccessDiffersQuestion));
  {
    TBusyScope busy(this, ScreenText(messages::SSaving));
    job_->Save(plan, replace_htaccess);
  }
  ShowSaveState();
  // The boxes show what is on disk now: a merged .htpasswd, a .htaccess kept as it was.
  const auto shown = [this](const std::string& path) {
    return core::ShownText(text::ReadFileBytes(path), options_.utf8);
  };
  Htpasswd->Assign(shown(plan.htpasswd_path));
  Htaccess->Assign(shown(core::FolderFiles(plan.folder).htaccess));
  const QString saved = QFile::decodeName(QByteArray::fromStdString(plan.htpasswd_path));
  ShowTitle(saved);
  statusBar()->showMessage(ScreenText(messages::SSavedTo, {QFile::decodeName(QByteArray::fromStdString(plan.folder)),
                                                            plan.htaccess_differs && !replace_htaccess
                                                                ? ScreenText(messages::SHtaccessKept)
                                                                : QString()}));
  return true;
}

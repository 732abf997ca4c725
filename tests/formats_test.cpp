// The hash formats through the real window: chosen from the menu, remembered, judged by Apache's
// own check and the system crypt(3), cancelled half-way, and served by real Apache and nginx.
#include <QDialogButtonBox>
#include <QMenu>
#include <QProgressBar>
#include <QProgressDialog>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <regex>
#include <set>

#include "app/busy.h"
#include "app/strength_dialog.h"
#include "cli/cli.h"
#include "scripted_random.h"
#include "server_harness.h"
#include "window_fixture.h"

namespace {

using FormatsTest = WindowTest;

struct FormatCase {
  hashes::Format format;
  const char* shape;
  bool crypt_checks;  // the system crypt(3), which nginx calls, knows the form
};
const FormatCase kFormats[] = {
    {hashes::Format::Des, "[./0-9A-Za-z]{13}", true},
    {hashes::Format::Apr1, R"(\$apr1\$[./0-9A-Za-z]{8}\$[./0-9A-Za-z]{22})", false},
    {hashes::Format::Sha512, R"(\$6\$rounds=1000\$[./0-9A-Za-z]{16}\$[./0-9A-Za-z]{86})", true},
    {hashes::Format::Bcrypt, R"(\$2y\$04\$[./0-9A-Za-z]{53})", true},
};

const std::string kUsers = "alice,wonderland\r\n" + Sjis("山田,やまだ表ソ") + "\r\nbob,\r\n";

}  // namespace

TEST_F(FormatsTest, TheChoicesAreRememberedAndNonsenseGivesTheDefaults) {
  Choose(hashes::Format::Bcrypt, true, {4, 999'999'999});  // each at an end of its range
  form = std::make_unique<TForm1>();
  const auto encoding_item = [&](int i) { return form->findChild<QMenu*>("EncodingMenu")->actions()[i]; };
  EXPECT_TRUE(FormatItem(hashes::Format::Bcrypt)->isChecked() && encoding_item(1)->isChecked());
  EXPECT_EQ(form->CurrentOptions(), (core::TSettings{hashes::Format::Bcrypt, {4, 999'999'999}, true}));
  {
    QSettings store(QStringLiteral("Vastelo"), QStringLiteral("Vastelo"));
    for (const auto& [key, nonsense] : {std::pair{"hash/format", "rot13"}, {"hash/bcryptCost", "99"}, {"hash/sha512Rounds", "999"}, {"text/encoding", "EBCDIC"}})
      store.setValue(key, nonsense);
  }
  form = std::make_unique<TForm1>();
  EXPECT_EQ(form->CurrentOptions(), core::TSettings{});
  EXPECT_TRUE(FormatItem(hashes::Format::Des)->isChecked() && encoding_item(0)->isChecked());
  // The file as earlier versions wrote it keeps its meaning.
  const std::string file = QSettings(QStringLiteral("Vastelo"), QStringLiteral("Vastelo")).fileName().toStdString();
  WriteBytes(file, "[hash]\nbcryptCost=17\nformat=sha512\nsha512Rounds=1000\n\n[text]\nencoding=utf-8\n");
  // QSettings keeps what it last read while the file's size and time look the same: this text is as
  // long as the last, so its time is made another.
  std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) - std::chrono::hours(1));
  form = std::make_unique<TForm1>();
  EXPECT_EQ(form->CurrentOptions(), (core::TSettings{hashes::Format::Sha512, {17, 1000}, true}));
}

TEST_F(FormatsTest, ABuildOfHashesThatTakeMinutesKeepsTheWindowAliveAndStopsAtOnce) {
  // An opened file of held users and one new user: only that one is hashed, and counted.
  std::string file;
  for (int i = 0; i < 50; ++i) file += "held" + std::to_string(i) + ":abJnggxhB/yWI\n";
  WriteBytes(dir.File(".htpasswd"), file);
  OpenHtpasswd(dir.File(".htpasswd"));
  Table().InsertEntry("new", "", true);
  Settle();
  Click(form->CreateEnc);
  ASSERT_TRUE(form->SaveData->isEnabled());
  // Settings whose one hash outlasts any test: the dialog comes after its second of delay
  // whatever the count, and 中止 (clicked, or Escape) ends the wait while the hash runs on.
  for (const bool by_key : {false, true}) {
    SCOPED_TRACE(by_key);
    if (by_key)
      Choose(hashes::Format::Sha512, false, {4, 999'999'999});
    else
      Choose(hashes::Format::Bcrypt, false, {17, 1000});
    form->AuthName->setText("changed");
    const std::string htaccess = form->Htaccess->Text(), htpasswd = form->Htpasswd->Text();
    const std::vector<std::string> lines = Lines();
    bool posted = false, at_once = false;
    QTimer::singleShot(0, [&] { posted = true; });
    std::set<QProgressDialog*> seen;
    QString label, offered;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
      auto* progress = form->findChild<QProgressDialog*>("Progress");
      if (!progress || !progress->isVisible() || !seen.insert(progress).second) return;
      label = progress->labelText();
      offered = progress->findChild<QPushButton*>()->text() + progress->findChild<QProgressBar*>()->text() + u'/' + QString::number(progress->maximum());
      // Pressed while the build runs, the window closed: dropped, not run once it has ended.
      QTest::keyClick(form.get(), Qt::Key_B, Qt::ControlModifier);
      QTest::mouseClick(form->CreateEnc, Qt::LeftButton);
      QTest::mouseClick(form->LoadFile, Qt::LeftButton);
      form->close(), form->windowHandle()->close();  // by the program, by the window system
      if (by_key) {
        // Escape is the dialog's shortcut, heard once the dialog is the active window, which the
        // window system makes it a moment after it shows: here at once.
        QApplication::setActiveWindow(progress);
        QTest::keyClick(progress, Qt::Key_Escape);
      } else
        QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
      QTimer::singleShot(0, [&] { at_once = !form->findChild<QProgressDialog*>("Progress"); });
    });
    look.start(10);
    Click(form->CreateEnc);
    look.stop();
    EXPECT_TRUE(posted) << "the window's events ran during the hash";
    EXPECT_EQ(seen.size(), 1u) << "one build, no second one from the keys pressed meanwhile";
    EXPECT_EQ(label + u'|' + offered, "認証データを作成しています\n0 / 1|中止0%/100");
    EXPECT_TRUE(form->isVisible()) << "the window is not closed while it works";
    EXPECT_TRUE(at_once && !form->findChild<QProgressDialog*>("Progress")) << "gone before the next event, not at the next look";
    EXPECT_EQ(dialogs.open_title, "既存の.htpasswdを開く") << "no file dialog from the dropped click";
    EXPECT_EQ(std::make_tuple(Lines(), form->Htaccess->Text(), form->Htpasswd->Text()), std::make_tuple(lines, htaccess, htpasswd))
        << "nothing changed, no generated password written back";
    EXPECT_TRUE(form->CreateEnc->isEnabled() && !form->SaveData->isEnabled()) << "as the change of format left it";
    EXPECT_TRUE(Errors().empty());
  }
}

TEST_F(FormatsTest, CellsTheServerReadsOtherwiseCarryAMarkThatSaysWhy) {
  Fill({"alice=12345678", "bob=123456789", "a:b=x", "carol=\x95\x5C", "dave=", "#team=x", "=pw", " lead=x", "trail =x"});
  const auto tip = [&](int row, int column) {
    return form->UserList->model()->index(row - 1, column).data(Qt::ToolTipRole).toString();
  };
  const auto marked = [&](hashes::Format format) {
    FormatItem(format)->trigger();
    std::string out;
    for (int r = 1; r <= 9; ++r) out += std::string(tip(r, 0).isEmpty() ? "-" : "K") + (tip(r, 1).isEmpty() ? "-" : "P");
    return out;
  };
  const QSignalSpy redrawn(form->UserList->model(), &QAbstractItemModel::dataChanged);
  EXPECT_EQ(marked(hashes::Format::Des), "--" "-P" "K-" "-P" "--" "K-" "K-" "K-" "K-");
  ASSERT_FALSE(redrawn.isEmpty());
  const QModelIndex top = redrawn.constLast().at(0).toModelIndex(), bottom = redrawn.constLast().at(1).toModelIndex();
  EXPECT_EQ(std::make_tuple(top.row(), top.column(), bottom.row(), bottom.column()), std::make_tuple(0, 0, 8, 1))
      << "a new format redraws the marks of every row, both columns";
  EXPECT_TRUE(tip(2, 1).contains("8 バイト")) << tip(2, 1).toStdString();
  EXPECT_TRUE(tip(4, 1).contains("最上位ビット") && !tip(4, 1).contains("UTF-8")) << tip(4, 1).toStdString();
  EXPECT_TRUE(tip(3, 0).contains("「:」を含む"));
  EXPECT_TRUE(tip(6, 0).contains("コメント")) << "servers skip a line starting with #";
  EXPECT_TRUE(tip(7, 0).contains("名前のない") && tip(7, 0).contains("Apache は空のユーザ名")) << "a password without a name";
  EXPECT_TRUE(tip(8, 0).contains("Apache では先頭の空白を除いた")) << "Apache trims a line's opening blanks";
  EXPECT_TRUE(tip(9, 0).contains("空白で終わる")) << "but keeps a name's last blank";
  EXPECT_EQ(marked(hashes::Format::Sha512), "--" "--" "K-" "--" "--" "K-" "K-" "K-" "K-");
  Table().SetCellText(table::Column::Value, 1, std::string(72, 'x'));  // what bcrypt reads
  Table().SetCellText(table::Column::Value, 2, std::string(73, 'x'));
  EXPECT_EQ(marked(hashes::Format::Bcrypt), "--" "-P" "K-" "--" "--" "K-" "K-" "K-" "K-");
  Table().SetCellText(table::Column::Value, 7, "");
  EXPECT_EQ(tip(7, 0), "") << "an empty row is no user";
  EXPECT_TRUE(tip(2, 1).contains("72 バイト"));
  Choose(hashes::Format::Des, true);
  EXPECT_TRUE(tip(4, 1).contains("UTF-8 では日本語 1 文字が 3 バイト")) << "and in UTF-8 a kanji is three of them";
  // In an opened file, whose users are their exact bytes, names that differ only in case are marked.
  WriteBytes(dir.File(".htpasswd"), "alice:" + std::string(13, 'a') + "\nAlice:" + std::string(13, 'b') + "\nbob:" + std::string(13, 'c') + "\n");
  OpenHtpasswd(dir.File(".htpasswd"));
  EXPECT_TRUE(tip(1, 0).contains("大文字と小文字だけ") && tip(2, 0).contains("大文字と小文字だけ") && tip(3, 0).isEmpty());
  Table().Strings().Clear();
  Fill({"alice=12345678", "bob=123456789", "a:b=x", "carol=\x95\x5C", "dave="});
  // A marked cell carries the warning icon at its right, over its text.
  EXPECT_TRUE(LooksAsItsReference(form->UserList->viewport(), "table-marks"));
}

TEST(StrengthDialog, OffersTheBoundsAndTheTimeOfOneVerification) {
  TStrengthDialog dialog(nullptr, {10, 100'000});
  dialog.show();
  EXPECT_TRUE(0 < dialog.BcryptCost->y() && dialog.BcryptCost->y() < dialog.BcryptTime->y() &&
              dialog.BcryptTime->y() < dialog.Sha512Rounds->y() && dialog.Sha512Rounds->y() < dialog.Sha512Time->y() &&
              dialog.Sha512Time->y() < dialog.findChild<QDialogButtonBox*>()->y()) << "laid out, each below the one before";
  EXPECT_EQ(dialog.Sha512Time->text(), "照合 1 回の時間を測っています…") << "measured off the window's thread";
  // QtTest's own waiting macros only return on failure here: GoogleTest must be told.
  EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.Sha512Time->text().startsWith("照合 1 回に 約"); })) << dialog.Sha512Time->text().toStdString();
  EXPECT_EQ(std::make_tuple(dialog.BcryptCost->minimum(), dialog.BcryptCost->maximum(), dialog.Sha512Rounds->minimum(),
                            dialog.Sha512Rounds->maximum()), std::make_tuple(4, 17, 1000, 999'999'999));
  EXPECT_TRUE(dialog.BcryptTime->text().contains("ミリ秒")) << dialog.BcryptTime->text().toStdString();
  // Each box alone moves its own time: nearly 10,000 times the rounds, 128 times as long a bcrypt, seconds.
  dialog.Sha512Rounds->setValue(999'999'999), dialog.Sha512Rounds->stepBy(-1);  // a step of 10,000, shown grouped
  EXPECT_EQ(dialog.Sha512Rounds->text() + dialog.Sha512Time->text().right(2), "999,989,999 秒") << dialog.Sha512Time->text().toStdString();
  dialog.BcryptCost->setValue(17);
  EXPECT_TRUE(dialog.BcryptTime->text().endsWith(" 秒")) << dialog.BcryptTime->text().toStdString();
  EXPECT_EQ(dialog.Chosen(), (hashes::TStrength{17, 999'989'999}));
  for (const auto& [ms, text] : {std::pair{0.4, "1 ミリ秒未満"}, {1.0, "約 1 ミリ秒"}, {61.4, "約 61 ミリ秒"}, {1000.0, "約 1.0 秒"}, {1500.0, "約 1.5 秒"}})
    EXPECT_EQ(ApproximateTime(ms), QString::fromUtf8(text));
}

// Every format's lines, in both encodings: what the command writes for the same file and settings,
// byte for byte; passed by Apache's own check and, where it knows the form, the system crypt(3).
// Saved into the folder they protect, they let each user in on real servers with the right password
// only, sent in the encoding they were saved in; the password file is never served.
TEST_F(FormatsTest, EveryFormatsFilesGuardAFolderOnRealServers) {
  EXPECT_TRUE(FormatItem(hashes::Format::Des)->isChecked()) << "DES at the first start";
  const std::string why_no_servers = PrivateServers::Unavailable();
  const std::string docroot = dir.File("site"), command = dir.File("command"), htpasswd = docroot + "/.htpasswd";
  mkdir(docroot.c_str(), 0755);
  WriteBytes(docroot + "/index.html", "<p>inside</p>\n");
  form->AuthUserFile->setText(QString::fromStdString(htpasswd));
  const char* const names[] = {"des", "apr1", "sha512", "bcrypt"};
  for (std::size_t pass = 0; pass < 2 * std::size(kFormats); ++pass) {
    const bool utf8 = pass >= std::size(kFormats);
    const FormatCase& f = kFormats[pass % std::size(kFormats)];
    WriteBytes(dir.File("users.csv"), utf8 ? Utf8(kUsers) : kUsers);
    Choose(f.format, utf8);
    {
      ScriptedRandom random;
      const hashes::TScopedRandomSource scoped(random);
      LoadPath(dir.File("users.csv"));
      Click(form->CreateEnc);
      dialogs.confirms = {true};  // to replace the last pass's .htpasswd
      SaveTo(docroot);
    }
    ScriptedRandom random;
    const hashes::TScopedRandomSource scoped(random);
    EXPECT_EQ(cli::Run({"build", dir.File("users.csv"), "-o", command, "--format", names[static_cast<int>(f.format)], "--encoding",
                        utf8 ? "utf8" : "sjis", "--cost", "4", "--rounds", "1000", "--auth-user-file", htpasswd, "--classic", "--replace"}),
              0);
    for (const char* file : {"/.htpasswd", "/.htaccess", "/passwd.txt"})
      EXPECT_EQ(ReadBytes(command + file), ReadBytes(docroot + file)) << f.shape << file << (utf8 ? " UTF-8" : "");
    const std::vector<std::string> lines = text::SplitLines(ReadBytes(htpasswd));
    ASSERT_EQ(lines.size(), 3u);
    // Right, wrong, and in the other encoding (which only 山田 has), and none.
    std::vector<std::optional<PrivateServers::Credentials>> requests = {std::nullopt};
    for (int r = 1; r <= 3; ++r) {
      const auto sent = [&](table::Column c, bool as_utf8) {
        const std::string sjis(Table().CellText(c, r));
        return as_utf8 ? Utf8(sjis) : sjis;
      };
      const std::string user = sent(table::Column::Key, utf8), password = sent(table::Column::Value, utf8);
      const std::string& line = lines[static_cast<std::size_t>(r - 1)];
      const std::string hash = line.substr(user.size() + 1);
      EXPECT_EQ(line.substr(0, user.size() + 1), user + ":");
      EXPECT_TRUE(std::regex_match(hash, std::regex(f.shape))) << hash;
      EXPECT_TRUE(AprAccepts(password, hash)) << line;
      EXPECT_TRUE(!f.crypt_checks || CryptAccepts(password, hash)) << line;
      requests.push_back(PrivateServers::Credentials{user, password});
      requests.push_back(PrivateServers::Credentials{user, "x" + password});
      requests.push_back(PrivateServers::Credentials{sent(table::Column::Key, !utf8), sent(table::Column::Value, !utf8)});
    }
    if (!why_no_servers.empty()) continue;
    const std::vector<int> expected = {401, 200, 401, 200, 200, 401, 401, 200, 401, 200};
    PrivateServers servers(docroot, htpasswd);
    for (const auto server : {PrivateServers::kApache, PrivateServers::kNginx}) {
      const std::string where = std::string(PrivateServers::Name(server)) + " " + f.shape + (utf8 ? " UTF-8\n" : "\n") + servers.ErrorLog(server);
      EXPECT_EQ(servers.Statuses(server, "/", requests), expected) << where;
      EXPECT_EQ(servers.Statuses(server, "/.htpasswd", {std::nullopt}), std::vector<int>{403}) << where;
    }
  }
  if (!why_no_servers.empty()) GTEST_SKIP() << why_no_servers;
}

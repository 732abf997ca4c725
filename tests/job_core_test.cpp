// The job without a window: what is saved is what the rows say now, an opened .htpasswd goes back
// line for line, changes made on disk meanwhile are merged, and the records beside it survive.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "core/background.h"
#include "core/encoding.h"
#include "core/encrypt_password.h"
#include "core/hash_workers.h"
#include "core/job.h"
#include "hashes/hashes.h"
#include "platform/file_ops.h"
#include "test_files.h"
#include "text/exceptions.h"
#include "text/messages.h"
#include "text/string_list.h"

using namespace std::string_literals;
using Lines = std::vector<std::string>;

namespace {

class Job : public testing::Test {
 public:
  bool Build() { return job.Build([](std::size_t, std::size_t) { return true; }); }
  // Plans a save into the temporary folder and makes it, answering every question with yes.
  core::TSavePlan SaveAll() {
    core::TSavePlan plan = job.PlanSave(dir.path());
    job.Save(plan, true);
    return plan;
  }
  void Add(const std::string& key, const std::string& value) { table.InsertEntry(key, value, true); }
  // The users of the saved passwd.txt, each password checked by Apache's own check against the
  // saved .htpasswd, which has no other user.
  std::set<std::string> SavedUsersVerify() {
    const std::map<std::string, std::string> users = ServerUsers(ReadBytes(dir.File(".htpasswd")));
    std::set<std::string> names;
    for (const std::string& line : text::SplitLines(ReadBytes(dir.File("passwd.txt")))) {
      const std::string user = line.substr(0, line.find('='));
      EXPECT_TRUE(users.count(user) && AprAccepts(line.substr(line.find('=') + 1), users.at(user))) << line;
      names.insert(user);
    }
    EXPECT_EQ(names.size(), users.size());
    return names;
  }

  TempDir dir;
  table::TUserList table;
  core::TJob job{table};
};

// Reads that fail, or of a file that ends five bytes in, whatever its size when the read began,
// and comes two bytes at a time, as a read may give less than it was asked for; every other call
// is cut short by a signal before it reads, and leaves errno so for the calls after it.
class ShortReads : public platform::TFileCalls {
 public:
  explicit ShortReads(bool fail) : fail_(fail) {}
  ssize_t Read(int fd, void* buffer, std::size_t size) override {
    if (fail_ || (interrupted_ = !interrupted_)) return errno = fail_ ? EIO : EINTR, -1;
    const ssize_t n = TFileCalls::Read(fd, buffer, std::min<std::size_t>({size, 2, 5 - read_}));
    read_ += n > 0 ? static_cast<std::size_t>(n) : 0;
    return n;
  }

 private:
  bool fail_, interrupted_ = false;
  std::size_t read_ = 0;
};

}  // namespace

TEST_F(Job, OnlyTheResultOfTheRowsAsTheyStandIsSaved) {
  // Each change after a build makes its files stale; the next build has the change in every file.
  const struct {
    const char* label;
    std::function<void(Job&)> change;
    std::set<std::string> users;  // in .htpasswd and passwd.txt after the next build
  } cases[] = {
      {"a removed user", [](Job& t) { t.table.RemoveRow(2); }, {"alice"}},
      {"a new password", [](Job& t) { t.table.SetCellText(table::Column::Value, 2, "changed"); }, {"alice", "mallory"}},
      {"an added user", [](Job& t) { t.Add("carol", "cpw"); }, {"alice", "mallory", "carol"}},
      {"another format", [](Job& t) { t.job.SetSettings({hashes::Format::Apr1, {}, false}); }, {"alice", "mallory"}},
      {"another realm", [](Job& t) { t.job.SetAuth("/srv/.htpasswd", "Members"); }, {"alice", "mallory"}},
  };
  for (const auto& c : cases) {
    table.Strings().Clear();
    Add("alice", "apw");
    Add("mallory", "mpw");
    ASSERT_TRUE(Build());
    const std::string first = job.Result()->htpasswd;
    EXPECT_TRUE(job.CanSave()) << c.label;
    // A build under way when the change comes makes nothing: its files hold the rows as they were.
    const std::unique_ptr<core::TBuildRun> run = job.StartBuild();
    c.change(*this);
    while (!run->WaitFor(std::chrono::milliseconds(10))) {
    }
    EXPECT_FALSE(job.FinishBuild(*run)) << c.label;
    EXPECT_FALSE(job.CanSave()) << c.label;
    EXPECT_THROW(job.PlanSave(dir.path()), std::logic_error) << c.label;
    ASSERT_TRUE(Build());
    EXPECT_NE(job.Result()->htpasswd, first) << c.label << ": every build draws new salts";
    SaveAll();
    EXPECT_EQ(SavedUsersVerify(), c.users) << c.label;
  }
  // The realm and format of the last case reached .htaccess and the hashes.
  EXPECT_TRUE(ReadBytes(dir.File(".htaccess")).starts_with("AuthUserFile /srv/.htpasswd\r\n"));
  // A cancelled build makes nothing, and writes no generated password back, even when its last
  // hash came in before the cancel was looked at.
  Add("eve", "");
  const std::unique_ptr<core::TBuildRun> cancelled = job.StartBuild();
  while (!cancelled->WaitFor(std::chrono::milliseconds(10))) {
  }
  cancelled->Cancel();
  EXPECT_TRUE(!job.FinishBuild(*cancelled) && !job.CanSave() && table.CellText(table::Column::Value, 3).empty());
  // A setting the library refuses fails the hashing: no row is left with an empty hash.
  EXPECT_THROW(core::HashJobs({core::THashJob{"pw", {}, "$9$"}}, [](std::size_t) { return true; }), std::invalid_argument);
  // Enough rows for several chunks of the batch hash on several threads, each back in its place.
  table.Strings().Clear();
  for (int i = 0; i < 9000; ++i) table.Strings().Add("user" + std::to_string(i) + "=" + (i % 3 ? "pw" + std::to_string(i) : ""));
  ASSERT_TRUE(Build());
  SaveAll();
  EXPECT_EQ(SavedUsersVerify().size(), 9000u);
  table.Strings().Hold(0, "$apr1$");
  EXPECT_FALSE(job.CanSave()) << "a hash held anew makes the build stale";
  // Apache takes the realm as one quoted argument: a quote in it would break every request.
  job.SetAuth("/srv/.htpasswd", "Members \"VIP\" area");
  EXPECT_EQ(FailureMessage<text::Exception>([&] { job.StartBuild(); }), Sjis("AuthName に「\"」は使えません。Apache が .htaccess を読めなくなります"));
}

// A credential file gives rows up to its first line the table refuses, or says why it cannot be
// read; the rows build and are saved as they stand (in UTF-8, composed).
TEST_F(Job, ACredentialFileGivesItsRowsOrIsRefusedWhole) {
  const std::string fields = "alice,wonderland\r\n\"eve, jr\",\"pass,word\"\r\n" + Sjis("山田太郎,やまだ123") +
                             "\r\n\r\nbob,\r\ncarol  \"two words\" ignored\ndave smith\r\xEF\xBB\xBF" "bom,x\n,\nfrank,pw,more";
  // Kanji, kana (with a voiced mark), full-width letters, half-width katakana and ASCII; and the
  // same with the voiced marks apart, lines ended by LF.
  const std::string kanji = "山田太郎,パスワード\r\nがぎぐ,ｶﾅ\r\nＡＢＣ,full\r\nalice,wonderland\r\n";
  const std::string decomposed = "山田太郎,パスワード\nか\u3099き\u3099く\u3099,ｶﾅ\nＡＢＣ,full\nalice,wonderland\n";
  const Lines kanji_rows = {Sjis("山田太郎=パスワード"), Sjis("がぎぐ=ｶﾅ"), Sjis("ＡＢＣ=full"), "alice=wonderland"};
  const auto not_utf8 = [](const char* line, const char* byte) {
    return Sjis(std::string(line) + " 行目の " + byte + " バイト目からが UTF-8 として正しくないため、読み込めません");
  };
  const auto lacking = [](const char* line, const char* code) {
    return Sjis(std::string(line) + " 行目の文字 U+" + code + " はShift-JISで表せないため、読み込めません");
  };
  const auto cannot = [](const std::string& path, const std::string& why) { return Sjis("ファイル「" + path + "」を開けません。" + why); };
  mkfifo(dir.File("fifo.csv").c_str(), 0600);
  WriteBytes(dir.File("\xC3\xBC.csv"), "b,2\r\n");  // u-umlaut, which code page 932 lacks, in the name
  const std::string emoji = dir.File("\xF0\x9F\x98\x80\xC3\xBC.csv");
  enum { kPlain, kReadFails, kShrinks };
  const struct {
    const char* label;
    bool utf8;
    std::string bytes;  // of users.csv
    Lines rows;
    std::string message;
    std::string path = "";  // read instead of users.csv
    int calls = kPlain;
  } cases[] = {
      {"fields", false, fields, {"alice=wonderland", "eve, jr=pass,word", Sjis("山田太郎=やまだ123"), "bob=", "carol=two words", "dave=smith",
                                 "\xEF\xBB\xBF" "bom=x", "=", "frank=pw"}, ""},
      {"fields in UTF-8", true, fields, {"alice=wonderland", "eve, jr=pass,word"}, not_utf8("3", "1")},
      {"a refused first line", false, "a=b,1\r\n", {}, kEqualsMessage},
      {"an empty file", true, "", {}, ""},
      {"a name again in other case", false, "alice,1\r\nbob,2\r\nAlice,3\r\n", {"alice=1", "bob=2"},
       Sjis("ユーザ「Alice」は「alice」と大文字・小文字しか違わないため、同じユーザとみなされます。どちらかの名前を変えてください")},
      {"a name with an equals sign", true, "alice,1\r\na=b,2\r\n", {"alice=1"}, kEqualsMessage},
      {"Shift-JIS", false, Sjis(kanji), kanji_rows, ""},
      {"UTF-8", true, kanji, kanji_rows, ""},
      {"UTF-8 with its byte-order mark", true, "\xEF\xBB\xBF" + kanji, kanji_rows, ""},
      {"decomposed", true, decomposed, kanji_rows, ""},
      {"beyond the code page", true, "a,1\r\n\r\n𠮷野家,2\r\n", {"a=1"}, lacking("3", "20BB7")},
      {"a Latin letter after an odd count of bytes", true, "a,1\r\nusersæ,x\r\n", {"a=1"}, lacking("2", "00E6")},
      // A wave dash would be stored as the full-width tilde, and come back as another character.
      {"a wave dash", true, "a,1\r\n10〜20,x\r\n", {"a=1"}, lacking("2", "301C")},
      {"a euro sign", true, "a,1\r\n€,x\r\n", {"a=1"}, lacking("2", "20AC")},
      {"gone", false, "", {}, cannot(dir.File("gone.csv"), "そのファイルかフォルダがありません。名前と場所を確かめてください"), dir.File("gone.csv")},
      {"a folder", false, "", {}, cannot(dir.path(), "それはフォルダです。ファイルを選んでください"), dir.path()},
      {"a FIFO does not wait for a writer", false, "", {}, cannot(dir.File("fifo.csv"), "通常のファイルではありません"), dir.File("fifo.csv")},
      {"a name the code page cannot hold has a stand-in", false, "", {}, cannot(dir.path() + "/??.csv", "そのファイルかフォルダがありません。名前と場所を確かめてください"), emoji},
      {"and loads like any other", false, "", {"b=2"}, "", dir.File("\xC3\xBC.csv")},
      {"a read error", false, "a,1\r\n", {}, cannot(dir.File("users.csv"), "入出力エラーです。ディスクや接続を確かめてください"), "", kReadFails},
      {"a file that shrinks while it is read gives what was read", false, "a,1\r\nb,2\r\n", {"a=1"}, "", "", kShrinks},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    table.Strings().Clear();
    job.SetSettings({hashes::Format::Des, {}, c.utf8});
    WriteBytes(dir.File("users.csv"), c.bytes);
    const std::string path = c.path.empty() ? dir.File("users.csv") : c.path;
    // Reads the file through the file calls the case gives.
    const std::string message = [&] {
      ShortReads short_reads(c.calls == kReadFails);
      platform::TFileCalls plain;
      const platform::TScopedFileCalls scoped(c.calls == kPlain ? plain : short_reads);
      return FailureMessage<text::Exception>([&] { job.LoadCredentials(path); });
    }();
    EXPECT_EQ(message, c.message);
    // A file refused at any line leaves the table as it was.
    EXPECT_EQ(table.Strings().Lines(), c.message.empty() ? c.rows : std::vector<std::string>{});
    if (table.Strings().Count() > 0) {
      ASSERT_TRUE(Build());
      SaveAll();
      const std::string rows = table.Strings().Text();
      EXPECT_EQ(ReadBytes(dir.File("passwd.txt")), c.utf8 ? Utf8(rows) : rows);
    }
  }
  EXPECT_EQ(FailureMessage<text::Exception>([] { text::TStringList({"x"}).Get(1); }), Sjis("リストのインデックスが範囲を超えています (1)"));
  // What a front end names apart from the sentence: the file, the line, the system's error number.
  job.SetSettings({hashes::Format::Des, {}, true});
  table.Strings().Clear();
  EXPECT_TRUE(Build()) << "an empty table builds in UTF-8 as in Shift-JIS";
  WriteBytes(dir.File("users.csv"), "a,1\r\nb,\xFF\r\n");
  for (const auto& [path, facts] : {std::pair{dir.File("users.csv"), ":2:0"}, {dir.File("gone.csv"), ":0:2"}, {dir.File("fifo.csv"), ":0:0"}}) {
    table.Strings().Clear();
    EXPECT_EQ(Caught<text::Exception>([&] { job.LoadCredentials(path); }).facts, path + facts);
  }
  // Bytes taken as Shift-JIS that are no character cannot leave as UTF-8: the build stops, and a
  // text of several lines is named by the line that holds them.
  table.Strings().Clear();
  table.Strings().Add("ok=1");
  table.Strings().Add("\x81\x7F=2");
  job.SetSettings({hashes::Format::Des, {}, true});
  EXPECT_TRUE(FailureMessage<text::Exception>([&] { job.StartBuild(); }).starts_with(Sjis("文字にならないバイトを含む"))) << "before hashing";
  EXPECT_FALSE(job.CanSave());
  EXPECT_EQ(FailureMessage<text::Exception>([] { core::OutputBytes("\x82\xA0\r\nx\x81\x7F\r\nok\r\n", true); }),
            text::FormatMessage(messages::SNoUtf8Form, {"x\x81\x7F"}));
}

// The threads of this process and its children, the ended ones not yet reaped among them.
std::pair<std::size_t, std::size_t> ThreadsAndChildren() {
  namespace fs = std::filesystem;
  const auto threads = static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/task"), {}));
  std::size_t children = 0;
  for (const fs::directory_entry& process : fs::directory_iterator("/proc")) {
    std::ifstream in(process.path() / "stat");
    std::string stat, state;
    long parent = 0;
    // "pid (command) state parent ...": the command may hold spaces and ")", so its last ")" ends it.
    if (!std::getline(in, stat) || stat.rfind(')') == std::string::npos) continue;
    std::istringstream(stat.substr(stat.rfind(')') + 1)) >> state >> parent;
    children += parent == ::getpid();
  }
  return {threads, children};
}

// Whether the process is back to `idle` within a generous deadline.
bool BackTo(std::pair<std::size_t, std::size_t> idle) {
  for (int i = 0; i < 1000 && ThreadsAndChildren() != idle; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return ThreadsAndChildren() == idle;
}

// A run gives what the libraries give on their own, each hash in its place, and a check made
// apart answers as one made here; nothing of either is left running afterwards.
TEST(HashRun, GivesWhatTheLibrariesGive) {
  const auto idle = ThreadsAndChildren();
  std::vector<core::THashJob> jobs;
  const hashes::Format formats[] = {hashes::Format::Des, hashes::Format::Apr1, hashes::Format::Sha512, hashes::Format::Bcrypt};
  for (int i = 0; i < 12; ++i) jobs.push_back(core::DrawHashJob("pw" + std::to_string(i), formats[i % 4], {4, 1000}));
  const std::vector<std::string> made = *core::HashJobs(jobs, [](std::size_t) { return true; });
  for (std::size_t i = 0; i < jobs.size(); ++i)
    if (i % 4 == 1)
      EXPECT_TRUE(made[i].starts_with(jobs[i].setting) && AprAccepts(jobs[i].password, made[i])) << made[i];
    else
      EXPECT_EQ(made[i], Crypt(jobs[i].password, jobs[i].setting)) << i;
  const std::string sha512 = made[2], des = made[0];
  const struct {
    std::string password, hash;
    hashes::Verdict verdict;
  } checks[] = {{"pw2", sha512, hashes::Verdict::Match},
                {"pw0", sha512, hashes::Verdict::Mismatch},
                {"pw0", des, hashes::Verdict::Match},
                {"pw0", "$6$x", hashes::Verdict::Uncheckable}};
  for (const auto& c : checks) EXPECT_EQ(core::CheckApart(c.password, c.hash), c.verdict) << c.hash;
  EXPECT_TRUE(BackTo(idle));
}

// However long its hashes take, a run that is cancelled, dropped or failed leaves no thread or
// process computing, round after round; nor does a dropped background check.
TEST(HashRun, GivingUpLeavesNothingComputing) {
  const auto idle = ThreadsAndChildren();
  std::vector<core::THashJob> jobs;
  for (int i = 0; i < 5; ++i) jobs.push_back(core::DrawHashJob("pw", hashes::Format::Sha512, {4, hashes::kMaxSha512Rounds}));
  for (int round = 0; round < 4; ++round) {
    auto run = std::make_unique<core::THashRun>(jobs);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(ThreadsAndChildren(), idle) << "under way";
    if (round % 2) {
      run->Cancel();
      EXPECT_TRUE(BackTo(idle) && !run->Finished()) << round;
    } else {
      run.reset();
      EXPECT_TRUE(BackTo(idle)) << round;
    }
  }
  // A job the library refuses fails the run at once, and the others are not hashed to their end.
  jobs.insert(jobs.begin(), core::THashJob{"pw", {}, "$9$"});
  EXPECT_THROW(core::HashJobs(jobs, [](std::size_t) { return true; }), std::invalid_argument);
  EXPECT_TRUE(BackTo(idle));
  {
    core::TBackground<hashes::Verdict> check([hash = "$6$rounds=999999999$salt$" + std::string(86, 'a')] {
      return core::CheckApart("pw", hash);
    });
    for (int i = 0; i < 1000 && ThreadsAndChildren().second == idle.second; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(ThreadsAndChildren().second, idle.second + 1) << "the check under way";
  }
  EXPECT_TRUE(BackTo(idle));
}

// A signal sent to the process while a thread holds it back waits for that thread: a worker that
// took it instead would end the process in the middle of a save. Each worker goes back to user
// space between its rounds, where a signal it could take would be handled.
TEST(HashRun, WorkersTakeNoSignalMeantForTheProcess) {
  static std::atomic<int> taken{0};
  std::signal(SIGUSR1, [](int) { ++taken; });
  std::atomic<int> rounds{0};
  std::atomic<bool> done{false};
  core::StartHashWorkers(2, [&] { return ++rounds, std::this_thread::sleep_for(std::chrono::milliseconds(1)), !done; });
  sigset_t usr1, before;
  sigemptyset(&usr1), sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &usr1, &before);
  kill(getpid(), SIGUSR1);
  for (const int from = rounds; rounds < from + 8;) std::this_thread::yield();
  EXPECT_EQ(taken, 0);
  done = true;
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  EXPECT_EQ(taken, 1) << "the holding thread takes it when it lets it in";
  std::signal(SIGUSR1, SIG_DFL);
}

TEST_F(Job, AnOpenedFileGoesBackLineForLineUnlessChanged) {
  const std::string alice = "alice:" + Apr1("apw", "abcdefgh");
  const std::string sha256 = Crypt("spw", "$5$saltsalt");
  // Lines a server skips or reads in its own way, each kept where it stands.
  const std::string file = "\xE3\x82\xAB\xE3\x82\x99" "\xE3\x82\xB9\xE3\x83\x88:" + Apr1("g", "abcdefgh") + "\n# managed by ops\n" + alice +
                           "\r\n\r\nsha:" + sha256 + "\nuser4:pass4\r\nalice:" + Apr1("old", "12345678") + "\nname=with:" +
                           Apr1("x", "abcdefgh") + "\n" +
                           "\xEF\xA4\xA9:" + Apr1("f", "abcdefgh") + "\nuser\xC3\xA6:" + Apr1("u", "abcdefgh");
  WriteBytes(dir.File(".htpasswd"), file);
  for (const bool utf8 : {false, true}) {
    for (const hashes::Format format : {hashes::Format::Des, hashes::Format::Bcrypt}) {
      job.SetSettings({format, {4, 1000}, utf8});
      job.OpenHtpasswd(dir.File(".htpasswd"));
      // Opened in either mode, then built in the other: nothing is changed, so nothing is rewritten.
      job.SetSettings({format, {4, 1000}, !utf8});
      ASSERT_TRUE(Build());
      EXPECT_EQ(job.Result()->htpasswd, file) << utf8;
    }
  }
  EXPECT_EQ(table.Strings().Held(2), sha256) << "a SHA-256 crypt line is a user like any other";
  // A login is looked up as the servers look it up, by the bytes of the name's line: the decomposed
  // name as the file has it, not as the table shows it.
  EXPECT_EQ(job.HashForLogin("\xE3\x82\xAB\xE3\x82\x99" "\xE3\x82\xB9\xE3\x83\x88").value_or(""), Apr1("g", "abcdefgh"));
  EXPECT_FALSE(job.HashForLogin("ガスト")) << "composed, another name to a server";
  // One user changed, one renamed (a new user at the end), one removed: only their lines change.
  job.SetSettings({hashes::Format::Des, {}, false});
  job.OpenHtpasswd(dir.File(".htpasswd"));
  table.SetCellText(table::Column::Value, 2, "new");
  table.SetCellText(table::Column::Key, 3, "sha2");
  table.RemoveRow(5);
  ASSERT_TRUE(Build());
  std::vector<std::string> lines = text::SplitLines(job.Result()->htpasswd);
  ASSERT_EQ(lines.size(), 8u) << "alice's later line goes with her new password";
  EXPECT_EQ(lines[1], "# managed by ops");
  EXPECT_TRUE(lines[2].starts_with("alice:") && AprAccepts("new", lines[2].substr(6))) << lines[2];
  EXPECT_EQ(lines[4], "user4:pass4") << "a plain-text line is a user like any other";
  EXPECT_EQ(lines[6], "user\xC3\xA6:" + Apr1("u", "abcdefgh"));
  EXPECT_EQ(lines[7], "sha2:" + sha256) << "a hash does not depend on the name";
  EXPECT_EQ(job.Result()->htpasswd_shown, text::JoinLines(lines)) << "the screen's lines end alike, whatever the file's";
  // Servers tell ALICE from alice; a name they would split or skip is not written into their file.
  Add("ALICE", "pw");
  for (const std::string name : {"a:b", "#c", " d"}) {
    table.SetCellText(table::Column::Key, table.RowCount() - 1, name);
    EXPECT_EQ(FailureMessage<text::Exception>([&] { Build(); }).substr(0, 12 + name.size()), Sjis("ユーザ名「") + name + Sjis("」")) << name;
  }
  table.Strings().Clear();
  job.ForgetOpened();
  Add("alice", "pw");
  EXPECT_THROW(Add("ALICE", "pw"), text::Exception) << "a table of new users is unique ignoring case";

  // A file that cannot be read as lines is refused whole, naming the line, and leaves the table as it was.
  const std::pair<std::string, std::string> refused[] = {
      {alice + "\nbob:\0x\n"s, Sjis("2 行目に NUL バイトがあるため、.htpasswd として読めません")},
      {alice + "\nbob:" + std::string(1 << 20, 'a') + "\n", text::FormatMessage(messages::SLongLine, {"2"})},
  };
  for (const auto& [bytes, message] : refused) {
    WriteBytes(dir.File("bad"), bytes);
    const TCaught caught = Caught<text::Exception>([&] { job.OpenHtpasswd(dir.File("bad")); });
    EXPECT_EQ(caught.message + "|" + caught.facts, message + "|" + dir.File("bad") + ":2:0");
    EXPECT_TRUE(table.Strings().Lines() == std::vector<std::string>{"alice=pw"} && !job.Opened());
  }
}

TEST_F(Job, ChangesOnDiskAreMergedAndEveryLossIsAskedFor) {
  const std::string base = "alice:" + Apr1("a1", "aaaaaaaa") + "\nb:" + Apr1("b1", "bbbbbbbb") + "\nmallory:" + Apr1("m1", "mmmmmmmm") + "\n";
  WriteBytes(dir.File(".htpasswd"), base);
  WriteBytes(dir.File("passwd.txt"), "b\r\nb=b1\r\nmallory=m1\r\nstale=x\r\n");
  WriteBytes(dir.File(".htaccess"), "AuthUserFile /srv/site/.htpasswd\nAuthName \"Members\"\nRewriteRule ^x$ y\n");
  const core::THtaccessSettings beside = job.OpenHtpasswd(dir.File(".htpasswd"));
  EXPECT_EQ(beside.auth_user_file.value_or("") + " " + beside.auth_name.value_or(""), "/srv/site/.htpasswd Members");
  // Meanwhile another program adds dave, removes mallory and changes alice's password.
  const std::string theirs = "alice:" + Apr1("a2", "cccccccc") + "\nb:" + Apr1("b1", "bbbbbbbb") + "\ndave:" + Apr1("d1", "dddddddd") + "\n";
  WriteBytes(dir.File(".htpasswd"), theirs);
  Add("carol", "c1");
  job.SetAuth("/srv/site/.htpasswd", "Members");
  ASSERT_TRUE(Build());
  core::TSavePlan plan = job.PlanSave(dir.path());
  EXPECT_TRUE(plan.conflicts.empty() && plan.changes.removed.empty() && plan.changes.added == 1);
  EXPECT_TRUE(plan.htaccess_differs) << "a hand-edited .htaccess is not replaced without a question";
  job.Save(plan, false);
  std::map<std::string, std::string> users = ServerUsers(ReadBytes(dir.File(".htpasswd")));
  EXPECT_EQ(users.size(), 4u);
  EXPECT_TRUE(AprAccepts("a2", users.at("alice")) && AprAccepts("d1", users.at("dave")) && AprAccepts("c1", users.at("carol")));
  EXPECT_EQ(users.count("mallory"), 0u);
  EXPECT_TRUE(ReadBytes(dir.File(".htaccess")).find("RewriteRule") != std::string::npos);
  EXPECT_EQ(ReadBytes(dir.File("passwd.txt")), "b=b1\r\ncarol=c1\r\n") << "held users keep their record";
  EXPECT_EQ(table.Strings().Count(), 4) << "the saved file is the one now opened";

  // Removing a user asks; a user changed on both sides asks; a change made after the plan refuses.
  table.RemoveRow(2);  // b
  table.SetCellText(table::Column::Value, 1, "a3");
  const std::string now = ReadBytes(dir.File(".htpasswd"));
  std::string other = now;
  other.replace(other.find(users.at("alice")), users.at("alice").size(), Apr1("a4", "eeeeeeee"));
  WriteBytes(dir.File(".htpasswd"), other);
  ASSERT_TRUE(Build());
  plan = job.PlanSave(dir.path());
  EXPECT_EQ(plan.changes.removed, std::vector<std::string>{"b"});
  EXPECT_EQ(plan.conflicts, std::vector<std::string>{"alice"});
  WriteBytes(dir.File(".htpasswd"), now);
  EXPECT_NE(FailureMessage<text::Exception>([&] { job.Save(plan, true); }), "");
  EXPECT_EQ(ReadBytes(dir.File(".htpasswd")), now) << "nothing written";
  // Asked again and answered yes, the .htaccess there gives way to the built one.
  job.Save(job.PlanSave(dir.path()), true);
  EXPECT_EQ(ReadBytes(dir.File(".htaccess")), job.Result()->htaccess);
  // Saved again as it stands, each user keeps its record, the first line's too; the .htaccess
  // there is the built one now, so nothing asks about it.
  ASSERT_TRUE(Build());
  plan = job.PlanSave(dir.path());
  EXPECT_FALSE(plan.htaccess_differs);
  TempDir elsewhere;  // whose .htpasswd is no version of the opened one: ours replaces it
  WriteBytes(elsewhere.File(".htpasswd"), "zed:x\n");
  EXPECT_EQ(job.PlanSave(elsewhere.path()).changes.removed, std::vector<std::string>{"zed"});
  job.Save(plan, false);
  EXPECT_EQ(ReadBytes(dir.File("passwd.txt")), "alice=a3\r\ncarol=c1\r\n");
}

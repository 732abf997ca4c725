// vastelo-cli run as a user runs it: the built binary, stdin from a pipe or a terminal, real files compared byte
// for byte, and apr-util's check (what Apache runs) as the judge of every hash.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "cli/cli.h"
#include "cli/interface.h"
#include "platform/file_ops.h"
#include "server_harness.h"
#include "test_files.h"

namespace {

// The command, its state in the folder, and the system's error texts in Japanese whatever the locale.
TChild Start(const TempDir& dir, const std::vector<std::string>& args, const std::string& input = "",
             const std::function<void(pid_t)>& before_input = {}, int stdout_fd = -1) {
  return StartProgram(VASTELO_CLI, args, {{"XDG_STATE_HOME", dir.File("state")}, {"LC_ALL", "C"}}, input, before_input, stdout_fd);
}

TRun Cli(const TempDir& dir, const std::vector<std::string>& args, const std::string& input = "") {
  return Finish(Start(dir, args, input));
}

// Every file under the folder with its mode and bytes, to see that nothing at all was written.
std::string Snapshot(const TempDir& dir) {
  std::string all;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
    all += entry.path().string() + " " + std::to_string(FileMode(entry.path())) + "\n" +
           (entry.is_regular_file() ? ReadBytes(entry.path()) : "") + "\n";
  return all;
}

const std::string kYamada = "\xE5\xB1\xB1\xE7\x94\xB0", kYamadaPassword = "\xE3\x82\x84\xE3\x81\xBE\xE3\x81\xA0";  // 山田, やまだ

}  // namespace

TEST(CliCommands, EachCommandChangesItsUsersAndNoOtherLine) {
  for (const bool utf8 : {true, false}) {
    TempDir dir;
    const std::string site = dir.File("site"), htpasswd = site + "/.htpasswd";
    const auto encoded = [&](const std::string& text) { return utf8 ? text : Sjis(text); };
    WriteBytes(dir.File("users.csv"), encoded("alice,wonderland\nbob,\n" + kYamada + "," + kYamadaPassword + "\n"));
    const std::string kSato = "\xE4\xBD\x90\xE8\x97\xA4";  // 佐藤
    WriteBytes(dir.File("more.csv"), encoded("carol,c2\neve,\n" + kSato + ",sato\n"));
    // The users each step gives a password ("?": a generated one it tells, "-": removed).
    const struct { std::vector<std::string> args; std::string input; int code; std::map<std::string, std::string> changes; } steps[] = {
        {{"build", dir.File("users.csv"), "-o", site, "--format", utf8 ? "bcrypt" : "des", "--cost", "4"}, "", 0,
         {{"alice", "wonderland"}, {"bob", "?"}, {encoded(kYamada), encoded(kYamadaPassword)}}},
        {{"add", htpasswd, "carol", "--format", "apr1"}, "c1\r\n", 0, {{"carol", "c1"}}},
        {{"add", htpasswd, "ALICE", "--format", "sha512", "--rounds", "1000"}, "new\n", 0, {{"ALICE", "new"}}},  // another user
        {{"add", htpasswd, kYamada, "--cost", "4"}, kYamadaPassword, 0, {{encoded(kYamada), encoded(kYamadaPassword)}}},
        {{"add", htpasswd, "bob", "--generate", "--cost=4"}, "", 0, {{"bob", "?"}}},
        // Generated passwords go to a file of their own, or to stdout.
        {utf8 ? std::vector<std::string>{"import", htpasswd, dir.File("more.csv"), "--format", "des", "--passwd-out", dir.File("gen.txt")}
              : std::vector<std::string>{"import", htpasswd, dir.File("more.csv"), "--format", "des"},
         "", 0, {{"carol", "c2"}, {"eve", "?"}, {encoded(kSato), "sato"}}},
        {{"add", htpasswd, "--format", "apr1", "--", "-x"}, "x1\n", 0, {{"-x", "x1"}}},  // a name after "--" is no option
        {{"delete", htpasswd, "Eve", "bob"}, "", 6, {}},                   // letter case makes another name
        {{"delete", htpasswd, "eve", "bob", "eve"}, "", 0, {{"bob", "-"}, {"eve", "-"}}},  // not in the file's order, one twice
        {{"verify", htpasswd, "ALICE"}, "new\n", 0, {}},                  {{"verify", htpasswd, kYamada}, kYamadaPassword + "\n", 0, {}},
        {{"verify", htpasswd, "alice"}, "new\n", 3, {}},           {{"verify", htpasswd, "zed"}, "x\n", 6, {}},
        {{"delete", htpasswd, kYamada}, "", 0, {{encoded(kYamada), "-"}}},
        {{"check", htpasswd, "--min-rounds", "999"}, "", 2, {}},          {{"check", htpasswd, "more"}, "", 2, {}},
        {{"import", htpasswd, dir.File("more.csv"), "more"}, "", 2, {}},
        {{"--version"}, "", 0, {}},                                       {{"--help"}, "", 0, {}},
        {{"frob"}, "", 2, {}},                                            {{"add", htpasswd}, "", 2, {}},
        {{"add", htpasswd, "x", "extra"}, "", 2, {}},                     {{"add", htpasswd, "x", "--format"}, "", 2, {}},                     {{"add", htpasswd, "x", "--bogus"}, "", 2, {}},                   {{"add", htpasswd, "x", "--format", "md5"}, "", 2, {}},
        {{"add", htpasswd, "x", "--cost", "18"}, "", 2, {}},              {{"build", dir.File("users.csv")}, "", 2, {}},
        {{"build", dir.File("users.csv"), "more.csv", "-o", site}, "", 2, {}},
    };
    EXPECT_EQ(Cli(dir, {}).err, "vastelo-cli: コマンドがありません（vastelo-cli --help で使い方を表示します）\n") << "the program's name is no command";
    std::map<std::string, std::string> passwords, before;
    for (auto step : steps) {
      if (!utf8 && step.args[0] != "check")
        step.args.insert(std::find(step.args.begin(), step.args.end(), "--"), {"--encoding", "sjis"});
      const std::string label = (utf8 ? "utf8 " : "sjis ") + step.args[0] + " " + step.args.back();
      const TRun run = Cli(dir, step.args, step.input);
      ASSERT_EQ(run.code, step.code) << label << ": " << run.err;
      // One line on stderr per failure, none otherwise.
      EXPECT_EQ(run.err.empty(), step.code < 2) << label << ": " << run.err;
      EXPECT_TRUE(step.args[0] == "--version" ? run.out.starts_with("vastelo-cli ") : step.args[0] == "--help" ? run.out.starts_with("使い方:\n")
                                                                                                          : step.args[0] != "verify" || step.code != 0 || run.out == "パスワードは一致します\n") << label << ": " << run.out;
      EXPECT_TRUE(run.err.empty() || (run.err.starts_with("vastelo-cli: ") && run.err.find('\n') == run.err.size() - 1))
          << label << ": " << run.err;
      for (const auto& [user, password] : step.changes) {
        if (password == "-") {
          passwords.erase(user);
        } else if (password != "?") {
          passwords[user] = password;
        } else {
          // Told on stdout, else in the --passwd-out file, else in passwd.txt.
          const std::string told = run.out + (std::filesystem::exists(dir.File("gen.txt")) ? ReadBytes(dir.File("gen.txt")) : "") +
                                   ReadBytes(site + "/passwd.txt");
          const std::size_t at = told.find(user + "=");
          ASSERT_NE(at, std::string::npos) << label << ": " << told;
          passwords[user] = told.substr(at + user.size() + 1, 8);
        }
      }
      const std::map<std::string, std::string> users = ServerUsers(ReadBytes(htpasswd));
      ASSERT_EQ(users.size(), passwords.size()) << label;
      for (const auto& [user, password] : passwords) {
        EXPECT_TRUE(AprAccepts(password, users.at(user))) << label << ": " << user;
        EXPECT_TRUE(user != "bob" || !std::ranges::count(step.args, "--cost=4") || users.at(user).starts_with("$2y$04$")) << "--cost=4 as --cost 4";
        EXPECT_TRUE(step.changes.count(user) || !before.count(user) || users.at(user) == before.at(user)) << label << user;
      }
      before = users;
    }
    EXPECT_EQ(std::make_pair(FileMode(site), FileMode(dir.path())), std::make_pair(0755u, 0700u)) << "a new folder the server can enter, above it none changed";
    EXPECT_TRUE(!utf8 || (FileMode(dir.File("gen.txt")) == 0600u && ReadBytes(dir.File("gen.txt")).starts_with("eve="))) << "only the generated password";
    EXPECT_NE(ReadBytes(site + "/passwd.txt").find(encoded(kYamada + "=" + kYamadaPassword) + "\r\n"), std::string::npos);
  }
}

// The help is made from the declared options: each line fits a terminal of 100 columns (a Japanese
// character taking two), no line is broken inside an option's name, and no text is lost on the way.
TEST(CliHelp, FitsATerminalAndSaysEveryOptionWhole) {
  const std::string help = cli::Help();
  std::string joined;
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) {
    std::size_t columns = 0;
    for (const char c : line) columns += (c & 0xC0) == 0x80 ? 0 : static_cast<unsigned char>(c) < 0x80 ? 1 : 2;
    EXPECT_LE(columns, 100u) << line;
    EXPECT_FALSE(line.ends_with('-') || line.ends_with(' ')) << line;
    joined += line;
  }
  std::erase(joined, ' ');
  for (const cli::TOption& option : cli::Options()) {
    std::string said = cli::CommandsTaking(option.name) + ":" + option.help;
    std::erase(said, ' ');
    EXPECT_NE(joined.find(said), std::string::npos) << option.name;
  }
}

TEST(CliCommands, BadInputWritesNothing) {
  TempDir dir;
  const std::string htpasswd = dir.File("site/.htpasswd"), big = "$2y$18$" + std::string(53, 'a');
  std::filesystem::create_directory(dir.File("site"));
  WriteBytes(htpasswd, "plain:text\nalice:" + std::string("$apr1$abcdefgh$") + std::string(22, 'a') + "\nbig:" + big + "\n");
  const std::pair<const char*, const char*> files[] = {
      {"bad.csv", "a,b\nc,\xff\n"}, {"empty.csv", ""}, {"dup.csv", "x,1\nX,2\nx,3\n"}, {"file", "x"}, {"plain.csv", "plain,x\n"}, {"first.csv", "\xff,x\n"}, {"hash.csv", "#alice,pw\n"},
      {"tagged", "x:{PLAIN}pw\n"}, {"new.csv", "alice,\nbob,\n"}};
  for (const auto& [name, bytes] : files) WriteBytes(dir.File(name), bytes);
  // For new passwords, a stdout full, or a pipe with nobody to read it.
  int closed[2];
  ASSERT_EQ(pipe2(closed, O_CLOEXEC), 0);
  close(closed[0]);
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  const std::string unshown = "新しいパスワードを標準出力に書けないため、保存しません";
  const struct {
    std::vector<std::string> args; std::string input; int code;
    std::size_t lines = 1;  // on stderr
    std::string said = "";  // in it or on stdout: where a file's fault is, as an editor's jump list reads it
    int out = -1;           // stdout, when not a pipe of the test's
  } cases[] = {
      {{"build", dir.File("bad.csv"), "-o", dir.File("out")}, "", 4, 1, dir.File("bad.csv") + ":2: 2 "},   {{"build", dir.File("empty.csv"), "-o", dir.File("out")}, "", 4},
      {{"build", dir.File("plain.csv"), "-o", dir.File("file/x")}, "", 4, 1, "/file/x\" を開けません"}, {{"build", dir.File("first.csv"), "-o", dir.File("out")}, "", 4, 1, dir.File("first.csv") + ":1: "},
      {{"add", htpasswd, "bob"}, "\n", 4},
      {{"add", htpasswd, "bob", "--format", "des", "--encoding", "sjis"}, "\xF0\x9F\x98\x80\n", 4, 1, "文字 U+1F600 は"},
      // The name and password rules are the core's (NameProblem, PasswordProblem): one of each, told
      // in the rule's words (the edit would refuse such a name too, saying less).
      {{"add", htpasswd, "x\nroot"}, "x\n", 4, 1, "ユーザ名に制御文字か「:」があります"},
      {{"add", htpasswd, "x"}, std::string("p\0w\n", 4), 4, 1, "パスワードに NUL、CR、LF は使えません"},
      {{"add", dir.File("none/.htpasswd"), "bob"}, "x\n", 4},
      {{"import", htpasswd, dir.File("dup.csv")}, "", 4, 1, dir.File("dup.csv") + ":3: 「x」は 1 行目にも"},
      {{"delete", htpasswd, "zed", "alice", "nobody"}, "", 6, 2},
      {{"verify", dir.File("gone"), "alice"}, "", 4, 1, "「" + dir.File("gone") + "」を開けません。そのファイルかフォルダがありません。"},
      {{"verify", htpasswd, "plain"}, "text\n", 3, 1, "パスワードが一致しません"},
      // Where the servers answer differently, verify gives each one's answer.
      {{"verify", dir.File("tagged"), "x"}, "pw\n", 3, 1, "Apache: 一致しません\nnginx: 一致します\n"},
      {{"verify", htpasswd, "big", "--server", "nginx"}, "x\n", 4, 1, htpasswd + ":3: ハッシュの形式 bcrypt"},
      {{"build", dir.File("plain.csv"), "-o", dir.File("site")}, "", 4, 1, "/site/.htpasswd\" がすでにあります"},
      {{"build", dir.File("plain.csv"), "-o", dir.File("new"), "--auth-name", "a\"b"}, "", 4, 1, "--auth-name: "},
      {{"build", dir.File("plain.csv"), "-o", dir.File("new"), "--auth-user-file", "/a\nRequire all granted"}, "", 4},
      {{"build", dir.File("hash.csv"), "-o", dir.File("new")}, "", 4, 1, dir.File("hash.csv") + ":1: 「#」で始まる"},
      {{"build", dir.File("dup.csv"), "-o", dir.File("new"), "--classic"}, "", 4, 1, dir.File("dup.csv") + ":2: ユーザ「X」は「x」と大文字"},
      // New passwords are out, or nothing is saved: a stdout that takes none is a failure of the
      // command (not a signal), before the save.
      {{"add", htpasswd, "carol", "--generate", "--format", "des"}, "", 4, 1, unshown, full},
      {{"add", htpasswd, "carol", "--generate", "--format", "des"}, "", 4, 1, unshown, closed[1]},
      {{"import", htpasswd, dir.File("new.csv"), "--format", "des"}, "", 4, 1, unshown, full},
      {{"import", htpasswd, dir.File("new.csv"), "--format", "des"}, "", 4, 1, unshown, closed[1]},
  };
  const std::string before = Snapshot(dir);
  for (const auto& c : cases) {
    const TRun run = Finish(Start(dir, c.args, c.input, {}, c.out));
    EXPECT_EQ(run.code, c.code) << c.args[0] << " " << c.args[2] << ": " << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), static_cast<long>(c.lines)) << run.err;
    EXPECT_NE((run.out + run.err).find(c.said), std::string::npos) << run.out << run.err;
    EXPECT_EQ(Snapshot(dir), before) << c.args[0] << " " << c.args[2];
  }
  close(full), close(closed[1]);
}

TEST(CliSignals, AnInterruptDuringTheSaveWaitsForTheWholeSet) {
  TempDir dir;
  // Once the first file of the set is made, an interrupt waits for the whole set, leaving no
  // hidden file behind; a set this large takes a while to write and flush.
  std::string users;
  for (int i = 0; i < 200'000; ++i) users += "u" + std::to_string(i) + ",p\n";
  WriteBytes(dir.File("many.csv"), users);
  const TempDir site;
  const int watch = inotify_init1(IN_CLOEXEC);
  inotify_add_watch(watch, site.path().c_str(), IN_CREATE);
  const TChild child = Start(dir, {"build", dir.File("many.csv"), "-o", site.path(), "--format", "des"});
  pollfd created{watch, POLLIN, 0};
  EXPECT_EQ(poll(&created, 1, 60'000), 1);
  kill(child.pid, SIGINT);
  close(watch);
  const TRun run = Finish(child);
  EXPECT_TRUE(run.code == 0 || run.code == 128 + SIGINT) << run.err;
  EXPECT_EQ(site.Listing(), ".htaccess .htpasswd passwd.txt");
  EXPECT_EQ(std::ranges::count(ReadBytes(site.File(".htpasswd")), '\n'), 200'000);
}

// What each line means to the servers is the core's (UserFileCheck); here, how the command tells it.
TEST(CliCheck, NamesEachFindingByFileAndLineAndExitsOne) {
  TempDir dir;
  const std::string strong = "strong:$2y$10$" + std::string(53, 'a');
  WriteBytes(dir.File(".htpasswd"), strong + "\ndes:abJnggxhB/yWI\n");
  const TRun run = Cli(dir, {"check", dir.File(".htpasswd")});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, dir.File(".htpasswd") + ":2: 「des」: DES はパスワードの先頭 8 バイトの下位 7 ビットしか使いません\n");
  EXPECT_EQ(Cli(dir, {"check", dir.File(".htpasswd"), "--min-cost", "4"}).code, 1);
  WriteBytes(dir.File(".htpasswd"), strong + "\r\n# note\r\n");
  EXPECT_EQ(Cli(dir, {"check", dir.File(".htpasswd")}).code, 0);
}

// On a terminal of its own the command asks twice, with the echo off while the password is typed
// and back on afterwards, also when a signal ends it at the prompt; two passwords that differ, or
// none, change nothing; a hash that takes seconds shows its count.
TEST(CliTerminal, APasswordIsTypedTwiceUnseenAndAMismatchWritesNothing) {
  TempDir dir;
  const std::string htpasswd = dir.File(".htpasswd");
  WriteBytes(htpasswd, "alice:abJnggxhB/yWI\n");
  // The second answer, or Ctrl+C instead, and the exit status (128 + a signal's number).
  for (const auto& [again, code] : {std::pair{"other", 4}, {"secret", 0}, {"", 128 + SIGINT}}) {
    const std::string before = ReadBytes(htpasswd);
    // The terminal's own side; its settings are the command's side's, as Linux gives them.
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      setenv("XDG_STATE_HOME", dir.File("state").c_str(), 1);
      execl(VASTELO_CLI, VASTELO_CLI, "add", htpasswd.c_str(), "carol", "--cost", "16", nullptr);
      _exit(127);
    }
    std::string shown;
    const auto echoing = [&] {
      termios t{};
      tcgetattr(terminal, &t);
      return (t.c_lflag & ECHO) != 0;
    };
    // Reads what the terminal shows until `text` is there, the command's side is closed, or nothing
    // comes for 30 seconds.
    const auto read_until = [&](const std::string& text) {
      char buffer[256];
      for (pollfd p{terminal, POLLIN, 0}; shown.find(text) == std::string::npos && poll(&p, 1, 30000) > 0;) {
        const ssize_t n = read(terminal, buffer, sizeof buffer);
        if (n <= 0) break;
        shown.append(buffer, static_cast<std::size_t>(n));
      }
    };
    // Typing before the echo is off would be flushed away with the echo's change.
    const auto type_after = [&](const std::string& text, const std::string& typed) {
      read_until(text);
      ASSERT_NE(shown.find(text), std::string::npos) << shown;
      for (int i = 0; echoing() && i < 6000; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      (void)!write(terminal, typed.data(), typed.size());
    };
    type_after("パスワード: ", "secret\n");
    type_after("パスワード（確認）: ", *again ? std::string(again) + "\n" : "\x03");  // Ctrl+C: the terminal sends SIGINT
    read_until("\x01");  // all it shows, to its end
    kill(pid, SIGKILL);  // one that still waits for input has failed already
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_NE(shown.find(*again ? "パスワード: \r\nパスワード（確認）: \r\n" : "パスワード: \r\nパスワード（確認）: "), std::string::npos)
        << "each answer ends its line";
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), code) << shown;
    EXPECT_TRUE(echoing()) << "the terminal is left as it was";
    EXPECT_EQ(shown.find("secret"), std::string::npos) << "nothing typed is echoed";
    EXPECT_EQ(shown.find("\r作成中 0/1\r作成中 1/1\r作成中 1/1\r\n") != std::string::npos, code == 0) << "a hash of seconds shows its count";
    EXPECT_EQ(shown.find("パスワードが一致しません") != std::string::npos, code == 4) << shown;
    const std::map<std::string, std::string> users = ServerUsers(ReadBytes(htpasswd));
    EXPECT_TRUE(code == 0 ? users.count("carol") && AprAccepts("secret", users.at("carol")) : ReadBytes(htpasswd) == before);
    close(terminal);
  }
}

// What build writes, served by Apache with Debian's own modules and by nginx: the users log in,
// the password files and passwd.txt are never served, and the AuthName and an AuthUserFile with a
// blank reach Apache as they were given.
TEST(CliRealServers, BuildWritesWhatAStockApacheServes) {
  if (const std::string why = PrivateServers::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  TempDir dir;
  const std::string site = dir.File("my site"), realm = "Staff 社員 'web'";
  WriteBytes(dir.File("users.csv"), "alice,wonderland\n\"john smith\",pw one\n");
  const TRun run = Cli(dir, {"build", dir.File("users.csv"), "-o", site, "--format", "apr1", "--auth-name", realm});
  ASSERT_EQ(run.code, 0) << run.err;
  PrivateServers servers(site, site + "/.htpasswd", true);
  using Credentials = PrivateServers::Credentials;
  const std::vector<std::optional<Credentials>> requests = {Credentials{"alice", "wonderland"}, Credentials{"john smith", "pw one"},
                                                            Credentials{"alice", "x"}, std::nullopt};
  for (const auto server : {PrivateServers::kApache, PrivateServers::kNginx}) {
    const std::string where = std::string(PrivateServers::Name(server)) + "\n" + servers.ErrorLog(server);
    // In (with no page to serve: 404 or 403), or asked to log in.
    std::vector<int> answers = servers.Statuses(server, "/", requests);
    for (int& answer : answers) answer = answer == 403 || answer == 404 ? 200 : answer;
    EXPECT_EQ(answers, (std::vector<int>{200, 200, 401, 401})) << where;
  }
  // nginx reads no .htaccess: what it serves of a folder is its own configuration's.
  for (const char* file : {"/.htpasswd", "/.htaccess", "/passwd.txt"})
    EXPECT_EQ(servers.Statuses(PrivateServers::kApache, file, {requests[0]}).front(), 403) << file;
  EXPECT_EQ(servers.Realm(PrivateServers::kApache, "/"), realm);
}

// Every path to one file waits for one lock, whichever folder the path is typed in; a password is
// asked for before the lock is taken; --wait bounds the wait and a wait is told after a second.
TEST(CliConcurrency, EveryPathToAFileTakesOneLockAndNoPromptHoldsIt) {
  TempDir dir;
  const std::string real = dir.File("real/.htpasswd"), link = dir.File("other/.htpasswd");
  std::filesystem::create_directories(dir.File("real")), std::filesystem::create_directories(dir.File("other"));
  WriteBytes(dir.File("users.csv"), "carol,c\n");
  ASSERT_EQ(Cli(dir, {"add", real, "alice", "--format", "apr1"}, "a\n").code, 0);
  std::filesystem::create_symlink("../real/.htpasswd", link);
  const std::string waiting = "をほかの実行が変更しているため、終わるのを待っています\n", gave_up = "秒待っても終わらないため、何もせずに終わります\n";
  {
    // The test holds the folder's lock, as the command takes it.
    const int held = open(dir.File("real").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    // Through a link in another folder, each command waits for the file's lock (add: the waiters below).
    const struct { std::vector<std::string> args; std::string said; } rows[] = {
        {{"delete", link, "alice", "--wait=0"}, gave_up},
        {{"import", link, dir.File("users.csv"), "--format", "des", "--wait", "0"}, gave_up},
        {{"build", dir.File("users.csv"), "-o", dir.File("other"), "--replace", "--wait", "0"}, gave_up},
        {{"add", real, "bob", "--format", "apr1", "--wait", "2"}, waiting},  // told after a second, gives up after two
    };
    for (const auto& row : rows) {
      const std::string before = ReadBytes(real);
      const TRun run = Cli(dir, row.args, "b\n");
      EXPECT_EQ(run.code, 4) << row.args[0] << " " << row.args[1] << ": " << run.err;
      EXPECT_NE(run.err.find(row.said), std::string::npos) << run.err;
      EXPECT_TRUE(row.args.back() != "2" || run.err.ends_with(gave_up)) << run.err;
      EXPECT_EQ(ReadBytes(real), before) << row.args[0];
    }
    // Without --wait runs wait for as long as it takes, and say so. Twenty of them, half through the
    // link (which a save follows only to a file that is there), then take the lock in turn: none
    // saves over another.
    std::vector<TChild> waiters;
    for (int i = 0; i < 20; ++i)
      waiters.push_back(Start(dir, {"add", i % 2 ? link : real, "user" + std::to_string(i), "--cost", "4"}, "pw" + std::to_string(i) + "\n"));
    std::string told;
    char buffer[512];
    for (ssize_t n; told.find(waiting) == std::string::npos && (n = read(waiters[1].err, buffer, sizeof buffer)) > 0;) told.append(buffer, static_cast<std::size_t>(n));
    EXPECT_EQ(told, "vastelo-cli: \"" + link + "\" " + waiting);
    close(held);
    for (const TChild& waiter : waiters) EXPECT_EQ(Finish(waiter).code, 0);
  }
  // A run at its password prompt holds no lock: another run saves meanwhile.
  const TChild prompted = Start(dir, {"add", real, "erin", "--format", "apr1"}, "e\n", [&](pid_t pid) {
    std::string wchan;
    for (int i = 0; i < 3000 && wchan.find("pipe_read") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10)), wchan = ReadBytes("/proc/" + std::to_string(pid) + "/wchan");
    const TRun other = Cli(dir, {"add", link, "frank", "--format", "apr1", "--wait", "0"}, "f\n");
    EXPECT_EQ(other.code, 0) << other.err;
  });
  EXPECT_EQ(Finish(prompted).code, 0);
  const std::map<std::string, std::string> users = ServerUsers(ReadBytes(real));
  EXPECT_EQ(users.size(), 23u);
  for (const char* name : {"alice", "erin", "frank"}) EXPECT_TRUE(users.count(name)) << name;
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(users.count("user" + std::to_string(i)) && AprAccepts("pw" + std::to_string(i), users.at("user" + std::to_string(i)))) << i;
  EXPECT_TRUE(std::filesystem::is_symlink(link)) << "the link is followed, not replaced";
}

// As root, in a folder where another user may put files, no file of theirs is filled or kept:
// whatever they planted there is refused, and a file made anew is root's alone.
TEST(CliRootSafety, RootWritesNoFileAnotherUserPlanted) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  TempDir dir;
  const std::string sticky = dir.File("sticky"), own = dir.File("own"), admin = dir.File("rootonly/admin.htpasswd");
  for (const std::string& folder : {sticky, own, dir.File("rootonly")}) std::filesystem::create_directory(folder);
  chmod(sticky.c_str(), 01777), chown(own.c_str(), 65534, 65534);
  // Files they planted.
  for (const auto& [path, bytes] : {std::pair{sticky + "/new-staff.txt", ""}, {sticky + "/.htpasswd", "alice:abJnggxhB/yWI\n"}})
    WriteBytes(path, bytes), chown(path.c_str(), 65534, 65534), chmod(path.c_str(), 0666);
  WriteBytes(admin, "root:abJnggxhB/yWI\n");
  symlink(admin.c_str(), (own + "/.htpasswd").c_str()), lchown((own + "/.htpasswd").c_str(), 65534, 65534);
  WriteBytes(dir.File("users.csv"), "carol,\n");
  WriteBytes(dir.File("site.htpasswd"), "");
  const std::string site = dir.File("site.htpasswd");
  const struct { std::vector<std::string> args; std::string said; } rows[] = {
      {{"import", site, dir.File("users.csv"), "--format", "des", "--passwd-out", sticky + "/new-staff.txt"}, "はほかのユーザのファイルのため"},
      {{"add", sticky + "/.htpasswd", "bob", "--format", "des"}, "root では書き込みません"},
      {{"add", own + "/.htpasswd", "bob", "--format", "des"}, "は持ち主が信頼できないため"},  // a link of the folder's owner into root's folder
  };
  const std::string before = Snapshot(dir);
  for (const auto& row : rows) {
    const TRun run = Cli(dir, row.args, "b\n");
    EXPECT_EQ(run.code, 4) << row.args.back() << ": " << run.err;
    EXPECT_NE(run.err.find(row.said), std::string::npos) << run.err;
    EXPECT_EQ(Snapshot(dir), before) << row.args.back();
  }
  // A file made anew there is root's, and clear text is for root alone.
  ASSERT_EQ(Cli(dir, {"import", site, dir.File("users.csv"), "--format", "des", "--passwd-out", sticky + "/fresh.txt"}).code, 0);
  struct stat st{};
  stat((sticky + "/fresh.txt").c_str(), &st);
  EXPECT_EQ(std::make_pair(st.st_uid, st.st_mode & 07777), std::make_pair(0u, 0600u));
}

// Another program that changes the file while the save writes and flushes its new file (the first
// flush of the save): it replaces the file, or rewrites it where it lies without a lock, as
// Apache's htpasswd does. The change is found at the last moment, and kept.
struct TOtherWriter : platform::TFileCalls {
  std::function<void()> act;
  int Fsync(int fd) override {
    if (act) std::exchange(act, {})();
    return TFileCalls::Fsync(fd);
  }
};

TEST(CliConcurrency, AFileChangedUpToTheCommitIsNotSavedOver) {
  TempDir dir;
  const std::string htpasswd = dir.File(".htpasswd"), theirs = "alice:abJnggxhB/yWI\ncarol:abJnggxhB/yWI\n";
  WriteBytes(dir.File("users.csv"), "dave,pw\n");
  const auto rewrite = [&](const std::string& bytes, bool keep_time) {
    struct stat st{};
    stat(htpasswd.c_str(), &st);
    WriteBytes(htpasswd, bytes);  // truncated and written where it lies
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (keep_time) utimensat(AT_FDCWD, htpasswd.c_str(), times, 0);
  };
  const struct { const char* what; std::string first; std::function<void()> act; } rows[] = {
      {"replaced", "alice:abJnggxhB/yWI\n", [&] { WriteBytes(htpasswd + ".new", theirs), rename((htpasswd + ".new").c_str(), htpasswd.c_str()); }},
      {"rewritten in place", "alice:abJnggxhB/yWI\n", [&] { rewrite(theirs, false); }},
      // Same size and time: only the bytes tell.
      {"same size and time", "alice:abJnggxhB/yWI\nbobby:abJnggxhB/yWI\n", [&] { rewrite(theirs, true); }},
      // Read while the other program had it truncated: its whole file comes after.
      {"read half written", "", [&] { rewrite(theirs, false); }},
  };
  for (const auto& row : rows) {
    WriteBytes(htpasswd, row.first);
    TOtherWriter other;
    other.act = row.act;
    const platform::TScopedFileCalls scoped(other);
    EXPECT_EQ(cli::Run({"import", htpasswd, dir.File("users.csv"), "--format", "des", "--wait", "0"}), 4) << row.what;
    EXPECT_EQ(ReadBytes(htpasswd), theirs) << row.what;
    EXPECT_EQ(dir.Listing(), ".htpasswd users.csv") << row.what;
  }
}

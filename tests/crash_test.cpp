// A real vastelo-cli killed at every call it makes through the file seam, then run again: what the
// servers read is the old or the new set of users, the next run says it undid the save, and
// nothing of ours is left.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/server_lines.h"
#include "hashes/server_check.h"
#include "test_files.h"

namespace {

// Runs the crashable command in `root`/site, its state under `root`/state.
TRun RunCli(const TempDir& root, const std::vector<std::string>& args, const std::string& input, long die_at = 0) {
  const auto counting = die_at ? std::pair{std::string("VASTELO_DIE_AT"), std::to_string(die_at)} : std::pair{std::string("VASTELO_COUNT_TO"), root.File("count")};
  return Finish(StartProgram(VASTELO_CRASH_CLI, args, {{"XDG_STATE_HOME", root.File("state")}, counting}, input, {}, -1, root.File("site")));
}

// Every user as each server reads the file: "Apache name" to hash.
std::map<std::string, std::string> Served(const std::string& bytes) {
  std::map<std::string, std::string> users;
  for (const hashes::Server server : hashes::kServers)
    for (const core::TServerLine& line : core::ReadAs(server, bytes))
      if (line.kind == core::TServerLine::Kind::User)
        users.emplace(std::string(hashes::ServerName(server)) + " " + line.name, line.hash);
  return users;
}

}  // namespace

TEST(Crash, AKillAtAnyCallOfASaveIsUndoneByTheNextRun) {
  std::string old_text;
  for (int i = 0; i < 3000; ++i) old_text += "u" + std::to_string(10000 + i) + ":$apr1$abcdefgh$0123456789abcdefghijkl\n";
  const std::string old_list = "u10000=old\n";
  // What is saved, whether .htpasswd has a second hard link (so is written in place), and the user
  // whose line the save changes.
  const struct TScenario { const char* label; std::vector<std::string> args; bool linked; std::string user; } scenarios[] = {
      {"replaced, a user added", {"add", ".htpasswd", "newbie", "--format", "apr1"}, false, "newbie"},
      {"in place, a user added", {"add", ".htpasswd", "newbie", "--format", "apr1"}, true, "newbie"},
      {"in place, a password changed mid-file", {"add", ".htpasswd", "u11500", "--format", "apr1"}, true, "u11500"},
      {"in place, a shorter hash mid-file", {"add", ".htpasswd", "u11500", "--format", "des"}, true, "u11500"},
      {"replaced with a list of passwords", {"import", ".htpasswd", "../users.csv", "--format", "apr1", "--passwd-out", "passwd.txt"}, false, "newbie"}};
  const auto old_users = Served(old_text);
  for (const TScenario& s : scenarios) {
    SCOPED_TRACE(s.label);
    const bool list = s.args[0] == "import";
    const auto prepare = [&](const TempDir& root) {
      std::filesystem::create_directory(root.File("site"));
      WriteBytes(root.File("site/.htpasswd"), old_text);
      if (s.linked) link(root.File("site/.htpasswd").c_str(), root.File("site/link").c_str());
      if (list) WriteBytes(root.File("site/passwd.txt"), old_list), chmod(root.File("site/passwd.txt").c_str(), 0600);
      WriteBytes(root.File("users.csv"), "newbie,\n");
    };
    // The users of the save's new text: the old ones, with `user` given a hash of its own.
    const auto is_new = [&](std::map<std::string, std::string> users) {
      auto others = old_users;
      for (const std::string& key : {"Apache " + s.user, "nginx " + s.user}) {
        if (!users.count(key) || (old_users.count(key) && users[key] == old_users.at(key))) return false;
        users.erase(key), others.erase(key);
      }
      return users == others;
    };
    long calls = 0;
    {
      TempDir root;
      prepare(root);
      EXPECT_EQ(RunCli(root, s.args, "pw\n").code, 0);
      calls = std::stol(ReadBytes(root.File("count")));
    }
    std::size_t worst_lost = 0;
    for (long k = 1; k <= calls; ++k) {
      SCOPED_TRACE(testing::Message() << "killed at call " << k << " of " << calls);
      TempDir root;
      prepare(root);
      EXPECT_EQ(RunCli(root, s.args, "pw\n", k).code, 128 + SIGKILL);
      // While cut: no server sees a user that neither text has.
      const auto cut = Served(ReadBytes(root.File("site/.htpasswd")));
      std::size_t lost = 0;
      for (const auto& [key, hash] : old_users) lost += !cut.count(key) && !key.ends_with(" " + s.user);
      for (const auto& [key, hash] : cut)
        EXPECT_TRUE(key.ends_with(" " + s.user) || (old_users.count(key) && old_users.at(key) == hash)) << key;
      worst_lost = std::max(worst_lost, lost);
      EXPECT_TRUE(!list || ReadBytes(root.File("site/passwd.txt")) == old_list || cut.count("Apache " + s.user))
          << "the list of passwords is renamed last: it never names one that no server knows yet";
      const std::string site_before = Listing(root.File("site")), state_before = Listing(root.File("state/vastelo"));
      const bool left = site_before.find(".ht.") != std::string::npos || state_before.find("journal-") != std::string::npos;
      // The next run, as fault 1 met it: an add that would otherwise take the file as it stands.
      const TRun next = RunCli(root, {"add", ".htpasswd", "zed", "--format", "apr1"}, "pw\n");
      EXPECT_EQ(next.code, 0) << next.err;
      const bool noted = next.err.find("前回中断された保存") != std::string::npos;
      EXPECT_EQ(noted, left) << next.err;
      EXPECT_LE(std::count(next.err.begin(), next.err.end(), '\n'), 1) << next.err;
      auto after = Served(ReadBytes(root.File("site/.htpasswd")));
      EXPECT_TRUE(after.erase("Apache zed") && after.erase("nginx zed"));
      const bool now_new = is_new(after);
      EXPECT_TRUE(after == old_users || now_new) << "neither the old users nor the new ones";
      EXPECT_TRUE(!list || (ReadBytes(root.File("site/passwd.txt")) == old_list) != now_new) << "the list goes with the .htpasswd";
      EXPECT_EQ(Listing(root.File("site")), std::string(".htpasswd") + (s.linked ? " link" : "") + (list ? " passwd.txt" : ""));
      EXPECT_EQ(Listing(root.File("state/vastelo")), "") << "a journal was left";
      EXPECT_EQ(std::filesystem::hard_link_count(root.File("site/.htpasswd")), s.linked ? 2u : 1u) << "a leftover link would send the next save in place";
    }
    // Adding a user at the end, or a hash as long as the old, keeps every other user able to log
    // in throughout.
    EXPECT_TRUE(s.args[4] == "des" || worst_lost == 0) << worst_lost;
    EXPECT_GT(calls, 20);
  }
}

// A small tmpfs filled up: a save that needs room fails at once, naming the file and the full disk,
// with the old text whole; once room is made, the next run saves every user.
TEST(Crash, AFullDiskLeavesTheOldTextAndSaysSo) {
  for (const bool linked : {true, false}) {  // written in place, or replaced
    TempDir root;
    std::filesystem::create_directory(root.File("site"));
    if (mount("tmpfs", root.File("site").c_str(), "tmpfs", 0, "size=256k,mode=0755") != 0) GTEST_SKIP() << "no tmpfs may be mounted here";
    struct TMounted {
      std::string at;
      ~TMounted() { umount2(at.c_str(), MNT_DETACH); }
    } const mounted{root.File("site")};
    std::string old_text, csv;
    for (int i = 0; i < 1500; ++i) old_text += "u" + std::to_string(10000 + i) + ":$apr1$abcdefgh$0123456789abcdefghijkl\n";
    for (int i = 0; i < 200; ++i) csv += "n" + std::to_string(i) + ",pw" + std::to_string(i) + "\n";
    WriteBytes(root.File("site/.htpasswd"), old_text);
    WriteBytes(root.File("users.csv"), csv);
    if (linked) link(root.File("site/.htpasswd").c_str(), root.File("site/link").c_str());
    const int filler = open(root.File("site/filler").c_str(), O_WRONLY | O_CREAT, 0600);
    for (const std::string block(4096, 'x'); write(filler, block.data(), block.size()) > 0;) {
    }
    close(filler);
    const std::vector<std::string> import{"import", ".htpasswd", "../users.csv", "--format", "apr1"};
    const TRun full = RunCli(root, import, "");
    EXPECT_EQ(full.code, 4);
    EXPECT_EQ(full.err, "vastelo-cli: ディスクがいっぱいのため、ファイル \"" + root.File("site/.htpasswd") + "\" に書き込めません。ファイルは元のままです\n");
    EXPECT_TRUE(ReadBytes(root.File("site/.htpasswd")) == old_text) << "the old text is not whole";
    EXPECT_EQ(Listing(root.File("site")), linked ? ".htpasswd filler link" : ".htpasswd filler");
    unlink(root.File("site/filler").c_str());
    const TRun room = RunCli(root, import, "");
    EXPECT_EQ(room.code, 0) << room.err;
    EXPECT_EQ(Served(ReadBytes(root.File("site/.htpasswd"))).size(), 2u * 1700);
  }
}

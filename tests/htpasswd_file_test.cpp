#include "core/htpasswd_file.h"

#include <crypt.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>

#include "test_files.h"
#include "text/exceptions.h"
#include "text/messages.h"

using Names = std::vector<std::string>;

namespace {

// Hashes of the DES form, told apart by their digit.
std::string H(char digit) { return std::string(13, digit); }

}  // namespace

TEST(HtpasswdFileOpen, ShowsTheUsersBothServersReadAlikeAndKeepsTheRest) {
  crypt_data data{};
  const std::string sha256 = crypt_r("pw", "$5$rounds=1000$salt", &data), nfd = "\xE3\x81\x8B\xE3\x82\x99";  // か + ゛
  // Bytes, UTF-8 mode, the rows' keys, how many user lines are kept without a row.
  const std::tuple<std::string, bool, Names, std::size_t> cases[] = {
      {"# users\r\n\r\nalice:" + sha256 + "\r\nbob:" + H('1') + "\r\nuser4:pass4\r\nalice:" + H('2') + "\r\nAlice:" + H('3') +
           "\r\na=b:" + H('4') + "\r\nnocolon\r\n:" + H('5') + "\r\nx:\r\n",
       false, {"alice", "bob", "user4", "Alice", ""}, 3},
      {"  carol:" + H('1') + "\ndave:" + H('2') + "\\\nerin:" + H('3') + "\ncarol:" + H('4') + "\n", false, {}, 4},
      {"user\xC3\xA6:" + H('1') + "\n" + nfd + ":" + H('2') + "\n\xE3\x81\x8C:" + H('3') + "\n\x82\xA0:" + H('4'), true, {Sjis("が")}, 3},
      {"user\xC3\xA6:" + H('1') + "\n" + nfd + ":" + H('2') + "\n\x82\xA0:" + H('4'), false, {"user\xC3\xA6", nfd, "\x82\xA0"}, 0},
      {"\xEF\xBB\xBF" "alice:" + H('1') + "\r\nbob:" + H('2') + "\ncarol:" + H('3'), true, {"bob", "carol"}, 1},
      {"", false, {}, 0}};
  for (const auto& [bytes, utf8, keys, kept] : cases) {
    SCOPED_TRACE(testing::PrintToString(bytes) + (utf8 ? " in UTF-8" : ""));
    const core::TOpenedUsers opened = core::ReadOpenedUsers(bytes, utf8);
    Names got;
    for (const core::TOpenedUser& user : opened.users) got.push_back(user.key);
    EXPECT_EQ(got, keys);
    EXPECT_EQ(opened.kept, kept);
  }
  // A line of 1 MiB is read, one byte longer refused: the end is no part of a line. (A NUL byte and
  // the line's number, Job.AnOpenedFileGoesBackLineForLineUnlessChanged sees; that the encoding plays
  // no part, fuzz_htpasswd_open.)
  const std::string mib(1 << 20, 'a');
  EXPECT_EQ(core::ReadOpenedUsers("a:" + H('1') + "\n\n" + mib + "\r\n", false).users.size(), 1U);
  EXPECT_EQ(FailureMessage<text::Exception>([&] { core::ReadOpenedUsers("a\n\n" + mib + "a\r\n", true); }),
            text::FormatMessage(messages::SLongLine, {"3"}));
}

TEST(HtpasswdFileMerge, AppliesOurChangesToTheFileOnDisk) {
  const std::string base = "alice:A1\r\nbob:B1\r\nmallory:M1\r\n";
  using Changes = std::vector<core::TUserChange>;
  const std::optional<std::string> gone;
  const std::tuple<const char*, Changes, std::string, std::string, Names, Names> cases[] = {
      // Meanwhile dave was added, mallory removed and alice changed on disk; we added carol. Our
      // new lines end as their first line does. (A user changed on both sides is a conflict that
      // Job.ChangesOnDiskAreMergedAndEveryLossIsAskedFor asks about.)
      {"both sides", {{"carol", "C1"}}, "alice:A2\nbob:B1\ndave:D1\n", "alice:A2\nbob:B1\ndave:D1\ncarol:C1\n", {}, {"mallory"}},
      {"bob removed here, changed there", {{"bob", gone}}, "alice:A1\r\nbob:B2\r\nmallory:M1\r\n", "alice:A1\r\nmallory:M1\r\n",
       {"bob"}, {"bob"}},
      {"the same change", {{"mallory", gone}, {"bob", "B2"}}, "alice:A1\r\nbob:B2\n# new\n", "alice:A1\r\nbob:B2\n# new\n", {}, {"mallory"}},
      {"added on both sides", {{"eve", "E1"}}, base + "eve:E2\r\n", base + "eve:E1\r\n", {"eve"}, {}},
      {"a removed user's later line goes too", {{"alice", gone}}, base + "alice:A9\r\n", "bob:B1\r\nmallory:M1\r\n", {}, {"alice"}},
      {"names are exact bytes", {{"alice", "A2"}}, "Alice:X\r\n" + base, "Alice:X\r\nalice:A2\r\nbob:B1\r\nmallory:M1\r\n", {}, {}},
      {"a renamed user", {{"bob", gone}, {"robert", "B1"}}, base, "alice:A1\r\nmallory:M1\r\nrobert:B1\r\n", {}, {"bob"}}};
  for (const auto& [label, changes, theirs, expected, conflicts, removed] : cases) {
    SCOPED_TRACE(label);
    const core::TMerge merge = core::MergeUsers(base, theirs, changes);
    EXPECT_EQ(merge.bytes, expected);
    EXPECT_EQ(merge.conflicts, conflicts);
    EXPECT_EQ(core::CompareUsers(base, merge.bytes).removed, removed);
  }
}

TEST(HtpasswdFileHtaccess, ReadsTheSettingsAServerWouldUse) {
  using Setting = std::optional<std::string>;
  const std::tuple<std::string, Setting, Setting> cases[] = {
      {"AuthUserFile //.htpasswd\r\nAuthGroupFile /dev/null\r\nAuthName \"Protected_area\"\r\nAuthType Basic\r\n", "//.htpasswd", "Protected_area"},
      {"  authuserfile\t\"/srv/my site/.htpasswd\" \n\tAUTHNAME \"Say \\\"hi\\\" a\"b\\\"\nAuthName second\nAuthUserFile /x\n",
       "/srv/my site/.htpasswd", "Say \"hi\" a\"b\\"},  // Apache refuses a bare quote inside: it is kept, as is a last backslash
      {"AuthType x\nAuthNameX a\n# AuthName b\nAuthName plain\nAuthUserFile \"\"", "", "plain"},
      {"AuthName tail\"\r\nAuthUserFile \"", "\"", "tail\""},  // a quote only closes what one opened
      {"", std::nullopt, std::nullopt}};
  for (const auto& [bytes, auth_user_file, auth_name] : cases) {
    const core::THtaccessSettings settings = core::ReadHtaccessSettings(bytes);
    EXPECT_EQ(settings.auth_user_file, auth_user_file) << bytes;
    EXPECT_EQ(settings.auth_name, auth_name) << bytes;
  }
}

// Every text of the message table is Japanese, with ASCII only for names (servers, formats, files,
// directives, units, options) and access keys, and one that speaks of a line says which.
TEST(Messages, AreJapaneseAndNameTheLineTheySpeakOf) {
  std::ifstream table(VASTELO_SOURCE_DIR "/text/messages.txt");
  const std::set<std::string> names = {"Apache", "nginx", "htaccess", "htpasswd", "passwd.txt", "NUL", "CR", "LF", "root", "bcrypt", "DES", "SHA-", "SHA-crypt", "SSHA", "UTF-", "Shift-JIS",
                                       "MiB", "rounds", "vastelo-cli", "check", "AuthUserFile", "AuthName", "U", "y", "UTF-8", "SHA-1", "ASCII", "AuthGroupFile", "SHA-512", "ID", "CSV",
                                       "csv", "Vastelo", "Basic", "MIT", "License", "Qt", "apache", "sjis", "utf8", "help", "o", "DIR", "replace", "generate"};
  const std::regex word("[A-Za-z][A-Za-z0-9_.-]*");
  int texts = 0;
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line.starts_with('#')) continue;
    const std::string name = line.substr(0, line.find('\t'));
    std::string text = std::regex_replace(line.substr(line.find('\t') + 1), std::regex(R"(%[sd]|\\n|\(&[A-Z]\))"), " ");
    for (auto w = std::sregex_iterator(text.begin(), text.end(), word); w != std::sregex_iterator(); ++w)
      EXPECT_TRUE(names.contains(w->str())) << name << ": " << w->str();
    EXPECT_TRUE(line.find("行目") == std::string::npos || line.find("%s") != std::string::npos) << name;
    ++texts;
  }
  EXPECT_GT(texts, 70);
}

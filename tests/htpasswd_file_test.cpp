#include "core/htpasswd_file.h"

#include <crypt.h>
#include <gtest/gtest.h>

#include "test_files.h"
#include "text/exceptions.h"
#include "text/messages.h"

using namespace std::string_literals;
using core::THtpasswdLine;
using Names = std::vector<std::string>;

namespace {

// Hashes of the DES form, told apart by their digit.
std::string H(char digit) { return std::string(13, digit); }

// The kinds of a file's lines, one letter each: User, Skipped, unKnown hash, second name, unstorable (X).
std::string Kinds(const core::THtpasswdText& text) {
  std::string kinds;
  for (const THtpasswdLine& line : text.lines) kinds += "USKDX"[static_cast<int>(line.kind)];
  return kinds;
}

// Every User line as an untouched row, in file order: what opening and saving unchanged writes.
std::vector<core::TOutputLine> Untouched(const core::THtpasswdText& text) {
  std::vector<core::TOutputLine> rows;
  for (std::size_t i = 0; i < text.lines.size(); ++i)
    if (text.lines[i].kind == THtpasswdLine::Kind::User) rows.push_back({static_cast<int>(i), true, {}});
  return rows;
}

}  // namespace

TEST(HtpasswdFileParse, ClassifiesEveryLineAndWritesItBackByteForByte) {
  crypt_data data{};
  const std::string sha256 = crypt_r("pw", "$5$rounds=1000$salt", &data), nfd = "\xE3\x81\x8B\xE3\x82\x99";  // か + ゛
  const std::tuple<std::string, bool, std::string, Names> cases[] = {
      {"# users\r\n\r\nalice:" + sha256 + "\r\nbob:" + H('1') + "\r\nuser4:pass4\r\nalice:" + H('2') + "\r\nAlice:" + H('3') +
           "\r\na=b:" + H('4') + "\r\nnocolon\r\n:" + H('5') + "\r\n",
       false, "SSUUKDXXSU", {"alice", "bob", ""}},
      {"user\xC3\xA6:" + H('1') + "\n" + nfd + ":" + H('2') + "\n\xE3\x81\x8C:" + H('3') + "\n\x82\xA0:" + H('4'), true, "XUXX",
       {Sjis("が")}},
      {"user\xC3\xA6:" + H('1') + "\n" + nfd + ":" + H('2') + "\n\x82\xA0:" + H('4'), false, "UUU",
       {"user\xC3\xA6", nfd, "\x82\xA0"}},
      {"\xEF\xBB\xBF" "alice:" + H('1') + "\r\nbob:" + H('2') + "\ncarol:" + H('3'), true, "UUU", {"alice", "bob", "carol"}},
      {"\xEF\xBB\xBF" "alice:" + H('1') + "\nx\r", false, "US", {"\xEF\xBB\xBF" "alice"}},
      {"", false, "", {}}};
  for (const auto& [bytes, utf8, kinds, keys] : cases) {
    SCOPED_TRACE(testing::PrintToString(bytes) + (utf8 ? " in UTF-8" : ""));
    const core::THtpasswdText text = core::ParseHtpasswd(bytes, utf8);
    EXPECT_EQ(Kinds(text), kinds);
    Names got;
    for (const THtpasswdLine& line : text.lines)
      if (line.kind == THtpasswdLine::Kind::User) got.push_back(line.key);
    EXPECT_EQ(got, keys);
    EXPECT_EQ(text.newline, bytes.find("\r\n") < bytes.find('\n') ? "\r\n" : bytes.find('\n') < bytes.size() ? "\n" : "\r\n");
    EXPECT_EQ(core::ComposeHtpasswd(text, Untouched(text)), bytes);
  }
  // The decomposed name stays as it was written; a byte-order mark is no part of a name.
  EXPECT_EQ(core::ParseHtpasswd(nfd + ":" + H('1'), true).lines[0].bytes, nfd + ":" + H('1'));
  EXPECT_EQ(core::ParseHtpasswd("\xEF\xBB\xBF" "a:" + H('1'), true).lines[0].name, "a");

  const std::string mib(1 << 20, 'a');
  EXPECT_EQ(Kinds(core::ParseHtpasswd("a:" + H('1') + "\n\n" + mib + "\r\n", false)), "USS");  // the end is no part of a line
  const std::tuple<std::string, std::string_view, std::string> refused[] = {
      {"a:" + H('1') + "\nb\0:x\nc"s, messages::SNulByteLine, "2"},
      {"\0"s, messages::SNulByteLine, "1"},
      {"a\n\n" + mib + "a\r\n", messages::SLongLine, "3"}};
  for (const auto& [input, message, line] : refused)
    for (const bool utf8 : {false, true}) {
      const std::string& bytes = input;
      EXPECT_EQ(FailureMessage<text::Exception>([&] { core::ParseHtpasswd(bytes, utf8); }), text::FormatMessage(message, {line}));
    }
}

TEST(HtpasswdFileCompose, WritesOnlyWhatTheUserChanged) {
  // Lines: 0 comment, 1 alice, 2 bob, 3 alice again (shadowed), 4 comment, 5 carol without an end.
  const std::string opened = "# users\r\nalice:" + H('1') + "\r\nbob:" + H('2') + "\r\nalice:" + H('3') + "\r\n# end\r\ncarol:" + H('4');
  const core::THtpasswdText text = core::ParseHtpasswd(opened, false);
  ASSERT_EQ(Kinds(text), "SUUDSU");
  const core::TOutputLine alice{1, true, {}}, bob{2, true, {}}, carol{5, true, {}};
  const std::string tail = "\r\n# end\r\ncarol:" + H('4');
  const std::pair<std::vector<core::TOutputLine>, std::string> cases[] = {
      {{bob, carol}, "# users\r\nbob:" + H('2') + tail},  // removed with its shadowed line
      {{{1, false, "alicia:" + H('1')}, bob, carol}, "# users\r\nalicia:" + H('1') + "\r\nbob:" + H('2') + tail},
      {{alice, {2, false, "bob:" + H('9')}, carol}, "# users\r\nalice:" + H('1') + "\r\nbob:" + H('9') + "\r\nalice:" + H('3') + tail},
      {{alice, bob, {5, false, "carol:" + H('8')}}, "# users\r\nalice:" + H('1') + "\r\nbob:" + H('2') + "\r\nalice:" + H('3') + "\r\n# end\r\ncarol:" + H('8')},
      {{alice, bob, carol, {-1, false, "dave:" + H('5')}}, opened + "\r\ndave:" + H('5') + "\r\n"},
      {{bob, alice, carol}, "# users\r\nbob:" + H('2') + "\r\nalice:" + H('1') + "\r\nalice:" + H('3') + tail},
      {{carol}, "# users\r\n# end\r\ncarol:" + H('4')},
      {{}, "# users\r\n# end\r\n"}};
  for (const auto& [rows, expected] : cases) {
    EXPECT_EQ(core::ComposeHtpasswd(text, rows), expected);
  }
  // New lines end as the file's first line does.
  const core::THtpasswdText lf = core::ParseHtpasswd("a:" + H('1') + "\nb:" + H('2') + "\r\n", false);
  EXPECT_EQ(core::ComposeHtpasswd(lf, {{0, true, {}}, {1, true, {}}, {-1, false, "c:" + H('3')}}),
            "a:" + H('1') + "\nb:" + H('2') + "\r\nc:" + H('3') + "\n");
}

TEST(HtpasswdFileMerge, AppliesOurChangesToTheFileOnDisk) {
  const std::string base = "alice:A1\r\nbob:B1\r\nmallory:M1\r\n";
  const std::tuple<const char*, std::string, std::string, std::string, Names> cases[] = {
      // Meanwhile dave was added, mallory removed and alice changed on disk; we added carol. Our
      // new lines end as their first line does.
      {"both sides", base + "carol:C1\r\n", "alice:A2\nbob:B1\ndave:D1\n", "alice:A2\nbob:B1\ndave:D1\ncarol:C1\n", {}},
      {"alice changed twice", "alice:A3\r\nbob:B1\r\nmallory:M1\r\n", "alice:A2\r\nbob:B1\r\nmallory:M1\r\n",
       "alice:A3\r\nbob:B1\r\nmallory:M1\r\n", {"alice"}},
      {"bob removed here, changed there", "alice:A1\r\nmallory:M1\r\n", "alice:A1\r\nbob:B2\r\nmallory:M1\r\n", "alice:A1\r\nmallory:M1\r\n", {"bob"}},
      {"the same change", "alice:A1\r\nbob:B2\r\n", "alice:A1\r\nbob:B2\n# new\n", "alice:A1\r\nbob:B2\n# new\n", {}},
      {"added on both sides", base + "eve:E1\r\n", base + "eve:E2\r\n", base + "eve:E1\r\n", {"eve"}},
      {"their ends and order", base + "carol:C1\r\n", "bob:B1\r\nalice:A1\n# x\nmallory:M1\r", "bob:B1\r\nalice:A1\n# x\nmallory:M1\r\ncarol:C1\r\n", {}},
      {"a removed user's shadowed line goes too", "bob:B1\r\nmallory:M1\r\n", base + "alice:A9\r\n", "bob:B1\r\nmallory:M1\r\n", {}},
      {"no change on disk", "bob:B1\nalice:A2\n", base, "bob:B1\nalice:A2\n", {}}};
  for (const auto& [label, ours, theirs, expected, conflicts] : cases) {
    const core::TMerge merge = core::MergeHtpasswd(base, ours, theirs);
    EXPECT_EQ(merge.bytes, expected) << label;
    EXPECT_EQ(merge.conflicts, conflicts) << label;
    EXPECT_EQ(core::MergeHtpasswd(base, base, theirs).bytes, theirs) << label;
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

// Users of a live file changed by their exact bytes: every other byte stays, and nothing a server
// reads changes beyond the users named.
#include "core/user_file.h"

#include <gtest/gtest.h>

#include "test_files.h"
#include "text/exceptions.h"
#include "text/messages.h"

using namespace std::string_literals;

namespace {

// A file given piece by piece, at most `most` bytes a call, as a slow pipe or a short read gives it.
std::function<std::size_t(char*, std::size_t)> Pieces(std::string_view bytes, std::size_t most) {
  return [bytes, most](char* buffer, std::size_t size) mutable {
    const std::size_t n = std::min({size, most, bytes.size()});
    std::copy_n(bytes.data(), n, buffer);
    bytes.remove_prefix(n);
    return n;
  };
}

core::TUserChange Set(std::string name) { return {std::move(name), "NEW"}; }
core::TUserChange Drop(std::string name) { return {std::move(name), std::nullopt}; }

}  // namespace

TEST(UserFileEdit, ChangesTheNamedUsersAndKeepsEveryOtherByte) {
  const std::string long_line(8200, 'x');
  const struct {
    std::string before;
    std::vector<core::TUserChange> changes;
    std::string after;  // "!" for a refusal
    std::vector<std::string> missing = {};
    std::string also_gone = "";  // "server name line" of each
  } cases[] = {
      // Letter case makes another user; a name nobody has is reported and nothing changes.
      {"Alice:A\nalice:B\n#c\n", {Drop("alice")}, "Alice:A\n#c\n"},
      {"Alice:A\nalice:B\n", {Drop("ALICE"), Drop("alice")}, "Alice:A\n", {"ALICE"}},
      // The first line of a name is rewritten with its own end; its later lines go.
      {"Alice:A\r\nalice:B\r\nx:X\r\nalice:C\r\n", {Set("alice")}, "Alice:A\r\nalice:NEW\r\nx:X\r\n"},
      {"m:$1$ab$cd:comment\r\r\n", {Set("m")}, "m:NEW\r\r\n"},
      // A new user goes at the end, after the file's first line end.
      {"a:A\r\n", {Set("bob")}, "a:A\r\nbob:NEW\r\n"},
      {"a:A", {Set("bob"), Set("carl")}, "a:A\nbob:NEW\ncarl:NEW\n"},
      {"", {Set("bob")}, "bob:NEW\n"},
      // The last user can go; a later change of a name wins.
      {"a:A\n", {Set("a"), Drop("a")}, ""},
      // A hash of any form, and a line of the name without a hash, which would stop Apache.
      {"p:{PLAIN}pw\nq:_J9..salt1234567890\np\n", {Drop("p"), Set("q")}, "q:NEW\n"},
      {"x\nx:X\n", {Set("x")}, "x:NEW\n"},
      // A line two servers read as two names goes for both, and the other name is told.
      {" alice:A\nbob:B\n", {Drop(" alice")}, "bob:B\n", {}, "Apache alice 1"},
      // A line Apache joins to the next: removing the second would join the first to another.
      {"a:A\\\nb:B\nc:C\n", {Drop("b")}, "!"},
      // Past a line longer than Apache reads, nothing counts for Apache.
      {"a:A\n" + long_line + "\nb:B\n", {Set("b")}, "a:A\n" + long_line + "\nb:NEW\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.before));
    for (const std::size_t most : {std::size_t{1} << 20, std::size_t{3}}) {
      std::string refused;
      core::TEditedFile edited;
      try {
        edited = core::EditUsers(Pieces(c.before, most), c.changes);
      } catch (const text::Exception& e) {
        refused = e.Message();
      }
      EXPECT_EQ(refused.empty() ? edited.bytes : "!", c.after) << refused;
      if (!refused.empty()) continue;
      EXPECT_EQ(edited.missing, c.missing);
      std::string gone;
      for (const auto& g : edited.also_gone)
        gone += std::string(hashes::ServerName(g.server)) + " " + g.name + " " + std::to_string(g.line);
      EXPECT_EQ(gone, c.also_gone);
    }
  }
}

// (That plain names, and blanks that end one, are fine, CsvReaderRealServers asks the servers.)
TEST(UserFileEdit, NamesAndPasswordsThatCouldInjectAreRefused) {
  const std::pair<std::string, std::string_view> names[] = {
      {"", messages::SNameEmpty},
      {"x\nroot", messages::SNameControl},
      {"x\rroot", messages::SNameControl},
      {"a:b", messages::SNameControl},
      {"a\x7F", messages::SNameControl},
      {"#alice", messages::SNameComment},
      {" alice", messages::SNameBlanks},
      {"alice\t", messages::SNameControl},
      {"j\xC3\xA9 s", {}},
  };
  for (const auto& [name, problem] : names) EXPECT_EQ(core::NameProblem(name), problem) << testing::PrintToString(name);
  for (const std::string& password : {"p\0w"s, "p\nw"s, "p\rw"s}) EXPECT_EQ(core::PasswordProblem(password), messages::SPasswordControl);
  EXPECT_EQ(core::PasswordProblem(" p w\t"), "");
}

TEST(UserFileCheck, TellsEveryLineAServerReadsOtherwiseOrThatIsWeak) {
  const std::string bcrypt = "$2y$", tail = "$" + std::string(53, 'a'), des = "abJnggxhB/yWI";
  const auto said = [](std::string_view format, std::initializer_list<std::string_view> values = {}) {
    return values.size() ? text::FormatMessage(format, values) : std::string(format);
  };
  // Each line, and what check says of it (nothing: ""). (A DES hash and a comment line, CliCheck
  // sees.)
  const std::pair<std::string, std::string> lines[] = {
      {"\xEF\xBB\xBF" "bom:" + bcrypt + "10" + tail, said(messages::SFindByteOrderMark)},
      {"apr:$apr1$abcdefgh$" + std::string(22, 'a'), said(messages::SFindFast, {"Apache MD5 ($apr1$)"})},
      {"weak:" + bcrypt + "09" + tail, said(messages::SFindLowCost, {"9", "10"})},
      {"strong:" + bcrypt + "10" + tail, ""},
      {"sha:$6$salt$" + std::string(86, 'a'), ""},
      {"sha256:$5$rounds=4999$salt$" + std::string(43, 'a'), said(messages::SFindLowRounds, {"4999", "5000"})},
      {"strong:" + bcrypt + "12" + tail, said(messages::SFindSecondForBoth)},
      {"plain:text", said(messages::SFindFormRefusedByBoth, {messages::SFormPlain})},
      {"tagged:{PLAIN}pw", said(messages::SFindFormRefused, {"Apache", "{PLAIN}", "Apache"})},
      {"huge:" + bcrypt + "18" + tail, said(messages::SFindFormRefused, {"Apache", messages::SFormBcrypt, "Apache"})},
      {":" + bcrypt + "11" + tail, said(messages::SFindEmptyName)},
      {"#hidden:" + bcrypt + "11" + tail, said(messages::SFindComment)},
      {"  ", ""},
      {" lead:" + bcrypt + "11" + tail, said(messages::SFindNamesDiffer, {"lead", " lead"})},
      {"  #x:" + bcrypt + "11" + tail, said(messages::SFindOnlyOne, {"nginx"})},
      {"nocolon", said(messages::SFindNoColon)},
      {"nocolonuser:" + bcrypt + "11" + tail, said(messages::SFindSkippedByNginx, {"16"})},
      {"join:" + des + "\\", said(messages::SFindJoined, {"Apache"})},
      {"joined:" + des, said(messages::SFindOnlyOne, {"nginx"})},
      {"\r" "cr:" + des, said(messages::SFindOnlyOne, {"Apache"})},
      // Apache stops at the line that it reads as the name alone, blanks cut; nginx reads on.
      {" gone", said(messages::SFindNoColon)},
      {"gone:" + des, said(messages::SFindSecond, {"Apache"})},
      {std::string(8200, 'x'), said(messages::SFindUnread, {"Apache"})},
  };
  std::string file;
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < std::size(lines); ++i) {
    file += lines[i].first + "\n";
    if (!lines[i].second.empty()) expected.push_back(std::to_string(i + 1) + " " + lines[i].second);
  }
  std::vector<std::string> found;
  core::CheckUsers(Pieces(file, 5000), {}, [&](const core::TFinding& f) {
    // The first finding of a line is the one the row names.
    if (found.empty() || !found.back().starts_with(std::to_string(f.line) + " ")) found.push_back(std::to_string(f.line) + " " + f.text);
  });
  EXPECT_EQ(found, expected);
  // The bars move: nothing weak is left at the lowest.
  std::size_t weak = 0;
  core::CheckUsers(Pieces(file, 1 << 20), {4, 1000}, [&](const core::TFinding& f) { weak += f.text.starts_with(messages::SFindLowCost.substr(0, 6)); });
  EXPECT_EQ(weak, 0u);
}

// Credential files as spreadsheets and editors write them: what each dialect makes of their bytes,
// and that nothing which would inject a line or a user into a password file gets through.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/csv_reader.h"
#include "core/user_file.h"
#include "core/job.h"
#include "server_harness.h"
#include "test_files.h"
#include "text/exceptions.h"
#include "text/messages.h"

using namespace std::string_literals;
using Records = std::vector<std::string>;

namespace {

constexpr auto kCsv = core::CsvDialect::Rfc4180;
constexpr auto kSjis = core::CsvDialect::Delimited;

// The records as "name=password@line", then the failure as "!line message", fed `piece` bytes at a time.
Records Read(const std::string& bytes, core::CsvDialect dialect, std::size_t piece) {
  Records got;
  try {
    core::TCsvReader reader(dialect, [&](const core::TCsvRecord& r) {
      got.push_back(std::string(r.name) + "=" + std::string(r.password) + "@" + std::to_string(r.line));
    });
    for (std::size_t at = 0; at < bytes.size(); at += piece) reader.Feed(std::string_view(bytes).substr(at, piece));
    reader.Finish();
  } catch (const text::Exception& failure) {
    got.push_back("!" + std::to_string(failure.Facts().line) + " " + failure.Message());
  }
  return got;
}

std::string Refused(std::string_view message, int line) {
  return "!" + std::to_string(line) + " " + text::FormatMessage(message, {std::to_string(line)});
}

}  // namespace

TEST(CsvReader, EachDialectGivesTheRecordsAndRefusesWhatWouldInjectALine) {
  using namespace messages;
  // The records, and the refusal last.
  const struct { const char* label; core::CsvDialect dialect; std::string bytes; Records records; } cases[] = {
      {"a NUL ends nothing: the file is refused", kCsv, "a,p\0w\nb,x\nc,y\n"s, {Refused(SCsvNulLine, 1)}},
      {"spreadsheets do not quote blanks", kCsv, "john smith,pw one\n  bob ,x \n", {"john smith=pw one@1", "  bob =x @2"}},
      {"quotes, doubled quotes, commas, further fields and a name alone", kCsv, "\"eve, jr\",\"pa\"\"ss,word\",more\nx\n\"\",\n,\n",
       {"eve, jr=pa\"ss,word@1", "x=@2", "=@3", "=@4"}},
      {"every line end, and empty lines", kCsv, "a,1\rb,2\n\nc,3\r\n\r\nd,4", {"a=1@1", "b=2@2", "c=3@4", "d=4@6"}},
      {"a byte-order mark is no part of the first name", kCsv, "\xEF\xBB\xBF\"a,b\",1\n\xEF\xBB\xBF,2\n",
       {"a,b=1@1", "\xEF\xBB\xBF=2@2"}},
      {"but Shift-JIS bytes stay as they are", kSjis, "\xEF\xBB\xBF" "a,1\n", {"\xEF\xBB\xBF" "a=1@1"}},
      {"a line break inside a quoted name", kCsv, "ok,1\n\"x\nroot\",pw\n", {"ok=1@1", Refused(SCsvNameControl, 2)}},
      {"a colon in a name", kCsv, "a:b,pw\n", {Refused(SCsvNameColon, 1)}},
      {"a line break in a password", kCsv, "a,1\nbob,\"p\r\nw\"\n", {"a=1@1", Refused(SCsvPasswordBreak, 2)}},
      {"found before a later quote is left open", kCsv, "a,\"b\nc\",\"d\n", {Refused(SCsvPasswordBreak, 1)}},
      {"a line break in an ignored field is no harm", kCsv, "a,b,\"x\ny\",z\nc,d\n", {"a=b@1", "c=d@3"}},
      {"a password without a name", kCsv, "a,1\n,pw\n", {"a=1@1", Refused(SCsvPasswordWithoutName, 2)}},
      {"a quote left open, named where its field begins", kCsv, "ok,1\n\"bob,pw2\nc,3\n", {"ok=1@1", Refused(SCsvOpenQuote, 2)}},
      {"after a field that spans lines", kCsv, "a,b,\"x\ny\",\"z\n", {Refused(SCsvOpenQuote, 2)}},
      {"a quote inside an unquoted field", kCsv, "a,1\nb\"c,2\n", {"a=1@1", Refused(SCsvStrayQuote, 2)}},
      {"text after a closing quote", kCsv, "\"ab\"cd,e\n", {Refused(SCsvStrayQuote, 1)}},
      {"a blank before an opening quote", kCsv, "a, \"b\"\n", {Refused(SCsvStrayQuote, 1)}},
      {"UTF-8 only", kCsv, "\xE5\xB1\xB1,1\nb,\xFF\n",
       {"\xE5\xB1\xB1=1@1", "!2 " + text::FormatMessage(SNotUtf8Line, {"2", "3"})}},
      {"a character cut by a line end", kCsv, "\"a\xE5\xB1\n\",1\n", {"!1 " + text::FormatMessage(SNotUtf8Line, {"1", "3"})}},
      {"a character cut by the end", kCsv, "ab\xE5", {"!1 " + text::FormatMessage(SNotUtf8Line, {"1", "3"})}},
      {"an overlong form", kCsv, "\xC0\xAF,1\n", {"!1 " + text::FormatMessage(SNotUtf8Line, {"1", "1"})}},
      {"and one of three bytes, beside a character just above it", kCsv, "\xE1\x80\x80,1\n\xE0\x80\x80,2\n",
       {"\xE1\x80\x80=1@1", "!2 " + text::FormatMessage(SNotUtf8Line, {"2", "1"})}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Read(c.bytes, c.dialect, c.bytes.size() + 1), c.records) << c.label;
    // A stream: any cut into pieces reads as the whole.
    EXPECT_EQ(Read(c.bytes, c.dialect, 1), c.records) << c.label << ", a byte at a time";
  }
  EXPECT_EQ(Caught<text::Exception>([] { core::ReadCsv("\xEF\xBB\xBF" "a,1\r\nb\x01,x", kCsv, [](auto&) {}); }).facts, ":2:0");
  EXPECT_EQ(Caught<text::Exception>([] { core::ReadCsv("a,1\r\nb,2", kCsv, [](auto& r) { if (r.line == 2) throw text::Exception("x"); }); }).facts,
            ":2:0") << "a record's own failure is told its line";
}

// What NameProblem says is what Apache and nginx themselves do: a name it finds nothing wrong with
// logs in with both servers, and one it speaks of fails with at least one of them. Each name has a
// line of its own in the password file, with a password of its own. (Apache takes an empty name,
// nginx does not; Apache drops blanks that open a line, nginx keeps them; both keep blanks at the
// end of a name.)
TEST(CsvReaderRealServers, ANameLogsInWithBothServersExactlyWhenNameProblemFindsNothing) {
  if (const std::string why = PrivateServers::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  const std::string names[] = {"bob", "in side", "b#ob", "", "#team", " lead", "trail ", "\tlead"};
  TempDir dir;
  const std::string docroot = dir.File("site"), htpasswd = docroot + "/.htpasswd";
  mkdir(docroot.c_str(), 0755);
  WriteBytes(docroot + "/index.html", "<p>inside</p>\n");
  WriteBytes(docroot + "/.htaccess", core::HtaccessText(htpasswd, "Members"));
  std::string lines;
  std::vector<std::optional<PrivateServers::Credentials>> requests;
  for (std::size_t i = 0; i < std::size(names); ++i) {
    const std::string password = "pw" + std::to_string(i);
    lines += names[i] + ":" + Apr1(password, "saltsalt") + "\n";
    requests.push_back(PrivateServers::Credentials{names[i], password});
  }
  // What Apache makes of " lead": a user "lead".
  requests.push_back(PrivateServers::Credentials{"lead", "pw5"});
  WriteBytes(htpasswd, lines);
  PrivateServers servers(docroot, htpasswd);
  const std::vector<int> apache = servers.Statuses(PrivateServers::kApache, "/", requests);
  const std::vector<int> nginx = servers.Statuses(PrivateServers::kNginx, "/", requests);
  for (std::size_t i = 0; i < std::size(names); ++i)
    EXPECT_EQ(apache[i] == 200 && nginx[i] == 200, core::NameProblem(names[i]).empty())
        << "\"" << names[i] << "\": Apache " << apache[i] << ", nginx " << nginx[i];
  EXPECT_EQ(std::make_pair(apache.back(), nginx.back()), std::make_pair(200, 401)) << "Apache drops the opening blanks, nginx keeps them";
}

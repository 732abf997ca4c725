// How the real Apache and nginx read the bytes of a password file, row by row, each answer also
// predicted by our model of it (core/server_lines.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/server_lines.h"
#include "core/user_file.h"
#include "server_harness.h"

namespace {

using namespace std::string_view_literals;

// In `file`, % stands for the hash of "secret" and ! for that of another password; each ~ pads its
// physical line with x to `pad` bytes before its LF (CR included).
struct TRow {
  std::string_view file, user, password;
  int apache, nginx;
  std::size_t pad = 0;
};

const TRow kRows[] = {
    // The second file has the size and time of the first: the servers read the file anew for each request.
    {"alice:%\n", "alice", "secret", 200, 200},
    {"alice:!\n", "alice", "secret", 401, 401},
    // Blanks: Apache trims all six around the line; nginx takes every byte as it stands.
    {" \t\v\falice:%\n", "alice", "secret", 200, 401},
    {" alice:%\n", " alice", "secret", 401, 200},
    {"alice:% \t\v\f\r\n", "alice", "secret", 200, 401},
    {"alice :%\n", "alice", "secret", 401, 401},
    {"alice :%\n", "alice ", "secret", 200, 200},
    {"alice: %\n", "alice", "secret", 401, 401},
    {"\n \n\t\n\nalice:%\n", "alice", "secret", 200, 200},
    {"alice:%\n", "alice ", "secret", 401, 401},
    // Comments: '#' first on the line, for Apache after its blanks.
    {"#alice:%\n", "#alice", "secret", 401, 401},
    {"  #alice:%\n", "  #alice", "secret", 401, 200},
    {"alice#:%\n", "alice#", "secret", 200, 200},
    // A backslash before LF or CR LF joins Apache's line with the next, in name, hash or comment;
    // the joined line's end decides, so two backslashes reach over an empty line.
    {"ali\\\nce:%\n", "alice", "secret", 200, 401},
    {"ali\\\nce:%\n", "ce", "secret", 401, 200},
    {"ali\\\n  ce:%\n", "ali  ce", "secret", 200, 401},
    {"ali\\\\\n\nce:%\n", "alice", "secret", 200, 401},
    {"bob:x\\\nalice:%\n", "alice", "secret", 401, 200},
    {"bob:x\\\r\nalice:%\r\n", "alice", "secret", 401, 200},
    {"bob:x\\\r\r\nalice:%\n", "alice", "secret", 200, 200},
    {"bob:x\\ \nalice:%\n", "alice", "secret", 200, 200},
    {"#c\\\nalice:%\n", "alice", "secret", 401, 200},
    {"alice:%\\\n", "alice", "secret", 200, 401},
    {"alice:%\\", "alice", "secret", 401, 401},
    // CR: nginx skips a line that starts with one and ends a hash at one.
    {"alice:%\r\n", "alice", "secret", 200, 200},
    {"alice:%\r\r\n", "alice", "secret", 200, 200},
    {"bob:x\ralice:%\n", "alice", "secret", 401, 401},
    {"alice:%\rjunk\n", "alice", "secret", 401, 200},
    {"\ralice:%\n", "alice", "secret", 200, 401},
    {"al\rice:%\n", "al\rice", "secret", 200, 200},
    // Fields: the hash ends at a second ':'; an empty name logs in to Apache only.
    {"alice:%:comment\n", "alice", "secret", 200, 200},
    {"alice::\n", "alice", "", 401, 401},
    {":%\n", "", "secret", 200, 401},
    // No ':': Apache takes the line for a name without hash; nginx, matching it to its end, skips the next line.
    {"alice\nalice:%\n", "alice", "secret", 401, 401},
    {"alice\nx\nalice:%\n", "alice", "secret", 401, 200},
    {"al\nalice:%\n", "alice", "secret", 200, 401},
    {"al\r\nalice:%\r\n", "alice", "secret", 200, 200},
    // Length: Apache stops at a line past 8190 bytes, CR included, a joined line counted without
    // its backslashes and CRs; nginx takes any length.
    {"f:~\nalice:%\n", "alice", "secret", 200, 200, 8190},
    {"f:~\nalice:%\n", "alice", "secret", 401, 200, 8191},
    {"f:~\nalice:%\n", "alice", "secret", 401, 200, 8192},
    {"f:~\nalice:%\n", "alice", "secret", 401, 200, 8193},
    {"f:~\nalice:%\n", "alice", "secret", 401, 200, 16384},
    {"f:~\r\nalice:%\n", "alice", "secret", 401, 200, 8191},
    {"alice:%:~\n", "alice", "secret", 200, 200, 8190},
    {"alice:%:~\n", "alice", "secret", 401, 200, 8191},
    {"f:~\\\n~\nalice:%\n", "alice", "secret", 401, 200, 4096},
    {"f:~\\\r\n~\nalice:%\n", "alice", "secret", 200, 200, 4096},
    {"f:~\nalice:%\n", "alice", "secret", 401, 200, 1 << 20},
    // NUL ends Apache's line and nginx's hash; read past it, Apache's next 8191 bytes are a line.
    {"bob:x\0y\nalice:%\n"sv, "alice", "secret", 200, 200},
    {"alice:%\0zz\n"sv, "alice", "secret", 200, 200},
    {"f:x\0~alice:%\n"sv, "alice", "secret", 200, 401, 8210},
    // Names, byte for byte: a byte-order mark is part of the first, letter case counts.
    {"\xEF\xBB\xBF" "alice:%\n", "alice", "secret", 401, 401},
    {"\xEF\xBB\xBF" "alice:%\n", "\xEF\xBB\xBF" "alice", "secret", 200, 200},
    {"alice:%\n", "Alice", "secret", 401, 401},
    {"\xC3\xA4:%\n", "\xC3\xA4", "secret", 200, 200},
    // The first line of a name decides.
    {"alice:!\nalice:%\n", "alice", "secret", 401, 401},
    {"alice:!\n#c\nalice:%\n", "alice", "secret", 401, 401},
};

std::string Expand(const TRow& row) {
  std::string file;
  // crypt(3)'s DES hashes of "secret" and "wrong".
  for (const char c : row.file) file += c == '%' ? "abNANd1rDfiNc" : c == '!' ? "abMTYwD2z53TY" : std::string(1, c);
  for (std::size_t at = file.find('~'); at != std::string::npos; at = file.find('~', at)) {
    const std::size_t start = file.rfind('\n', at) + 1, end = std::min(file.find('\n', at), file.size());
    file.replace(at, 1, row.pad - (end - start - 1), 'x');
  }
  return file;
}

// What `verify` answers: 200 when the line the server stops at for the name takes the password,
// as that server checks it.
int Predicted(hashes::Server server, const std::string& file, const TRow& row) {
  const std::optional<core::TFoundUser> found = core::FindUser(core::BytesReader(file), server, row.user);
  return found && found->hash && hashes::CheckAs(server, row.password, *found->hash) == hashes::Verdict::Match ? 200 : 401;
}

}  // namespace

TEST(ServerLinesRealServers, EveryRowIsAnsweredByBothServersAsTheModelPredicts) {
  if (const std::string why = PrivateServers::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  TempDir dir;
  const std::string site = dir.File("site"), htpasswd = dir.File("htpasswd");
  std::filesystem::create_directory(site);
  WriteBytes(site + "/index.html", "ok\n");
  WriteBytes(site + "/.htaccess", "AuthType Basic\nAuthName x\nAuthUserFile " + htpasswd + "\nRequire valid-user\n");
  WriteBytes(htpasswd, "");
  const auto time = std::filesystem::last_write_time(htpasswd);
  PrivateServers servers(site, htpasswd);
  for (const TRow& row : kRows) {
    const std::string file = Expand(row);
    WriteBytes(htpasswd, file);
    std::filesystem::last_write_time(htpasswd, time);
    for (const auto& [server, ours, expected] : {std::tuple{PrivateServers::kApache, hashes::Server::Apache, row.apache},
                                                std::tuple{PrivateServers::kNginx, hashes::Server::Nginx, row.nginx}}) {
      SCOPED_TRACE(testing::Message() << PrivateServers::Name(server) << " " << testing::PrintToString(row.file) << " pad " << row.pad
                                      << " user " << testing::PrintToString(row.user));
      EXPECT_EQ(servers.Statuses(server, "/", {PrivateServers::Credentials{row.user, row.password}}), std::vector<int>{expected});
      EXPECT_EQ(Predicted(ours, file, row), expected);
    }
  }
}

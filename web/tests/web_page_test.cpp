// The browser page as a user drives it in Chromium: credential files in both encodings (picked and
// dropped), a cell edited, a build in each format, the three files downloaded; an existing
// .htpasswd opened, changed and saved back; a build cancelled. What the page downloads is judged
// against what vastelo-cli writes from the same input, by apr-util's and crypt(3)'s checks, and by
// a private Apache and nginx logging every user in. The page must make no request of any kind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "server_harness.h"
#include "test_files.h"

namespace {

std::vector<std::string> Lines(const std::string& bytes, const std::string& end) {
  std::vector<std::string> lines;
  for (std::size_t from = 0, at; from < bytes.size(); from = at + end.size()) {
    at = bytes.find(end, from);
    if (at == std::string::npos) at = bytes.size();
    lines.push_back(bytes.substr(from, at - from));
  }
  return lines;
}

// name<TAB>value lines.
std::map<std::string, std::string> Facts(const std::string& path) {
  std::map<std::string, std::string> facts;
  for (const std::string& line : Lines(ReadBytes(path), "\n"))
    if (const std::size_t tab = line.find('\t'); tab != std::string::npos) facts[line.substr(0, tab)] = line.substr(tab + 1);
  return facts;
}

struct TPageRun {
  const char* name;
  bool utf8;
  int format;  // as the page's 設定 numbers them
  const char* cli_format;
  const char* shape;  // how every hash of the run starts
  bool drop;
};

}  // namespace

TEST(WebPage, BuildsAndMaintainsInChromiumRealServers) {
  TempDir dir;
  const std::string htpasswd = dir.File("auth/.htpasswd"), docroot = dir.File("www");
  ASSERT_EQ(std::system(("mkdir -p " + dir.File("auth") + " " + docroot + " " + dir.File("out")).c_str()), 0);
  // Awkward names: a quoted one with a comma, one whose second bytes are 0x5C, one separated by
  // blanks; in UTF-8 a byte-order mark, a blank inside a name and a decomposed ガ.
  WriteBytes(dir.File("users-sjis.csv"), Sjis("alice,wonderland\r\n\"eve, jr\",\"pass,word\"\r\n表ソ能,やまだ123\r\n"
                                             "山田太郎,秘密のパス\r\ncarol  \"two words\" ignored\r\n"));
  WriteBytes(dir.File("users-utf8.csv"), "\xEF\xBB\xBF" "alice,wonderland\njohn smith,pw one\n\"quoted, name\",\"pa\"\"ss\"\n"
                                         "\xE3\x82\xAB\xE3\x82\x99,\xE3\x83\x91\xE3\x82\xB9\n山田太郎,ひみつ\n");
  // The same files with the page's edit of row 2's password, for vastelo-cli.
  WriteBytes(dir.File("cli-sjis.csv"), Sjis("alice,wonderland\r\n\"eve, jr\",\"edited, 2\"\r\n表ソ能,やまだ123\r\n"
                                           "山田太郎,秘密のパス\r\ncarol  \"two words\" ignored\r\n"));
  WriteBytes(dir.File("cli-utf8.csv"), "alice,wonderland\njohn smith,\"edited, 2\"\n\"quoted, name\",\"pa\"\"ss\"\n"
                                       "\xE3\x82\xAB\xE3\x82\x99,\xE3\x83\x91\xE3\x82\xB9\n山田太郎,ひみつ\n");
  // An existing file: a comment, four forms (one line ending CR LF), a blank line.
  const std::string alice = "alice:" + Crypt("alicepw", "ab") + "\n", bob = "bob:" + Apr1("bobpw", "Sx9aQ.7e") + "\n";
  const std::string carol = "carol:" + Crypt("carolpw", "$5$rounds=1000$saltsaltsalt") + "\r\n";
  const std::string dave = "dave:" + Crypt("davepw", "$2y$05$abcdefghijklmnopqrstuu") + "\n";
  ASSERT_EQ(std::system(("mkdir -p " + dir.File("existing")).c_str()), 0);
  WriteBytes(dir.File("existing/.htpasswd"), "# staff\n" + alice + bob + carol + dave + "\n");
  std::string many;
  for (int i = 0; i < 30; ++i) many += "user" + std::to_string(i) + ",pw" + std::to_string(i) + "\n";
  WriteBytes(dir.File("many.csv"), many);

  const TPageRun runs[] = {
      {"sjis-des", false, 0, "des", "", false},           {"sjis-apr1", false, 1, "apr1", "$apr1$", true},
      {"sjis-sha512", false, 2, "sha512", "$6$rounds=1000$", false}, {"sjis-bcrypt", false, 3, "bcrypt", "$2y$05$", false},
      {"utf8-des", true, 0, "des", "", false},            {"utf8-apr1", true, 1, "apr1", "$apr1$", false},
      {"utf8-sha512", true, 2, "sha512", "$6$rounds=1000$", true}, {"utf8-bcrypt", true, 3, "bcrypt", "$2y$05$", false},
  };
  std::string plan = "{\"authUserFile\":\"" + htpasswd + "\",\"authName\":\"Staff_area\",\"runs\":[";
  for (const TPageRun& r : runs)
    plan += std::string("{\"name\":\"") + r.name + "\",\"encoding\":\"" + (r.utf8 ? "utf8" : "sjis") +
            "\",\"format\":" + std::to_string(r.format) + ",\"cost\":5,\"rounds\":1000,\"drop\":" + (r.drop ? "true" : "false") +
            ",\"load\":\"" + dir.File(r.utf8 ? "users-utf8.csv" : "users-sjis.csv") + "\",\"edits\":[[2,1,\"edited, 2\"]]" +
            ",\"check\":[\"alice\",\"wonderland\"]},";
  plan += "{\"name\":\"opened\",\"encoding\":\"sjis\",\"format\":3,\"open\":\"" + dir.File("existing/.htpasswd") +
          "\",\"edits\":[[2,1,\"newbob\"]],\"keyboardAdd\":[\"erin\",\"erinpw\"],\"removeRow\":4,\"removed\":true,"
          "\"check\":[\"carol\",\"carolpw\"]},";
  plan += "{\"name\":\"cancelled\",\"encoding\":\"utf8\",\"format\":3,\"cost\":12,\"load\":\"" + dir.File("many.csv") +
          "\",\"cancel\":true}]}";
  WriteBytes(dir.File("plan.json"), plan);
  const std::string out = dir.File("out");
  const std::string drive = "node " VASTELO_WEB_SOURCE "/tests/drive_page.mjs " VASTELO_WEB_SITE "/index.html " +
                            dir.File("plan.json") + " " + out + " > " + dir.File("drive.log") + " 2>&1";
  ASSERT_EQ(std::system(drive.c_str()), 0) << ReadBytes(dir.File("drive.log"));
  std::map<std::string, std::string> facts = Facts(out + "/facts.txt");
  EXPECT_EQ(facts["blocked"], "true");
  EXPECT_EQ(facts["requests"], "") << "the page asked the network";
  EXPECT_EQ(facts["errors"], "");

  std::vector<std::pair<std::string, std::vector<std::optional<PrivateServers::Credentials>>>> served;
  for (const TPageRun& r : runs) {
    SCOPED_TRACE(r.name);
    const std::string got = out + "/" + r.name, want = dir.File(std::string("cli-") + r.name);
    EXPECT_EQ(facts[std::string(r.name) + ".check"], "「alice」のパスワードは一致します。");
    const std::string cli = VASTELO_CLI " build " + dir.File(r.utf8 ? "cli-utf8.csv" : "cli-sjis.csv") + " -o " + want +
                            " --classic --format " + r.cli_format + " --cost 5 --rounds 1000 --encoding " +
                            (r.utf8 ? "utf8" : "sjis") + " --auth-user-file " + htpasswd + " --auth-name Staff_area > /dev/null";
    ASSERT_EQ(std::system(cli.c_str()), 0);
    // Byte for byte where nothing is drawn; the .htpasswd line by line, names and line ends exact.
    EXPECT_EQ(ReadBytes(got + "/.htaccess"), ReadBytes(want + "/.htaccess"));
    EXPECT_EQ(ReadBytes(got + "/passwd.txt"), ReadBytes(want + "/passwd.txt"));
    const std::vector<std::string> lines = Lines(ReadBytes(got + "/.htpasswd"), "\r\n");
    const std::vector<std::string> expected = Lines(ReadBytes(want + "/.htpasswd"), "\r\n");
    const std::vector<std::string> passwords = Lines(ReadBytes(got + "/passwd.txt"), "\r\n");
    ASSERT_EQ(lines.size(), expected.size());
    ASSERT_EQ(passwords.size(), lines.size());
    std::vector<std::optional<PrivateServers::Credentials>> requests;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::string name = lines[i].substr(0, lines[i].find(':')), hash = lines[i].substr(name.size() + 1);
      EXPECT_EQ(name, expected[i].substr(0, expected[i].find(':')));
      const std::string password = passwords[i].substr(name.size() + 1);
      EXPECT_EQ(hash.substr(0, std::string_view(r.shape).size()), r.shape) << lines[i];
      EXPECT_EQ(hash.size(), expected[i].size() - name.size() - 1) << lines[i];
      EXPECT_TRUE(AprAccepts(password, hash)) << lines[i];
      EXPECT_TRUE(r.format == 1 || CryptAccepts(password, hash)) << lines[i];
      requests.push_back(PrivateServers::Credentials{name, password});
      requests.push_back(PrivateServers::Credentials{name, "x" + password});
    }
    served.emplace_back(r.name, std::move(requests));
  }

  // The opened file: every line left alone comes back byte for byte (carol's SHA-256 hash and CR LF
  // too), bob's is rewritten where it stood, dave's goes (after a question naming him), erin comes
  // at the end.
  {
    const std::vector<std::string> lines = Lines(ReadBytes(out + "/opened/.htpasswd"), "\n");
    ASSERT_EQ(lines.size(), 6u) << ReadBytes(out + "/opened/.htpasswd");
    EXPECT_EQ(lines[0], "# staff");
    EXPECT_EQ(lines[1] + "\n", alice);
    EXPECT_TRUE(AprAccepts("newbob", lines[2].substr(4))) << lines[2];
    EXPECT_EQ(lines[3] + "\n", carol);
    EXPECT_EQ(lines[4], "");
    EXPECT_TRUE(AprAccepts("erinpw", lines[5].substr(5)) && lines[5].starts_with("erin:$2y$")) << lines[5];
    EXPECT_NE(facts["opened.question"].find("「dave」"), std::string::npos) << facts["opened.question"];
    EXPECT_EQ(facts["opened.check"], "「carol」のパスワードは一致します。");
    served.push_back({"opened",
                      {PrivateServers::Credentials{"alice", "alicepw"}, PrivateServers::Credentials{"bob", "newbob"},
                       PrivateServers::Credentials{"bob", "bobpw"}, PrivateServers::Credentials{"carol", "carolpw"},
                       PrivateServers::Credentials{"dave", "davepw"}, PrivateServers::Credentials{"erin", "erinpw"}}});
  }
  EXPECT_EQ(facts["cancelled.message"], "中止しました。");
  EXPECT_EQ(facts["cancelled.htpasswd"], "");

  if (const std::string why = PrivateServers::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  WriteBytes(htpasswd, ReadBytes(out + "/sjis-des/.htpasswd"));
  WriteBytes(docroot + "/index.html", "in\n");
  PrivateServers servers(docroot, htpasswd);
  for (const auto& [name, requests] : served) {
    // The opened file was saved without an .htaccess of its own: it serves under the last one.
    if (name != "opened") WriteBytes(docroot + "/.htaccess", ReadBytes(out + "/" + name + "/.htaccess"));
    WriteBytes(htpasswd, ReadBytes(out + "/" + name + "/.htpasswd"));
    std::vector<int> expected;
    if (name == "opened")
      expected = {200, 200, 401, 200, 401, 200};
    else
      for (std::size_t i = 0; i < requests.size(); ++i) expected.push_back(i % 2 ? 401 : 200);
    for (const auto server : {PrivateServers::kApache, PrivateServers::kNginx})
      EXPECT_EQ(servers.Statuses(server, "/", requests), expected) << name << " " << PrivateServers::Name(server) << "\n"
                                                                   << servers.ErrorLog(server);
  }
}

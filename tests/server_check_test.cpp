#include "hashes/server_check.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include <string>
#include <tuple>
#include <vector>

#include "core/user_file.h"
#include "server_harness.h"
#include "test_files.h"

using namespace std::string_literals;
using hashes::AnyForm;
using hashes::Server;
using hashes::Verdict;

namespace {

// "{SSHA}" or "{SHA}" with the base64 of the SHA-1 of password and salt, and the salt: OpenSSL's.
std::string LdapSha1(const std::string& password, const std::string& salt) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  const std::string input = password + salt;
  EVP_Digest(input.data(), input.size(), digest, &size, EVP_sha1(), nullptr);
  return (salt.empty() ? "{SHA}" : "{SSHA}") + Base64(std::string(reinterpret_cast<char*>(digest), size) + salt);
}

Verdict Expected(int status) { return status == 200 ? Verdict::Match : Verdict::Mismatch; }

}  // namespace

// What each server answers, for every form and the odd cases around it, and CheckAs foretelling it.
TEST(ServerCheck, EveryFormOnRealServers) {
  const std::string des = Crypt("pw", "ab"), apr1 = Apr1("pw", "saltsalt"), sha = LdapSha1("pw", ""),
                    ssha = LdapSha1("pw", "salt\x01\xff"), plain = "{PLAIN}pw";
  // `tail`: after the hash on its line.
  const struct TRow { std::string hash, password; AnyForm form; int apache, nginx; std::string tail = ""; } rows[] = {
      {des, "pw", AnyForm::Des, 200, 200},
      {Crypt("pw", "_J9..abcd"), "pw", AnyForm::ExtendedDes, 200, 200},
      {Crypt("pw", "$1$saltsalt$"), "pw", AnyForm::Md5Crypt, 200, 200},
      {apr1, "pw", AnyForm::Apr1, 200, 200},
      {Apr1("pw", "ab"), "pw", AnyForm::Apr1, 200, 200},
      {Apr1("pw", ""), "pw", AnyForm::Apr1, 200, 200},
      {Crypt("pw", "$5$saltsalt$"), "pw", AnyForm::Sha256, 200, 200},
      {Crypt("pw", "$5$$"), "pw", AnyForm::Sha256, 200, 200},
      {Crypt("pw", "$5$rounds=1000$saltsalt$"), "pw", AnyForm::Sha256, 200, 200},
      {Crypt("pw", "$6$saltsalt$"), "pw", AnyForm::Sha512, 200, 200},
      {Crypt("pw", "$2y$04$abcdefghijklmnopqrstuu"), "pw", AnyForm::Bcrypt, 200, 200},
      {Crypt("pw", "$2a$04$abcdefghijklmnopqrstuu"), "pw", AnyForm::Bcrypt, 200, 200},
      {Crypt("pw", "$2b$04$abcdefghijklmnopqrstuu"), "pw", AnyForm::Bcrypt, 200, 200},
      {Crypt("pw", "$2x$04$abcdefghijklmnopqrstuu"), "pw", AnyForm::Bcrypt, 200, 200},
      {sha, "pw", AnyForm::Sha1, 200, 200},
      {ssha, "pw", AnyForm::SaltedSha1, 401, 200},
      {plain, "pw", AnyForm::TaggedPlain, 401, 200},
      {"secret", "secret", AnyForm::Plain, 401, 401},
      // Lower case tags, a digest short of its padding, and blanks after the hash.
      {"{plain}pw", "pw", AnyForm::Plain, 401, 401},
      {"{sha}" + sha.substr(5), "pw", AnyForm::Plain, 401, 401},
      {sha.substr(0, sha.size() - 1), "pw", AnyForm::Sha1, 401, 401},
      // Two of passlib's malformed {SSHA} hashes (see PublishedSamples): its "==" cut short and overlong.
      {"{SSHA}P90+qijSp8MJ1tN25j5o1PflUvlqjXHOGeOckw=", "test", AnyForm::SaltedSha1, 401, 401},
      {"{SSHA}P90+qijSp8MJ1tN25j5o1PflUvlqjXHOGeOck===", "test", AnyForm::SaltedSha1, 401, 401},
      {des, "pw", AnyForm::Des, 200, 401, "  "},
      {plain, "pw  ", AnyForm::TaggedPlain, 401, 200, "  "},
      // Cost 18, as libxcrypt gives it for "pw": seconds of work, which only nginx does.
      {"$2y$18$abcdefghijklmnopqrstuuzv07Px.M2yGnkfnXmfNxC0Y6dZd7IY2", "pw", AnyForm::Bcrypt, 401, 200},
  };
  if (const std::string why = PrivateServers::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  TempDir dir;
  const std::string docroot = dir.File("site"), htpasswd = dir.File("htpasswd");
  mkdir(docroot.c_str(), 0755);
  WriteBytes(docroot + "/index.html", "<p>inside</p>\n");
  WriteBytes(docroot + "/.htaccess",
             "AuthType Basic\nAuthName \"Protected_area\"\nAuthUserFile " + htpasswd + "\nRequire valid-user\n");
  WriteBytes(htpasswd, "");
  PrivateServers servers(docroot, htpasswd);
  for (const TRow& row : rows) {
    EXPECT_EQ(hashes::ClassifyHash(row.hash), row.form) << row.hash;
    WriteBytes(htpasswd, "alice:" + row.hash + row.tail + "\n");
    // Each hash is also sent its password with a NUL and more after it, which the browser sends and
    // both servers cut at the NUL, and a wrong password, which none takes; but for the slow one,
    // whose every answer costs nginx seconds.
    const bool slow = row.hash.starts_with("$2y$18$");
    const std::vector<std::string> passwords = {row.password, row.password + "\0x"s, "px"};
    std::vector<std::optional<PrivateServers::Credentials>> requests;
    for (std::size_t i = 0; i < (slow ? 1 : passwords.size()); ++i) requests.push_back(PrivateServers::Credentials{"alice", passwords[i]});
    const std::string where = row.hash + row.tail + " sent " + row.password;
    for (const auto& [server, ours, status] : {std::tuple{PrivateServers::kApache, Server::Apache, row.apache},
                                               std::tuple{PrivateServers::kNginx, Server::Nginx, row.nginx}}) {
      SCOPED_TRACE(PrivateServers::Name(server));
      std::vector<int> expected = {status, status, 401};
      expected.resize(requests.size());
      EXPECT_EQ(servers.Statuses(server, "/", requests, slow ? 120 : 10), expected) << where << servers.ErrorLog(server);
      // Apache drops the blanks that end a line; nginx keeps them in the hash.
      const std::string hash = row.hash + (ours == Server::Nginx ? row.tail : "");
      for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(hashes::CheckAs(ours, passwords[i], hash), slow && ours == Server::Nginx ? Verdict::Uncheckable : Expected(expected[i])) << where << " " << i;
    }
  }
}

// Published samples, each with its password and with a wrong one: what each server makes of them.
TEST(ServerCheck, PublishedSamples) {
  constexpr Verdict M = Verdict::Match, X = Verdict::Mismatch;
  const struct Sample { const char *hash, *password; AnyForm form; Verdict apache, nginx; } samples[] = {
      // passlib, tests/test_apache.py in github.com/ThirVondukr/passlib: HtpasswdFileTest.sample_05,
      // where passlib takes "pass4" for a password written as it stands, and neither server does.
      {"2CHkkwa2AtqGs", "pass2", AnyForm::Des, M, M},
      {"{SHA}3ipNV1GrBtxPmHFC21fCbVCSXIo=", "pass3", AnyForm::Sha1, M, M},
      {"pass4", "pass4", AnyForm::Plain, X, X},
      {"$apr1$t4tc7jTh$GPIWVUo8sQKJlUdV8V5vu0", "pass1", AnyForm::Apr1, M, M},
      {"$2a$12$yktDxraxijBZ360orOyCOePFGhuis/umyPNJoL5EbsLk.s6SWdrRO", "pass5", AnyForm::Bcrypt, M, M},
      {"$5$rounds=110000$cCRp/xUUGVgwR4aP$p0.QKFS5qLNRqw1/47lXYiAcgIjJK.WjCO8nrEKuUK.", "pass6", AnyForm::Sha256, M, M},
      // passlib, tests/test_handlers.py in the same repository: ldap_salted_sha1_test (salts of 4,
      // 8, 15 and 16 bytes) and md5_crypt_test (an empty password, then a hash with a field too many).
      {"{SSHA}0c0blFTXXNuAMHECS4uxrj3ZieMoWImr", "testing123", AnyForm::SaltedSha1, X, M},
      {"{SSHA}P90+qijSp8MJ1tN25j5o1PflUvlqjXHOGeOckw==", "test", AnyForm::SaltedSha1, X, M},
      {"{SSHA}/ZMF5KymNM+uEOjW+9STKlfCFj51bg3BmBNCiPHeW2ttbU0=", "test", AnyForm::SaltedSha1, X, M},
      {"{SSHA}Pfx6Vf48AT9x3FVv8znbo8WQkEVSipHSWovxXmvNWUvp/d/7", "test", AnyForm::SaltedSha1, X, M},
      {"$1$dXc3I7Rw$ctlgjDdWJLMT.qwHsWhXR1", "U*U*U*U*", AnyForm::Md5Crypt, M, M},
      {"$1$Eu.GHtia$CFkL/nE1BYTlEPiVx1VWX0", "", AnyForm::Md5Crypt, M, M},
      {"$1$dOHYPKoP$tnxS1T8Q6VVn3kpV8cN6o.$", "", AnyForm::Md5Crypt, X, X},
  };
  for (const Sample& s : samples) {
    EXPECT_EQ(hashes::ClassifyHash(s.hash), s.form) << s.hash;
    EXPECT_EQ(hashes::CheckAs(Server::Apache, s.password, s.hash), s.apache) << s.hash;
    EXPECT_EQ(hashes::CheckAs(Server::Nginx, s.password, s.hash), s.nginx) << s.hash;
    for (const Server server : hashes::kServers) EXPECT_EQ(hashes::CheckAs(server, "pass9", s.hash), X) << s.hash;
  }
}

// The password files of the servers' own test suites, as bytes, and the answer each suite expects
// for a name and password: the line the server reads for the name, then its hash checked.
TEST(ServerCheck, ServersOwnSuites) {
  constexpr Verdict M = Verdict::Match, X = Verdict::Mismatch;
  // nginx-tests, auth_basic.t in github.com/nginx/nginx-tests, with its two crypt() calls (salts
  // "salt" and "$1$salt$" for "password") as libxcrypt answers them.
  const std::string nginx_file =
      "crypt:sa3tHJ3/KuYvI\ncrypt1:$1$salt$qJH7.N4xYta3aEG/dfqo/0\ncrypt2:$1$\n"
      "apr1:$apr1$salt$Xxd1irWT9ycqoYxGFn4cb.\napr12:$apr1$\nplain:{PLAIN}password\n"
      "ssha:{SSHA}yI6cZwQadOA1e+/f+T+H3eCQQhRzYWx0\nssha2:{SSHA}_____wQadOA1e+/f+T+H3eCQQhRzYWx0\n"
      "ssha3:{SSHA}Zm9vCg==\nsha:{SHA}W6ph5Mm5Pz8GgiULbPgzG37mj9g=\nsha2:{SHA}_____Mm5Pz8GgiULbPgzG37mj9g=\n"
      "sha3:{SHA}Zm9vCg==\n";
  // Apache's test framework, github.com/apache/httpd-tests: the two files t/modules/aaa.t writes
  // (a comment, then an apr1 line), and t/conf/ssl/ssl.htpasswd, which t/ssl/basicauth.t reaches
  // through FakeBasicAuth: the client certificate's subject as the name, "password" as the password.
  const std::string apache_file =
      "# ubasic:pbasic\nubasic:$apr1$opONH1Fj$dX0sZdZ0rRWEk0Wj8y.Qv1\n"
      "# uform:pform\nuform:$apr1$BzhDZ03D$U598kbSXGy/R7OhYXu.JJ0\n"
      "/C=AU/ST=Queensland/L=Mackay/O=Snake Oil, Ltd./OU=Staff/CN=localhost:xxj31ZMTZzkVA\n";
  // Each name is also sent a wrong password.
  const struct Case { Server server; const char *name, *password; Verdict expected; } cases[] = {
      {Server::Nginx, "crypt", "password", M},  {Server::Nginx, "crypt1", "password", M}, {Server::Nginx, "crypt2", "1", X},
      {Server::Nginx, "apr1", "password", M},   {Server::Nginx, "apr12", "1", X},         {Server::Nginx, "plain", "password", M},
      {Server::Nginx, "ssha", "password", M},   {Server::Nginx, "ssha2", "1", X},         {Server::Nginx, "ssha3", "1", X},
      {Server::Nginx, "sha", "password", M},    {Server::Nginx, "sha2", "1", X},          {Server::Nginx, "sha3", "1", X},
      {Server::Nginx, "notfound", "1", X},      {Server::Apache, "ubasic", "pbasic", M},  {Server::Apache, "uform", "pform", M},
      {Server::Apache, "/C=AU/ST=Queensland/L=Mackay/O=Snake Oil, Ltd./OU=Staff/CN=localhost", "password", M},
  };
  for (const Case& c : cases) {
    const std::string& file = c.server == Server::Nginx ? nginx_file : apache_file;
    const auto found = core::FindUser(core::BytesReader(file), c.server, c.name);
    for (const auto& [password, expected] : {std::pair{c.password, c.expected}, {"123", X}}) {
      const Verdict verdict = found && found->hash ? hashes::CheckAs(c.server, password, *found->hash) : X;
      EXPECT_EQ(verdict, expected) << hashes::ServerName(c.server) << " " << c.name << " sent " << password;
    }
  }
}

// Work a server would spend seconds to minutes on is declined, not done; apr-util's own refusal
// of a bcrypt cost it will not compute is Apache's answer. Each would end within a minute if
// computed, so a regression fails instead of hanging.
TEST(ServerCheck, CostlyHashesAreDeclined) {
  const std::string yescrypt = Crypt("pw", "$y$j9T$abcdefghijklmnop$");
  const struct Costly { std::string hash; Verdict apache, nginx; } costly[] = {
      {"$2y$18$abcdefghijklmnopqrstuuzv07Px.M2yGnkfnXmfNxC0Y6dZd7IY2", Verdict::Mismatch, Verdict::Uncheckable},
      {"$2b$18$abcdefghijklmnopqrstuuzv07Px.M2yGnkfnXmfNxC0Y6dZd7IY2", Verdict::Uncheckable, Verdict::Uncheckable},
      {"$5$rounds=10000001$salt$", Verdict::Uncheckable, Verdict::Uncheckable},
      {"$6$rounds=20000000$salt$", Verdict::Uncheckable, Verdict::Uncheckable},
      {yescrypt, Verdict::Uncheckable, Verdict::Uncheckable},
  };
  for (const Costly& c : costly) {
    EXPECT_EQ(hashes::CheckAs(Server::Apache, "pw", c.hash), c.apache) << c.hash;
    EXPECT_EQ(hashes::CheckAs(Server::Nginx, "pw", c.hash), c.nginx) << c.hash;
  }
  EXPECT_EQ(hashes::ClassifyHash(yescrypt), AnyForm::Plain);
}

#include <gtest/gtest.h>

#include "des_crypt/des_crypt.h"
#include "server_harness.h"
#include "test_files.h"

// Files as the tool writes them, made here by hand, guard a folder on real servers: the right
// password opens it, anything else is refused, and the password file is never served. The
// Shift-JIS name has trail bytes that read as "\" (表 ソ); its password has high bits set.
TEST(RealServers, HonourHandWrittenFiles) {
  if (const std::string why = PrivateServers::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  TempDir dir;
  const std::string htpasswd = dir.File(".htpasswd");
  const PrivateServers::Credentials alice{"alice", "wonderland"}, sjis{Sjis("表ソ"), Sjis("ポ|パス")};
  WriteBytes(htpasswd, alice.first + ":" + DesCrypt(alice.second, "ab") + "\r\n" + sjis.first + ":" +
                           DesCrypt(sjis.second, "/.") + "\r\n");
  WriteBytes(dir.File(".htaccess"), "AuthUserFile " + htpasswd +
                                        "\r\nAuthGroupFile /dev/null\r\nAuthName \"Protected_area\"\r\n"
                                        "AuthType Basic\r\nRequire valid-user\r\n\r\n"
                                        "<Files ~ \"^.(htpasswd|htaccess)$\">\r\ndeny from all\r\n</Files>\r\n");
  WriteBytes(dir.File("index.html"), "<p>inside</p>\n");
  PrivateServers servers(dir.path(), htpasswd);

  const struct {
    const char* path;
    std::optional<PrivateServers::Credentials> credentials;
    int status;
  } cases[] = {
      {"/", {}, 401},
      {"/", alice, 200},
      {"/index.html", sjis, 200},
      {"/", PrivateServers::Credentials{"alice", "Wonderland"}, 401},
      {"/", PrivateServers::Credentials{sjis.first, alice.second}, 401},
      {"/.htpasswd", {}, 403},
      {"/.htpasswd", alice, 403},
  };
  for (const auto server : {PrivateServers::kApache, PrivateServers::kNginx}) {
    for (const auto& c : cases) {
      EXPECT_EQ(servers.Status(server, c.path, c.credentials), c.status)
          << PrivateServers::Name(server) << " " << c.path << " as "
          << (c.credentials ? c.credentials->first + ":" + c.credentials->second : "nobody") << "\n"
          << servers.ErrorLog(server);
    }
  }
}

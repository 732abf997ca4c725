// Real web servers for tests: a private Apache httpd 2.4 and a private nginx, each on a free
// loopback port with its configuration, logs and run-time files in a temporary folder of its own,
// asked with curl. Debian's binaries and module paths.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "test_files.h"

// A document folder protected by Basic authentication, served by a private Apache and a private
// nginx for as long as the object lives.
//
// Run as root (as CI does), the servers answer requests as nobody:nogroup, since Apache refuses to
// serve as root. So the harness then lets others search every folder from the temporary folder
// down to `docroot` and to the password file's folder (folders outside the temporary folder are
// left as they are), and every folder inside `docroot`, and read the password file and every
// file inside `docroot`. It does so again before every request, for files a test rewrote in
// between. Run as an ordinary user, it changes no permission.
class PrivateServers {
 public:
  enum Server { kApache, kNginx };
  using Credentials = std::pair<std::string, std::string>;  // user, password: any bytes

  // Why the servers cannot run here (a program missing), or empty. A test skips on non-empty.
  static std::string Unavailable();
  static const char* Name(Server server);

  // `docroot` holds the .htaccess (Apache reads it, with AuthConfig and Limit overrides allowed;
  // the user file is the one its AuthUserFile names); `htpasswd` is the password file's absolute
  // path for nginx. Starts both, or throws with the servers' logs if one does not come up.
  PrivateServers(const std::string& docroot, const std::string& htpasswd);
  ~PrivateServers();  // stops both and waits for them
  PrivateServers(const PrivateServers&) = delete;
  PrivateServers& operator=(const PrivateServers&) = delete;

  // The HTTP status of GET `path` (sent as given, from "/"), with an "Authorization: Basic" header
  // encoding the exact bytes user ":" password, or with none. 0 when no HTTP answer came.
  int Status(Server server, const std::string& path, const std::optional<Credentials>& credentials = {});
  // The same for many requests at once, in one curl.
  std::vector<int> Statuses(Server server, const std::string& path, const std::vector<std::optional<Credentials>>& requests);
  // What the server wrote to its error log and to its standard error so far.
  std::string ErrorLog(Server server) const;

 private:
  class Process;
  void GrantAccess() const;

  std::string docroot_, htpasswd_;
  TempDir dir_;  // outlives the servers, which are stopped first
  std::unique_ptr<Process> servers_[2];
};

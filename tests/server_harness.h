// Real web servers for tests: a private Apache httpd 2.4 and a private nginx, each on a free
// loopback port with its configuration, logs and run-time files in a temporary folder of ours,
// asked with curl. Debian's binaries and module paths.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "test_files.h"

// A document folder protected by Basic authentication, served by both servers for as long as the
// object lives. Run as root (as CI does), the servers answer as nobody:nogroup, since Apache will
// not serve as root, and the harness opens the files up to them (see GrantAccess); as an ordinary
// user it changes no permission.
// Base64 with padding (OpenSSL's): for a header curl's -u cannot carry, as an argument ends at a
// NUL, and for the digests of {SHA} hashes.
std::string Base64(std::string_view bytes);

class PrivateServers {
 public:
  enum Server { kApache, kNginx };
  using Credentials = std::pair<std::string, std::string>;  // user, password: any bytes

  // Why the servers cannot run here (a program missing), or empty. A test skips on non-empty.
  static std::string Unavailable();
  static const char* Name(Server server) { return server == kApache ? "Apache" : "nginx"; }

  // `docroot` holds the .htaccess (Apache reads it, with AuthConfig and Limit overrides allowed);
  // `htpasswd` is the password file's absolute path for nginx. Starts both, or throws with the
  // logs of the one that did not come up. Both are stopped when the object goes.
  // `stock`: Apache with Debian's own choice of modules alone, which leaves out mod_authz_groupfile.
  PrivateServers(const std::string& docroot, const std::string& htpasswd, bool stock = false);

  // The HTTP status of GET `path` (sent as given) for each request, with an "Authorization: Basic"
  // header of the exact bytes user ":" password (a NUL too), or with none; 0 when no HTTP answer
  // came within `patience_seconds`. One curl asks them all.
  std::vector<int> Statuses(Server server, const std::string& path, const std::vector<std::optional<Credentials>>& requests,
                            int patience_seconds = 10);
  // The realm of the server's 401 answer to GET `path` without credentials, as its
  // WWW-Authenticate header gives it; empty when there is none.
  std::string Realm(Server server, const std::string& path);
  // What the server wrote to its error log and to its standard output and error so far.
  std::string ErrorLog(Server server) const;

 private:
  struct Process {  // one server, leading a process group of its own; stopped when this goes
    pid_t pid = 0;  // 0 until it is started
    int port = 0;
    ~Process();
  };
  void Start(Server server);
  void GrantAccess() const;

  std::string docroot_, htpasswd_;
  bool stock_ = false;
  TempDir dir_;  // outlives the servers
  Process servers_[2];
};

#include "server_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* kApacheBinary = "/usr/sbin/apache2";
constexpr const char* kNginxBinary = "/usr/sbin/nginx";
constexpr const char* kCurlBinary = "/usr/bin/curl";
constexpr auto kPatience = 5s;  // for a server to come up or to go down

bool Root() { return geteuid() == 0; }

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    unsigned group = 0;
    for (std::size_t k = 0; k < 3; ++k)
      group = group << 8 | (i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    const std::size_t digits = std::min<std::size_t>(bytes.size() - i, 3) + 1;
    for (std::size_t k = 0; k < 4; ++k) out += k < digits ? kDigits[group >> (18 - 6 * k) & 63] : '=';
  }
  return out;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A port nobody listens on at the moment of asking. Another process may take it before the server
// binds it; the caller retries then.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t size = sizeof address;
  const bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
                  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
  if (fd >= 0) close(fd);
  if (!ok) throw std::runtime_error("no free port on 127.0.0.1");
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(port);
  const bool ok = fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

// Starts `argv` in a process group of its own, so that a server signalling its group (Apache's
// prefork does on shutdown) reaches only its own processes. Input from /dev/null; standard output
// to `out_fd`, or to `out_path` together with standard error.
pid_t Spawn(const std::vector<std::string>& argv, int out_fd, const std::string& out_path) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  if (out_fd >= 0) {
    posix_spawn_file_actions_adddup2(&files, out_fd, 1);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  } else {
    posix_spawn_file_actions_addopen(&files, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, args[0], &files, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&files);
  if (error != 0) throw std::runtime_error("cannot start " + argv[0]);
  return pid;
}

// Waits up to `patience` for `pid` to end, leaving it a zombie: so its process group id cannot
// go to another process before we have signalled that group.
void AwaitExit(pid_t pid, std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  for (siginfo_t info{}; std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(1ms)) {
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid) return;
  }
}

void AllowOthers(const fs::path& path, fs::perms bits) {
  if ((fs::status(path).permissions() & bits) != bits) fs::permissions(path, bits, fs::perm_options::add);
}

// Others may search `folder` and the folders above it up to the temporary folder; folders
// elsewhere are left as they are.
void OpenPathFromTemp(const fs::path& folder) {
  const fs::path temp = fs::canonical(fs::temp_directory_path());
  fs::path path = fs::canonical(folder);
  const fs::path below = path.lexically_relative(temp);
  if (below.empty() || *below.begin() == "..") return;
  for (; path != temp; path = path.parent_path()) AllowOthers(path, fs::perms::others_exec);
}

// `text` with each {name} replaced by its value.
std::string Fill(std::string text, std::initializer_list<std::pair<std::string_view, std::string>> values) {
  for (const auto& [name, value] : values) {
    const std::string key = "{" + std::string(name) + "}";
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
      text.replace(at, key.size(), value);
  }
  return text;
}

// Only the modules that the folder's .htaccess needs (it also names AuthGroupFile and says
// "deny from all"), prefork for fast start and stop, and the guard of .ht files that Debian's
// configuration has.
constexpr std::string_view kApacheConfig = R"(ServerRoot "{dir}"
ServerName 127.0.0.1
Listen 127.0.0.1:{port}
PidFile "{dir}/apache.pid"
ErrorLog "{dir}/apache-error.log"
DefaultRuntimeDir "{dir}"
Mutex file:{dir}
{user}LoadModule mpm_prefork_module /usr/lib/apache2/modules/mod_mpm_prefork.so
LoadModule authn_core_module /usr/lib/apache2/modules/mod_authn_core.so
LoadModule authn_file_module /usr/lib/apache2/modules/mod_authn_file.so
LoadModule auth_basic_module /usr/lib/apache2/modules/mod_auth_basic.so
LoadModule authz_core_module /usr/lib/apache2/modules/mod_authz_core.so
LoadModule authz_user_module /usr/lib/apache2/modules/mod_authz_user.so
LoadModule authz_groupfile_module /usr/lib/apache2/modules/mod_authz_groupfile.so
LoadModule access_compat_module /usr/lib/apache2/modules/mod_access_compat.so
LoadModule dir_module /usr/lib/apache2/modules/mod_dir.so
StartServers 1
MinSpareServers 1
MaxSpareServers 2
MaxRequestWorkers 4
DocumentRoot "{docroot}"
DirectoryIndex index.html
<Directory "{docroot}">
  AllowOverride AuthConfig Limit
</Directory>
<FilesMatch "^\.ht">
  Require all denied
</FilesMatch>
)";

constexpr std::string_view kNginxConfig = R"(daemon off;
master_process on;
worker_processes 1;
{user}pid "{dir}/nginx.pid";
error_log "{dir}/nginx-error.log";
events { worker_connections 16; }
http {
  access_log off;
  client_body_temp_path "{dir}/nginx-client_body";
  proxy_temp_path "{dir}/nginx-proxy";
  fastcgi_temp_path "{dir}/nginx-fastcgi";
  uwsgi_temp_path "{dir}/nginx-uwsgi";
  scgi_temp_path "{dir}/nginx-scgi";
  server {
    listen 127.0.0.1:{port};
    root "{docroot}";
    location / { auth_basic "Protected_area"; auth_basic_user_file "{htpasswd}"; }
    location ~ /\.ht { deny all; }
  }
}
)";

}  // namespace

// One running server: its process group, port and logs.
class PrivateServers::Process {
 public:
  Process(PrivateServers::Server server, const std::string& dir, const std::string& docroot,
          const std::string& htpasswd)
      : files_(dir + "/" + (server == kApache ? "apache" : "nginx")),
        error_log_(files_ + "-error.log"),
        output_(files_ + "-output.log") {
    const std::string config = files_ + ".conf";
    // Another program may take the port between our asking and the server binding it.
    for (int attempt = 1;; ++attempt) {
      for (const std::string& stale : {error_log_, output_, files_ + ".pid"}) fs::remove(stale);
      port_ = FreePort();
      // Apache will not serve as root, and only root can change user.
      const std::string user = !Root()             ? ""
                               : server == kApache ? "User nobody\nGroup nogroup\n"
                                                   : "user nobody nogroup;\n";
      WriteBytes(config, Fill(std::string(server == kApache ? kApacheConfig : kNginxConfig),
                              {{"user", user}, {"dir", dir}, {"port", std::to_string(port_)},
                               {"docroot", docroot}, {"htpasswd", htpasswd}}));
      pid_ = Spawn(server == kApache ? std::vector<std::string>{kApacheBinary, "-f", config, "-DFOREGROUND"}
                                     : std::vector<std::string>{kNginxBinary, "-p", dir + "/", "-c", config},
                   -1, output_);
      if (WaitReady()) return;
      Stop();
      if (attempt < 3 && PortTaken()) continue;
      throw std::runtime_error(std::string(Name(server)) + " did not come up on port " + std::to_string(port_) +
                               ":\n" + Log());
    }
  }
  ~Process() { Stop(); }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  int port() const { return port_; }
  std::string Log() const { return Slurp(error_log_) + Slurp(output_); }

 private:
  bool PortTaken() const { return Log().find("Address already in use") != std::string::npos; }

  // Up when its port accepts connections and it has written its pid file, which both servers do
  // only once they hold the port: someone else may have taken it. Down as soon as it says so,
  // since nginx would keep retrying for seconds.
  bool WaitReady() {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
      if (waitpid(pid_, nullptr, WNOHANG) != 0) {
        pid_ = 0;
        return false;
      }
      if (Slurp(files_ + ".pid") == std::to_string(pid_) + "\n" && Accepts(port_)) return true;
      if (PortTaken()) return false;
      std::this_thread::sleep_for(2ms);
    }
    return false;
  }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    AwaitExit(pid_, kPatience);
    kill(-pid_, SIGKILL);  // a server that did not stop, or any worker it left behind; usually none
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }

  std::string files_;  // the common start of the names of its files
  std::string error_log_, output_;
  pid_t pid_ = 0;
  int port_ = 0;
};

std::string PrivateServers::Unavailable() {
  for (const char* program : {kApacheBinary, kNginxBinary, kCurlBinary})
    if (access(program, X_OK) != 0) return std::string(program) + " is not installed";
  return "";
}

const char* PrivateServers::Name(Server server) { return server == kApache ? "Apache" : "nginx"; }

PrivateServers::PrivateServers(const std::string& docroot, const std::string& htpasswd)
    : docroot_(docroot), htpasswd_(htpasswd) {
  // The servers' own files: the workers (nobody, under root) read none of them, but let them look.
  fs::permissions(dir_.path(), fs::perms(0755));
  GrantAccess();
  servers_[kApache] = std::make_unique<Process>(kApache, dir_.path(), docroot, htpasswd);
  servers_[kNginx] = std::make_unique<Process>(kNginx, dir_.path(), docroot, htpasswd);
}

PrivateServers::~PrivateServers() = default;

void PrivateServers::GrantAccess() const {
  if (!Root()) return;
  OpenPathFromTemp(docroot_);
  OpenPathFromTemp(fs::path(htpasswd_).parent_path());
  AllowOthers(docroot_, fs::perms::others_exec);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(docroot_))
    AllowOthers(entry.path(), entry.is_directory() ? fs::perms::others_exec : fs::perms::others_read);
  AllowOthers(htpasswd_, fs::perms::others_read);
}

int PrivateServers::Status(Server server, const std::string& path, const std::optional<Credentials>& credentials) {
  return Statuses(server, path, {credentials}).front();
}

std::vector<int> PrivateServers::Statuses(Server server, const std::string& path,
                                          const std::vector<std::optional<Credentials>>& requests) {
  GrantAccess();
  // One curl for every request, each after --next with options of its own. -q: no ~/.curlrc;
  // --noproxy: a proxy from the environment must not answer for loopback; -g and --path-as-is:
  // the path goes out byte for byte, unglobbed and unnormalised.
  std::vector<std::string> argv = {kCurlBinary, "-q"};
  for (const auto& credentials : requests) {
    if (argv.size() > 2) argv.push_back("--next");
    argv.insert(argv.end(), {"-s", "-g", "--path-as-is", "--noproxy", "*", "--max-time", "10", "-o", "/dev/null", "-w",
                             "%{http_code}\n"});
    if (credentials)
      argv.insert(argv.end(), {"-H", "Authorization: Basic " + Base64(credentials->first + ":" + credentials->second)});
    argv.push_back("http://127.0.0.1:" + std::to_string(servers_[server]->port()) + path);
  }
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = Spawn(argv, pipe_fds[1], "");
  close(pipe_fds[1]);
  std::string codes;
  char buffer[256];
  for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) codes.append(buffer, static_cast<std::size_t>(n));
  close(pipe_fds[0]);
  waitpid(pid, nullptr, 0);
  std::vector<int> statuses(requests.size(), 0);
  const char* at = codes.data();
  for (int& status : statuses) {
    at = std::from_chars(at, codes.data() + codes.size(), status).ptr;
    if (at < codes.data() + codes.size()) ++at;  // the line break
  }
  return statuses;
}

std::string PrivateServers::ErrorLog(Server server) const { return servers_[server]->Log(); }

#include "server_harness.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kApacheBinary = "/usr/sbin/apache2";
constexpr const char* kNginxBinary = "/usr/sbin/nginx";
constexpr const char* kCurlBinary = "/usr/bin/curl";
constexpr auto kPatience = 30s;  // for a server to come up or to go down, on a machine busy building

// `text` with every {name} replaced by its value.
std::string Fill(std::string text, std::initializer_list<std::pair<std::string_view, std::string>> values) {
  for (const auto& [name, value] : values)
    for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size()))
      text.replace(at, name.size(), value);
  return text;
}

// With `port` 0: a port nobody listens on at the moment of asking, from the kernel. Otherwise
// `port` if it takes a connection. 0 on failure.
int LoopbackPort(int port) {
  sockaddr_in address{.sin_family = AF_INET, .sin_port = htons(static_cast<in_port_t>(port)),
                      .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
  auto* any = reinterpret_cast<sockaddr*>(&address);
  socklen_t size = sizeof address;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool ok = fd >= 0 && (port != 0 ? connect(fd, any, size) == 0
                                        : bind(fd, any, size) == 0 && getsockname(fd, any, &size) == 0);
  if (fd >= 0) close(fd);
  return ok ? ntohs(address.sin_port) : 0;
}

// Starts `argv` with no input and both outputs into the file `output`, in a process group of its
// own, so that a server signalling its group (prefork Apache does on shutdown) reaches only its
// own processes.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& output) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&files, 1, 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, args[0], &files, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&files);
  if (error != 0) throw std::runtime_error("cannot start " + argv[0]);
  return pid;
}

// Whether `pid` has ended. It is left a zombie, so that its process and group id cannot pass to
// another process before its group is signalled and it is reaped.
bool Ended(pid_t pid) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid;
}

std::string ReadIfThere(const std::string& path) { return fs::exists(path) ? ReadBytes(path) : ""; }

}  // namespace

std::string Base64(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  out.resize(static_cast<std::size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                                      reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()))));
  return out;
}

std::string PrivateServers::Unavailable() {
  for (const char* program : {kApacheBinary, kNginxBinary, kCurlBinary})
    if (access(program, X_OK) != 0) return std::string(program) + " is not installed";
  return "";
}

PrivateServers::PrivateServers(const std::string& docroot, const std::string& htpasswd, bool stock)
    : docroot_(docroot), htpasswd_(htpasswd), stock_(stock) {
  GrantAccess();
  Start(kApache);
  Start(kNginx);  // if this throws, the members' destructors stop Apache
}

void PrivateServers::Start(Server server) {
  Process& process = servers_[server];
  process.port = LoopbackPort(0);
  const std::string files = dir_.File(Name(server)), config = files + ".conf";
  // Apache will not serve as root, and only root can change user.
  const char* user = geteuid() != 0 ? "" : server == kApache ? "User nobody\nGroup nogroup\n" : "user nobody nogroup;\n";
  // The configurations lie beside this file, with a {name} for each value filled in here.
  const std::string text = ReadBytes(std::string(VASTELO_TEST_SOURCE_DIR) + (server == kApache ? "/apache.conf.in" : "/nginx.conf.in"));
  WriteBytes(config, Fill(text, {{"{user}", user}, {"{dir}", dir_.path()}, {"{files}", files}, {"{port}", std::to_string(process.port)},
                                 {"{docroot}", docroot_}, {"{htpasswd}", htpasswd_},
                                 {"{modules}", stock_ ? "" : "LoadModule authz_groupfile_module /usr/lib/apache2/modules/mod_authz_groupfile.so\n"}}));
  process.pid = Spawn(server == kApache ? std::vector<std::string>{kApacheBinary, "-f", config, "-DFOREGROUND"}
                                        : std::vector<std::string>{kNginxBinary, "-p", dir_.path() + "/", "-c", config},
                      files + "-output.log");
  // Up once its port takes connections and its pid file names it: both servers write that file
  // only once they hold the port, so a program that took the port meanwhile is not mistaken for
  // it. That is rare enough to just fail then, with the log saying so.
  const auto deadline = Clock::now() + kPatience;
  for (; Clock::now() < deadline && !Ended(process.pid); std::this_thread::sleep_for(2ms))
    if (ReadIfThere(files + ".pid") == std::to_string(process.pid) + "\n" && LoopbackPort(process.port) != 0) return;
  throw std::runtime_error(std::string(Name(server)) + " did not come up on port " + std::to_string(process.port) +
                           ":\n" + ErrorLog(server));
}

PrivateServers::Process::~Process() {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (const auto deadline = Clock::now() + kPatience; Clock::now() < deadline && !Ended(pid);)
    std::this_thread::sleep_for(1ms);
  kill(-pid, SIGKILL);  // a server that did not stop, or any worker it left behind; usually none
  waitpid(pid, nullptr, 0);
}

// As root, loosened for the servers' workers (nobody): others may search the harness's folder,
// the folders of `docroot` and of the password file and those above them up to the system's
// temporary directory (not beyond), and every folder inside `docroot`; and read the password file
// and every file inside `docroot`. Again before every request, for files a test rewrote.
void PrivateServers::GrantAccess() const {
  if (geteuid() != 0) return;
  const auto allow = [](const fs::path& path, fs::perms bits) { fs::permissions(path, bits, fs::perm_options::add); };
  const std::string temp = fs::canonical(fs::temp_directory_path()).string() + "/";
  for (const fs::path& folder : {fs::path(dir_.path()), fs::path(docroot_), fs::path(htpasswd_).parent_path()}) {
    allow(folder, fs::perms::others_exec);
    for (fs::path up = fs::canonical(folder).parent_path(); up.string().starts_with(temp); up = up.parent_path())
      allow(up, fs::perms::others_exec);
  }
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(docroot_))
    allow(entry.path(), entry.is_directory() ? fs::perms::others_exec : fs::perms::others_read);
  allow(htpasswd_, fs::perms::others_read);
}

std::vector<int> PrivateServers::Statuses(Server server, const std::string& path,
                                          const std::vector<std::optional<Credentials>>& requests, int patience_seconds) {
  GrantAccess();
  // One curl for every request, each after --next with options of its own. -q: no ~/.curlrc;
  // --noproxy: a proxy from the environment must not answer for loopback; -g and --path-as-is:
  // the path goes out byte for byte, unglobbed and unnormalised.
  std::vector<std::string> argv = {kCurlBinary, "-q"};
  for (const auto& credentials : requests) {
    if (argv.size() > 2) argv.push_back("--next");
    argv.insert(argv.end(), {"-s", "-g", "--path-as-is", "--noproxy", "*", "--max-time", std::to_string(patience_seconds), "-o", "/dev/null",
                             "-D", dir_.File("curl-headers"), "-w", "%{http_code}\n",
                             "http://127.0.0.1:" + std::to_string(servers_[server].port) + path});
    if (credentials)
      argv.insert(argv.end(), {"-H", "Authorization: Basic " + Base64(credentials->first + ":" + credentials->second)});
  }
  const std::string answers = dir_.File("curl-output");
  waitpid(Spawn(argv, answers), nullptr, 0);
  std::istringstream in(ReadBytes(answers));
  std::vector<int> statuses(requests.size());
  for (int& status : statuses) in >> status;  // 0 where none came
  return statuses;
}

std::string PrivateServers::Realm(Server server, const std::string& path) {
  Statuses(server, path, {std::nullopt});
  const std::string text = ReadIfThere(dir_.File("curl-headers"));
  constexpr std::string_view kRealm = "realm=\"";
  const std::size_t from = text.find(kRealm);
  return from == std::string::npos ? "" : text.substr(from + kRealm.size(), text.find("\"\r\n", from) - from - kRealm.size());
}

std::string PrivateServers::ErrorLog(Server server) const {
  const std::string files = dir_.File(Name(server));
  return ReadIfThere(files + "-error.log") + ReadIfThere(files + "-output.log");
}

#include "test_files.h"

#include <apr_md5.h>
#include <crypt.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>
#include <fcntl.h>
#include <grp.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iconv.h>

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "vastelo-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempDir::Listing() const { return ::Listing(path_); }

std::string Listing(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) names.insert(entry.path().filename().string());
  std::string out;
  for (const auto& n : names) out += (out.empty() ? "" : " ") + n;
  return out;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

unsigned FileMode(const std::string& path) {
  return static_cast<unsigned>(fs::status(path).permissions() & fs::perms::mask);
}

std::optional<std::string> AsOrdinaryUser(const TempDir& dir, const std::function<std::string()>& piece) {
  if (geteuid() != 0) return piece();
  constexpr uid_t kNobody = 65534;
  lchown(dir.path().c_str(), kNobody, kNobody);
  for (const auto& entry : fs::recursive_directory_iterator(dir.path())) lchown(entry.path().c_str(), kNobody, kNobody);
  // The answer comes back in memory that parent and child share, zero-filled, so that it ends with
  // a NUL; a leading mark tells an empty answer from a child that could not become the ordinary user.
  constexpr std::size_t kShared = 1 << 16;
  // An anonymous mapping has no file: -1 is what POSIX asks for, which the checker does not know.
  // cppcheck-suppress invalidFunctionArg
  void* shared = mmap(nullptr, kShared, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  const pid_t child = shared == MAP_FAILED ? -1 : fork();
  if (child < 0) throw std::runtime_error("cannot start a child process");
  if (child == 0) {
    // Nothing may escape the child: it would go on to run the rest of the tests.
    std::string answer;
    try {
      if (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0) answer = "=" + piece();
    } catch (const std::exception& e) {
      answer = std::string("=escaped: ") + e.what();
    }
    answer.copy(static_cast<char*>(shared), kShared - 1);
    _exit(0);
  }
  waitpid(child, nullptr, 0);
  const std::string answer(static_cast<const char*>(shared));
  munmap(shared, kShared);
  return answer.empty() ? std::nullopt : std::optional(answer.substr(1));
}

TChild StartProgram(const std::string& program, const std::vector<std::string>& args,
                    const std::vector<std::pair<std::string, std::string>>& env, const std::string& input,
                    const std::function<void(pid_t)>& before_input, int stdout_fd, const std::string& cwd) {
  std::signal(SIGPIPE, SIG_IGN);  // a program that ends before reading its stdin must not end the test
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0), dup2(stdout_fd >= 0 ? stdout_fd : out[1], 1), dup2(err[1], 2);
    std::signal(SIGPIPE, SIG_DFL), std::signal(SIGINT, SIG_DFL);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (cwd.empty() || chdir(cwd.c_str()) == 0) execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]), close(out[1]), close(err[1]);
  if (before_input) before_input(pid);
  (void)!write(in[1], input.data(), input.size());
  close(in[1]);
  return {pid, out[0], err[0]};
}

TRun Finish(const TChild& child) {
  const auto drain = [](int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    return text;
  };
  TRun run{0, drain(child.out), drain(child.err)};
  int status = 0;
  waitpid(child.pid, &status, 0);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

namespace {
// Its own converter, not the product's: an expected text must not come from the code it checks.
std::string Convert(const char* to, const char* from, std::string_view text) {
  iconv_t cd = iconv_open(to, from);
  std::string out(text.size() * 3 + 4, '\0');
  char* in = const_cast<char*>(text.data());
  char* dst = out.data();
  std::size_t in_left = text.size(), dst_left = out.size();
  const std::size_t rc = iconv(cd, &in, &in_left, &dst, &dst_left);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1)) throw std::runtime_error(std::string("not representable in ") + to);
  out.resize(out.size() - dst_left);
  return out;
}
}  // namespace

std::string Sjis(std::string_view utf8) { return Convert("CP932", "UTF-8", utf8); }
std::string Utf8(std::string_view cp932) { return Convert("UTF-8", "CP932", cp932); }

std::string Crypt(const std::string& password, const std::string& setting) {
  crypt_data data{};
  const char* out = crypt_r(password.c_str(), setting.c_str(), &data);
  return out ? out : "";
}

std::string Apr1(const std::string& password, const std::string& salt) {
  char out[64];
  apr_md5_encode(password.c_str(), ("$apr1$" + salt + "$").c_str(), out, sizeof out);
  return out;
}

bool AprAccepts(const std::string& password, const std::string& hash) {
  return apr_password_validate(password.c_str(), hash.c_str()) == APR_SUCCESS;
}

bool CryptAccepts(const std::string& password, const std::string& hash) {
  crypt_data data{};
  const char* out = crypt_r(password.c_str(), hash.c_str(), &data);
  return out != nullptr && hash == out;
}

std::map<std::string, std::string> ServerUsers(const std::string& bytes) {
  std::map<std::string, std::string> users;
  std::istringstream lines(bytes);
  for (std::string line; std::getline(lines, line);) {
    if (line.ends_with('\r')) line.pop_back();
    if (const std::size_t colon = line.find(':'); !line.starts_with('#') && colon != std::string::npos)
      users.emplace(line.substr(0, colon), line.substr(colon + 1));
  }
  return users;
}

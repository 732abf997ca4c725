#include "test_files.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <iconv.h>

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vastelo-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Listing() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
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
  struct stat st{};
  if (stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot stat " + path);
  return st.st_mode & 07777;
}

std::optional<std::string> AsOrdinaryUser(const TempDir& dir, const std::function<std::string()>& piece) {
  if (geteuid() != 0) return piece();
  constexpr uid_t kNobody = 65534;
  lchown(dir.path().c_str(), kNobody, kNobody);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
    lchown(entry.path().c_str(), kNobody, kNobody);
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    // A leading mark tells an empty answer from a child that could not become the ordinary user.
    // Nothing may escape the child: it would go on to run the rest of the tests.
    std::string answer;
    try {
      if (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0) answer = "=" + piece();
    } catch (const std::exception& e) {
      answer = std::string("=escaped: ") + e.what();
    }
    // A blocking pipe takes a short answer whole.
    [[maybe_unused]] const ssize_t sent = write(pipe_fds[1], answer.data(), answer.size());
    _exit(0);
  }
  close(pipe_fds[1]);
  std::string answer;
  char buffer[512];
  for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
  close(pipe_fds[0]);
  waitpid(child, nullptr, 0);
  if (answer.empty()) return std::nullopt;
  return answer.substr(1);
}

std::string Sjis(std::string_view utf8) {
  // Its own converter, not the product's: an expected message must not come from the code it checks.
  iconv_t cd = iconv_open("CP932", "UTF-8");
  std::string out(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t in_left = utf8.size();
  char* dst = out.data();
  std::size_t dst_left = out.size();
  const std::size_t rc = iconv(cd, &in, &in_left, &dst, &dst_left);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1)) throw std::runtime_error("not representable in CP932");
  out.resize(out.size() - dst_left);
  return out;
}

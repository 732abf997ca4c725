// vastelo-cli's edits of a live .htpasswd of a million users, each beside the peer that does the
// same job, in one run: Apache's htpasswd for add, delete and verify (and, as the nearest job that
// reads the whole file, for check), `LC_ALL=C sort` of the result for an import of 100,000 users.
// Each program is a process of its own, as a deploy script runs it: wall time, the child's peak
// memory, and the command's ratio to its peer.
//
// Every line holds one real apr1 hash of "pw" (the salt repeated; neither side looks at it until
// it checks a password), so the file is written in a second and every user verifies. The import
// hashes with DES, the cheapest form, so that it measures the edit rather than the hashing.
//
//   live_file_bench PATH-TO-vastelo-cli
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hashes/hashes.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const char* g_cli = nullptr;
constexpr int kUsers = 1'000'000;
constexpr int kImported = 100'000;
constexpr char kPassword[] = "pw";
const std::string kLastUser = "user1000000";  // the worst case of a search: the file's last line

std::string Workspace() {
  static const std::string dir = [] {
    std::string d = (fs::temp_directory_path() / "vastelo-live-bench-XXXXXX").string();
    if (!mkdtemp(d.data())) std::abort();
    return d;
  }();
  return dir;
}

// kUsers lines "user0000001:HASH", the same real hash on each.
std::string LiveFile(const std::string& name, hashes::Format format, int cost) {
  const std::string path = Workspace() + "/" + name;
  if (fs::exists(path)) return path;
  const std::string hash = hashes::HashWithSetting(kPassword, hashes::DrawSetting(format, {.bcrypt_cost = cost}));
  std::ofstream out(path, std::ios::binary);
  char user[16];
  for (int i = 1; i <= kUsers; ++i) {
    std::snprintf(user, sizeof user, "user%07d:", i);
    out << user << hash << '\n';
  }
  return path;
}
std::string Apr1File() { return LiveFile("apr1.htpasswd", hashes::Format::Apr1, 10); }
// A file in which check finds nothing at --min-cost 4: every line a strong form, every name once.
std::string BcryptFile() { return LiveFile("bcrypt4.htpasswd", hashes::Format::Bcrypt, 4); }

std::string TextFile(const std::string& name, const std::string& text) {
  const std::string path = Workspace() + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

// Every odd row a user already in the file (a new password), every even row a new user.
std::string ImportFile() {
  const std::string path = Workspace() + "/import.csv";
  if (fs::exists(path)) return path;
  std::ofstream out(path, std::ios::binary);
  char name[16];
  for (int k = 1; k <= kImported; ++k) {
    if (k % 2) std::snprintf(name, sizeof name, "user%07d", k * 10);
    else std::snprintf(name, sizeof name, "new%07d", k);
    out << name << ",pw" << k << '\n';
  }
  return path;
}

struct TRun {
  double seconds;
  double peak_mb;
};

// Runs a program to its end with stdin from `input`, stdout and stderr to /dev/null: wall time and
// the child's peak memory, never below the benchmark's own (about 4 MB), which the child starts in
// and its exec counts. Aborts unless it exits with `expected`.
TRun Run(std::vector<std::string> args, const std::string& input = "/dev/null", int expected = 0) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) std::abort();
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != expected) {
    std::fprintf(stderr, "%s exited with %d\n", args[0].c_str(), status);
    std::abort();
  }
  return {took.count(), static_cast<double>(usage.ru_maxrss) / 1024.0};
}

// The totals of one pair over the iterations, as counters.
struct TPair {
  double cli = 0, peer = 0, cli_peak = 0, peer_peak = 0;
  void Add(const TRun& ours, const TRun& theirs) {
    cli += ours.seconds;
    peer += theirs.seconds;
    cli_peak = std::max(cli_peak, ours.peak_mb);
    peer_peak = std::max(peer_peak, theirs.peak_mb);
  }
  void Report(benchmark::State& state) const {
    const auto n = static_cast<double>(state.iterations());
    state.counters["cli_s"] = cli / n;
    state.counters["peer_s"] = peer / n;
    state.counters["x_peer"] = cli / peer;
    state.counters["cli_MB"] = cli_peak;
    state.counters["peer_MB"] = peer_peak;
  }
};

// Fresh copies of the file for each side: what one run changed does not reach the next.
void FreshCopies(const std::string& from, const std::string& ours, const std::string& theirs) {
  fs::copy_file(from, ours, fs::copy_options::overwrite_existing);
  fs::copy_file(from, theirs, fs::copy_options::overwrite_existing);
}

// Both sides must have made the same change: with hashes of one length, files of one size.
void SameSize(const std::string& ours, const std::string& theirs) {
  if (fs::file_size(ours) != fs::file_size(theirs)) std::abort();
}

void AddUser(benchmark::State& state) {
  const std::string base = Apr1File(), ours = Workspace() + "/ours", theirs = Workspace() + "/theirs";
  const std::string password = TextFile("password", std::string(kPassword) + "\n");
  TPair pair;
  for (auto _ : state) {
    FreshCopies(base, ours, theirs);
    const TRun peer = Run({"htpasswd", "-b", "-m", theirs, "newuser", kPassword});
    pair.Add(Run({g_cli, "add", ours, "newuser", "--format", "apr1"}, password), peer);
    SameSize(ours, theirs);
  }
  pair.Report(state);
}

void DeleteUser(benchmark::State& state) {
  const std::string base = Apr1File(), ours = Workspace() + "/ours", theirs = Workspace() + "/theirs";
  TPair pair;
  for (auto _ : state) {
    FreshCopies(base, ours, theirs);
    const TRun peer = Run({"htpasswd", "-D", theirs, kLastUser});
    pair.Add(Run({g_cli, "delete", ours, kLastUser}), peer);
    SameSize(ours, theirs);
  }
  pair.Report(state);
}

// vastelo-cli answers as Apache and as nginx read the file: it reads it twice.
void VerifyUser(benchmark::State& state) {
  const std::string file = Apr1File();
  const std::string password = TextFile("password", std::string(kPassword) + "\n");
  TPair pair;
  for (auto _ : state) {
    const TRun peer = Run({"htpasswd", "-vb", file, kLastUser, kPassword});
    pair.Add(Run({g_cli, "verify", file, kLastUser}, password), peer);
  }
  pair.Report(state);
}

// check has no peer: beside it, htpasswd verifying the last user, which reads as many lines. In the
// apr1 file every line is a finding (a fast hash), a million lines of output; in the bcrypt file at
// --min-cost 4 none is.
void CheckFile(benchmark::State& state) {
  const bool findings = state.range(0) != 0;
  const std::string file = findings ? Apr1File() : BcryptFile();
  std::vector<std::string> check{g_cli, "check", file};
  if (!findings) check.insert(check.end(), {"--min-cost", "4"});
  TPair pair;
  for (auto _ : state) {
    const TRun peer = Run({"htpasswd", "-vb", file, kLastUser, kPassword});
    pair.Add(Run(check, "/dev/null", findings ? 1 : 0), peer);
  }
  pair.Report(state);
}

// 100,000 users, half of them new, into the apr1 file, beside sort of the file that results.
void ImportUsers(benchmark::State& state) {
  const std::string base = Apr1File(), csv = ImportFile(), ours = Workspace() + "/ours";
  TPair pair;
  for (auto _ : state) {
    fs::copy_file(base, ours, fs::copy_options::overwrite_existing);
    const TRun run = Run({g_cli, "import", ours, csv, "--format", "des"});
    pair.Add(run, Run({"sort", ours}));
  }
  pair.Report(state);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PATH-TO-vastelo-cli [benchmark options]\n", argv[0]);
    return 2;
  }
  g_cli = argv[1];
  // The children's: in-place saves keep their copies here, and sort compares bytes.
  setenv("XDG_STATE_HOME", Workspace().c_str(), 1);
  setenv("LC_ALL", "C", 1);
  const auto each = [](const char* name, void (*run)(benchmark::State&)) {
    return benchmark::RegisterBenchmark(name, run)->Iterations(5)->Unit(benchmark::kSecond);
  };
  each("AddBesideHtpasswd/1000000", AddUser);
  each("DeleteBesideHtpasswd/1000000", DeleteUser);
  each("VerifyBesideHtpasswd/1000000", VerifyUser);
  each("CheckBesideHtpasswdVerify/1000000", CheckFile)->ArgName("findings")->Arg(1)->Arg(0);
  each("ImportBesideSort/100000", ImportUsers);
  benchmark::RunSpecifiedBenchmarks();
  fs::remove_all(Workspace());
  return 0;
}

// vastelo-cli's build of a million users in Shift-JIS with DES, beside `LC_ALL=C sort` of the same
// file, in one run: the command's wall time and peak memory (a process of its own, as a deploy
// script runs it), its ratio to sort's, and the core's load, build and save times in this process.
//
//   cli_bench PATH-TO-vastelo-cli
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/credential_build.h"
#include "platform/cp932.h"

namespace {

const char* g_cli = nullptr;
constexpr int kUsers = 1'000'000;

std::string Workspace() {
  static const std::string dir = [] {
    std::string d = (std::filesystem::temp_directory_path() / "vastelo-cli-bench-XXXXXX").string();
    if (!mkdtemp(d.data())) std::abort();
    return d;
  }();
  return dir;
}

// Mostly ASCII names, every tenth a Japanese one, every seventh password empty (to be generated).
std::string UserFile() {
  const std::string path = Workspace() + "/users.csv";
  if (std::filesystem::exists(path)) return path;
  const std::string japanese = *platform::Utf8ToCp932("利用者");
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < kUsers; ++i)
    out << (i % 10 == 9 ? japanese : std::string("user")) << i << ',' << (i % 7 ? "pw" + std::to_string(i * 7919) : "")
        << "\r\n";
  return path;
}

struct TRun {
  double seconds;
  double peak_mb;
};

// Runs a program to its end, its output to /dev/null: wall time and the child's peak memory.
TRun Run(std::vector<std::string> args) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (!std::freopen("/dev/null", "w", stdout)) _exit(126);
    setenv("LC_ALL", "C", 1);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::abort();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return {took.count(), static_cast<double>(usage.ru_maxrss) / 1024.0};
}

void CommandBesideSort(benchmark::State& state) {
  const std::string file = UserFile(), out = Workspace() + "/site";
  double cli = 0, sort = 0, peak = 0;
  for (auto _ : state) {
    sort += Run({"sort", file}).seconds;
    std::filesystem::remove_all(out);
    const TRun run = Run({g_cli, "build", file, "-o", out, "--format", "des", "--encoding", "sjis"});
    cli += run.seconds;
    peak = std::max(peak, run.peak_mb);
  }
  state.counters["cli_s"] = cli / static_cast<double>(state.iterations());
  state.counters["sort_s"] = sort / static_cast<double>(state.iterations());
  state.counters["x_sort"] = cli / sort;
  state.counters["peak_MB"] = peak;
}

// The core's steps, timed apart: the loading ends where the hashing first reports.
void CoreSteps(benchmark::State& state) {
  const std::string file = UserFile(), out = Workspace() + "/core";
  std::filesystem::create_directories(out);
  double load = 0, build = 0, save = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point loaded{};
    const core::TBuiltFiles built = *core::BuildCredentialFile(file, {}, [&](std::size_t, std::size_t) {
      if (loaded == std::chrono::steady_clock::time_point{}) loaded = std::chrono::steady_clock::now();
      return true;
    });
    const auto hashed = std::chrono::steady_clock::now();
    core::SaveFileSet({{out + "/.htpasswd", built.htpasswd, core::FileKind::Public},
                       {out + "/.htaccess", core::ServedHtaccessText(out + "/.htpasswd", "Protected_area"), core::FileKind::Public},
                       {out + "/passwd.txt", built.passwd, core::FileKind::Secret}});
    const auto saved = std::chrono::steady_clock::now();
    load += std::chrono::duration<double>(loaded - start).count();
    build += std::chrono::duration<double>(hashed - loaded).count();
    save += std::chrono::duration<double>(saved - hashed).count();
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["load_s"] = load / n;
  state.counters["build_s"] = build / n;
  state.counters["save_s"] = save / n;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PATH-TO-vastelo-cli [benchmark options]\n", argv[0]);
    return 2;
  }
  g_cli = argv[1];
  benchmark::RegisterBenchmark("CommandBesideSort/1000000", CommandBesideSort)->Iterations(3)->Unit(benchmark::kSecond);
  benchmark::RegisterBenchmark("CoreSteps/1000000", CoreSteps)->Iterations(3)->Unit(benchmark::kSecond);
  benchmark::RunSpecifiedBenchmarks();
  std::filesystem::remove_all(Workspace());
  return 0;
}

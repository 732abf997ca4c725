// How load, build and save grow with the size of the user list, through the real window's
// handlers (offscreen), with the dialogs answered by the benchmark. Prints each step's time per
// size and the growth from one size to the next; a linear step grows by about 10 for ten times the
// users. The last run, 1,000,000 users end to end, gives the peak memory. Then 1,000 users under
// bcrypt at cost 10, hashed on all cores and on one, give the build's parallel speed-up.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sys/resource.h>
#include <thread>

#include "app/dialogs.h"
#include "core/encrypt_password.h"
#include "app/application.h"
#include "app/unit1.h"
#include "platform/cp932.h"

namespace {

class BenchDialogs : public TDialogs {
 public:
  QString file, folder;
  int failures = 0;
  std::optional<QString> OpenFile(QWidget*, const QString&, const QString&, const QString&) override { return file; }
  std::optional<QString> ChooseFolder(QWidget*, const QString&) override { return folder; }
  void ShowError(QWidget*, const QString&, const QString& text) override {
    ++failures;
    std::fprintf(stderr, "failure: %s\n", qPrintable(text));
  }
  void ShowInformation(QWidget*, const QString&, const QString&) override {}
  std::optional<hashes::TStrength> ChooseStrength(QWidget*, const hashes::TStrength&) override { return {}; }
  bool Confirm(QWidget*, const QString&, const QString&) override { return false; }
  void CheckPasswords(QWidget*, const QString&, const TPasswordCheck&) override {}
  TUnsaved AskUnsaved(QWidget*, const QString&) override { return TUnsaved::Discard; }
  std::optional<QString> AskText(QWidget*, const QString&, const QString&) override { return std::nullopt; }
};

std::string Workspace() {
  static const std::string dir = [] {
    std::string d = (std::filesystem::temp_directory_path() / "vastelo-bench-XXXXXX").string();
    if (!mkdtemp(d.data())) std::abort();
    return d;
  }();
  return dir;
}

// A credential file of `users` lines in code page 932: mostly ASCII names, every tenth a
// Japanese one, every seventh password empty (to be generated).
std::string UserFile(int users) {
  std::string path = Workspace() + "/users-" + std::to_string(users) + ".csv";
  if (std::filesystem::exists(path)) return path;
  const std::string japanese = *platform::Utf8ToCp932("利用者");
  std::ofstream out(path, std::ios::binary);
  char line[64];
  for (int i = 0; i < users; ++i) {
    const std::string name = (i % 10 == 9 ? japanese : std::string("user")) + std::to_string(i);
    std::snprintf(line, sizeof line, ",%s\r\n", i % 7 == 3 ? "" : ("pw" + std::to_string(i * 7919 % 1000003)).c_str());
    out << name << line;
  }
  return path;
}

struct Session {
  BenchDialogs dialogs;
  TScopedDialogs scoped{dialogs};
  TForm1 form;
  explicit Session(int users) {
    dialogs.file = QString::fromStdString(UserFile(users));
    dialogs.folder = QString::fromStdString(Workspace());
    form.show();
  }
  void Settle() { QCoreApplication::processEvents(); }
  void Load() { Guarded([&] { form.LoadFileClick(); }); }
  void Build() { Guarded([&] { form.CreateEncClick(); }); }
  void Save() { Guarded([&] { form.SaveDataClick(); }); }
};

void Step(benchmark::State& state, const char* step) {
  const int users = static_cast<int>(state.range(0));
  Session s(users);
  const std::string name = step;
  if (name != "load") {
    s.Load();
    s.Build();
  }
  for (auto _ : state) {
    if (name == "load") s.Load();
    if (name == "build") s.Build();
    if (name == "save") s.Save();
    s.Settle();  // the screen catches up, as it would after the handler
  }
  if (s.form.UserList->Table().Strings().Count() != users || s.dialogs.failures != 0)
    state.SkipWithError("the job did not complete");
  state.SetItemsProcessed(state.iterations() * users);
}

void Load(benchmark::State& state) { Step(state, "load"); }
void Build(benchmark::State& state) { Step(state, "build"); }
void Save(benchmark::State& state) { Step(state, "save"); }

void EndToEnd(benchmark::State& state) {
  for (auto _ : state) {
    Session s(static_cast<int>(state.range(0)));
    s.Load();
    s.Settle();
    s.Build();
    s.Settle();
    s.Save();
    s.Settle();
    if (s.dialogs.failures != 0) state.SkipWithError("the job did not complete");
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The build's hashing of 1,000 users at bcrypt cost 10: on all cores as the build does it, or one
// after another on one core.
void BcryptBuild(benchmark::State& state) {
  std::vector<core::THashJob> jobs;
  for (int i = 0; i < 1000; ++i) jobs.push_back(core::DrawHashJob("pw" + std::to_string(i), hashes::Format::Bcrypt, {10, 0}));
  for (auto _ : state) {
    if (state.range(0) != 1) {
      benchmark::DoNotOptimize(core::HashJobs(jobs, [](std::size_t) { return true; }));
      continue;
    }
    for (const core::THashJob& job : jobs) benchmark::DoNotOptimize(hashes::HashWithSetting(job.password, job.setting));
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}

// Collects the times so that the growth between sizes can be printed after the run.
class GrowthReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const std::string name = run.benchmark_name();
      const std::size_t slash = name.find('/');
      times_[name.substr(0, slash)][std::stoi(name.substr(slash + 1))] = run.GetAdjustedRealTime();
    }
  }
  void PrintGrowth() const {
    if (times_.count("BcryptBuild")) {
      const auto& t = times_.at("BcryptBuild");
      const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
      const double speed_up = t.at(1) / t.at(cores);
      std::printf("\nbcrypt build on %d cores: %.2fx one core (%.2f of the core count)\n", cores, speed_up,
                  speed_up / cores);
    }
    std::printf("\nGrowth (time at one size / time at a tenth of it):\n");
    for (const auto& [step, by_size] : times_) {
      if (step == "BcryptBuild") continue;
      for (auto it = std::next(by_size.begin()); it != by_size.end(); ++it) {
        const auto previous = std::prev(it);
        if (it->first == previous->first * 10)
          std::printf("  %-9s %8d -> %8d users: %5.1fx\n", step.c_str(), previous->first, it->first,
                      it->second / previous->second);
      }
    }
  }

 private:
  std::map<std::string, std::map<int, double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The choices under 設定 of whoever runs this are not the benchmark's: DES, as at a first start.
  setenv("XDG_CONFIG_HOME", Workspace().c_str(), 1);
  TApplication application(argc, argv);
  PrepareApplication();
  for (const char* step : {"Load", "Build", "Save"}) {
    auto* b = benchmark::RegisterBenchmark(step, step[0] == 'L' ? Load : step[0] == 'B' ? Build : Save);
    b->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->MinTime(0.5);
  }
  benchmark::RegisterBenchmark("EndToEnd", EndToEnd)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);
  // The argument is the number of cores: 1, or all of them.
  benchmark::RegisterBenchmark("BcryptBuild", BcryptBuild)
      ->Arg(1)
      ->Arg(std::max(1u, std::thread::hardware_concurrency()))
      ->Unit(benchmark::kMillisecond)
      ->Iterations(1);
  benchmark::Initialize(&argc, argv);
  GrowthReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintGrowth();
  std::filesystem::remove_all(Workspace());
  return 0;
}

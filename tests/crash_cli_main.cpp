// vastelo-cli for the crash test only, never installed: the same commands, with every call through
// the file seam counted. VASTELO_DIE_AT=N kills the process with SIGKILL at the N-th call, as a
// power cut or kill -9 would (a write there first writes half its bytes, as a cut-off write
// may); VASTELO_COUNT_TO=FILE writes the number of calls made to FILE when the command ends.
#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "cli/cli.h"
#include "file_seam.h"

namespace {

class TDyingCalls : public THookedCalls {
 public:
  explicit TDyingCalls(long die_at) : die_at_(die_at) {}
  long count = 0;
  bool Fails(std::string_view, const std::function<void()>& torn) override {
    if (++count != die_at_) return false;
    if (torn) torn();
    return ::kill(::getpid(), SIGKILL), false;
  }

 private:
  long die_at_;
};

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  const char* die_at = std::getenv("VASTELO_DIE_AT");
  TDyingCalls calls(die_at ? std::atol(die_at) : 0);
  int code = 0;
  {
    const platform::TScopedFileCalls scoped(calls);
    code = cli::Run(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
  }
  if (const char* count_to = std::getenv("VASTELO_COUNT_TO")) std::ofstream(count_to) << calls.count;
  return code;
}

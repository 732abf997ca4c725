// What crosses the terminal: messages, passwords typed without echo, texts between UTF-8 and the
// table's code page, and the progress of a long build.
#include "cli/terminal.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <memory>

#include "core/encoding.h"
#include "platform/cp932.h"
#include "platform/system.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace cli {
namespace {

// One line of stdin without its end; nothing at the end of the input.
std::optional<std::string> ReadLine() {
  std::string line;
  char c = 0;
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return line.empty() ? std::nullopt : std::optional(line);
    if (c == '\n') break;
    line += c;
  }
  if (line.ends_with('\r')) line.pop_back();
  return line;
}

// The terminal as it was before echo went off, put back by a signal that ends the process during
// the prompt: a shell left without echo would look broken.
termios g_echoing{};
void RestoreEchoAndDie(int signal) {
  ::tcsetattr(STDIN_FILENO, TCSANOW, &g_echoing);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// `prompt` (a text of the table), and the typing begins after a blank.
std::string Prompted(std::string_view prompt) {
  const std::string shown = text::Utf8Message(prompt) + " ";
  WriteAll(STDERR_FILENO, shown);
  if (::tcgetattr(STDIN_FILENO, &g_echoing) != 0)
    throw TFailure(ExitCode::BadInput, text::Utf8Message(messages::STerminalNotSet, {ErrorText(errno)}));
  struct sigaction restore{}, previous[3]{};
  restore.sa_handler = RestoreEchoAndDie;
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (int i = 0; i < 3; ++i) ::sigaction(signals[i], &restore, &previous[i]);
  termios silent = g_echoing;
  silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
  const std::optional<std::string> line = ReadLine();
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_echoing);
  for (int i = 0; i < 3; ++i) ::sigaction(signals[i], &previous[i], nullptr);
  WriteAll(STDERR_FILENO, "\n");
  if (!line) throw TFailure(ExitCode::BadInput, text::Utf8Message(messages::SNoPasswordTyped));
  return *line;
}

}  // namespace

std::string ErrorText(int errnum) { return platform::Cp932ToUtf8(platform::SystemErrorText(errnum)); }

void WriteAll(int fd, std::string_view bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, &bytes[done], bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a closed pipe: nobody is left to tell
    done += static_cast<std::size_t>(n);
  }
}

void RequireUtf8(std::string_view bytes) {
  if (platform::FirstNonUtf8(bytes) != std::string_view::npos)
    throw TFailure(ExitCode::BadInput, text::Utf8Message(messages::SArgumentNotUtf8));
}

void Complain(std::string_view utf8) { WriteAll(STDERR_FILENO, "vastelo-cli: " + std::string(utf8) + "\n"); }

void Print(std::string_view utf8) { WriteAll(STDOUT_FILENO, utf8); }

std::string NoSuchUser(std::string_view name) { return text::Utf8Message(messages::SNoSuchUser, {name}); }
std::string NoUsersIn(std::string_view path) { return text::Utf8Message(messages::SNoUsersIn, {Shown(path)}); }

std::string TableText(std::string_view utf8) {
  RequireUtf8(utf8);
  core::TCp932OrBadChar converted = core::ExactCp932(core::ComposedUtf8(utf8));
  if (!converted.ok) throw TFailure(ExitCode::BadInput, text::Utf8Message(messages::SArgumentNotCp932, {converted.bad_char}));
  return std::move(converted.bytes);
}

std::string Shown(std::string_view bytes) {
  return platform::FirstNonUtf8(bytes) == std::string_view::npos ? std::string(bytes) : platform::Cp932ToUtf8(bytes);
}

std::string FileLine(std::string_view path, std::size_t line) {
  return platform::AbsolutePath(path) + ":" + std::to_string(line) + ": ";
}

std::string ReadPassword(bool confirm) {
  if (!::isatty(STDIN_FILENO)) {
    const std::optional<std::string> line = ReadLine();
    if (!line) throw TFailure(ExitCode::BadInput, text::Utf8Message(messages::SNoPasswordOnStdin));
    return *line;
  }
  std::string password = Prompted(messages::SPasswordPrompt);
  if (confirm && Prompted(messages::SConfirmPrompt) != password)
    throw TFailure(ExitCode::BadInput, text::Utf8Message(messages::SConfirmationDiffers));
  return password;
}

std::function<bool(std::size_t, std::size_t)> ShowProgress() {
  // Shared by the calls of one build, and ended with a line break when the build is done.
  struct TShown {
    bool terminal = ::isatty(STDERR_FILENO) != 0;
    std::uint64_t start = platform::HighResolutionCounter();
    std::size_t done = 0, total = 0;
    bool showing = false;
    ~TShown() {
      const std::string count = std::to_string(total);
      if (showing) WriteAll(STDERR_FILENO, "\r" + text::Utf8Message(messages::SBuildProgress, {count, count}) + "\n");
    }
  };
  auto shown = std::make_shared<TShown>();
  return [shown](std::size_t done, std::size_t total) {
    constexpr std::uint64_t kSecond = 1'000'000'000;
    shown->total = total;
    if (!shown->terminal || (done == shown->done && shown->showing)) return true;
    if (!shown->showing && platform::HighResolutionCounter() - shown->start <= kSecond) return true;
    shown->done = done;
    shown->showing = true;
    WriteAll(STDERR_FILENO, "\r" + text::Utf8Message(messages::SBuildProgress, {std::to_string(done), std::to_string(total)}));
    return true;
  };
}

std::vector<std::string> HashShowingProgress(const std::vector<core::THashJob>& jobs) {
  return *core::HashJobs(jobs, [progress = ShowProgress(), total = jobs.size()](std::size_t done) { return progress(done, total); });
}

void PrintOrFail(std::string_view utf8) {
  // A reader gone is EPIPE here, not SIGPIPE: the run must live on to say that nothing was saved.
  struct sigaction ignore{}, previous{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &previous);
  int error = 0;
  while (!utf8.empty()) {
    const ssize_t n = ::write(STDOUT_FILENO, utf8.data(), utf8.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    utf8.remove_prefix(static_cast<std::size_t>(n));
  }
  if (error == 0 && ::fsync(STDOUT_FILENO) != 0 && errno != EINVAL && errno != EROFS && errno != ENOTTY) error = errno;
  ::sigaction(SIGPIPE, &previous, nullptr);
  if (error != 0) throw TFailure(ExitCode::BadInput, text::Utf8Message(messages::SPasswordsNotWritten, {ErrorText(error)}));
}

}  // namespace cli

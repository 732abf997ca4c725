#include "cli/common.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <memory>

#include "core/encoding.h"
#include "core/save_set.h"
#include "hashes/formats.h"
#include "platform/cp932.h"
#include "platform/key_fold.h"
#include "platform/system.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace cli {
namespace {

std::string ErrorText(int errnum) { return platform::Cp932ToUtf8(platform::SystemErrorText(errnum)); }

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a closed pipe: nobody is left to tell
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

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

std::string Prompted(const char* prompt) {
  WriteAll(STDERR_FILENO, prompt);
  if (::tcgetattr(STDIN_FILENO, &g_echoing) != 0) throw TFailure(ExitCode::BadInput, "端末を設定できません: " + ErrorText(errno));
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
  if (!line) throw TFailure(ExitCode::BadInput, "パスワードが入力されませんでした");
  return *line;
}

// A message of the table with its "%s" filled with UTF-8 texts.
std::string Said(std::string_view cp932_format, std::initializer_list<std::string_view> utf8) {
  return text::FormatMessage(platform::Cp932ToUtf8(cp932_format), utf8);
}

void Tick(int) {}

// Takes the exclusive flock on `fd`, saying once on stderr that it waits after a second, giving
// up (ExitCode::BadInput) after `wait` seconds. 0, or the errno of a failure other than waiting.
int LockWaiting(int fd, const std::string& shown, TWait wait) {
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
  if (errno != EWOULDBLOCK && errno != EINTR) return errno;
  const auto timed_out = [&] {
    return TFailure(ExitCode::BadInput, Said(messages::SLockTimedOut, {shown, std::to_string(*wait)}));
  };
  if (wait && *wait == 0) throw timed_out();
  // A blocking flock that a tick interrupts every tenth of a second: the kernel keeps the order
  // in which runs began to wait, which a loop of tries would not.
  struct sigaction tick{}, previous{};
  tick.sa_handler = Tick;  // without SA_RESTART, so that flock returns EINTR
  sigemptyset(&tick.sa_mask);
  ::sigaction(SIGALRM, &tick, &previous);
  const itimerval every{{0, 100'000}, {0, 100'000}}, off{};
  ::setitimer(ITIMER_REAL, &every, nullptr);
  const auto start = std::chrono::steady_clock::now();
  bool told = false;
  int error = 0;
  for (;;) {
    if (::flock(fd, LOCK_EX) == 0) break;
    if (errno != EINTR) {
      error = errno;
      break;
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    if (!told && waited >= std::chrono::seconds(1)) {
      Complain(Said(messages::SLockWaiting, {shown}));
      told = true;
    }
    if (wait && waited >= std::chrono::seconds(*wait)) {
      error = -1;
      break;
    }
  }
  ::setitimer(ITIMER_REAL, &off, nullptr);
  ::sigaction(SIGALRM, &previous, nullptr);
  if (error == -1) throw timed_out();
  return error;
}

// The folder of the file that saving `path` writes. Nothing there: no link to follow, and a folder
// missing on the way is told when it cannot be opened.
std::string FolderToLock(const std::string& path) {
  struct stat st{};
  return platform::FolderOf(::lstat(path.c_str(), &st) == 0 ? core::SaveTarget(path) : path);
}

std::uint64_t Fnv1a(std::uint64_t hash, std::string_view bytes) {
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return hash;
}

void RequireUtf8(std::string_view text) {
  if (platform::FirstNonUtf8(text) != std::string_view::npos)
    throw TFailure(ExitCode::BadInput, "UTF-8 として正しくないバイトがあるため、使えません");
}

}  // namespace

void Complain(std::string_view utf8) { WriteAll(STDERR_FILENO, "vastelo-cli: " + std::string(utf8) + "\n"); }

void Print(std::string_view utf8) { WriteAll(STDOUT_FILENO, utf8); }

TArguments::TArguments(const std::vector<std::string>& words, std::initializer_list<std::string_view> valued,
                       std::initializer_list<std::string_view> flags, std::size_t min, std::size_t max) {
  const auto listed = [](std::initializer_list<std::string_view> list, std::string_view name) {
    for (std::string_view o : list)
      if (o == name) return true;
    return false;
  };
  bool options_end = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (options_end || word == "-" || !word.starts_with('-')) {
      positional_.push_back(word);
    } else if (word == "--") {
      options_end = true;
    } else if (const std::size_t eq = word.find('='); eq != std::string::npos && listed(valued, word.substr(0, eq))) {
      options_.emplace_back(word.substr(0, eq), word.substr(eq + 1));
    } else if (listed(flags, word)) {
      options_.emplace_back(word, "");
    } else if (!listed(valued, word)) {
      throw TFailure(ExitCode::Usage, "不明なオプション " + word + " です");
    } else if (i + 1 == words.size()) {
      throw TFailure(ExitCode::Usage, "オプション " + word + " に値がありません");
    } else {
      options_.emplace_back(word, words[++i]);
    }
  }
  if (positional_.size() < min) throw TFailure(ExitCode::Usage, "引数が足りません（vastelo-cli --help で使い方を表示します）");
  if (positional_.size() > max) throw TFailure(ExitCode::Usage, "余分な引数 " + positional_[max] + " があります");
}

std::optional<std::string> TArguments::Value(std::string_view option) const {
  std::optional<std::string> value;
  for (const auto& [name, given] : options_)
    if (name == option) value = given;
  return value;
}

bool TArguments::Flag(std::string_view option) const { return Value(option).has_value(); }

unsigned long TArguments::Number(std::string_view option, unsigned long fallback, unsigned long low,
                                 unsigned long high) const {
  const std::optional<std::string> text = Value(option);
  if (!text) return fallback;
  unsigned long number = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), number);
  if (error != std::errc() || end != text->data() + text->size() || number < low || number > high)
    throw TFailure(ExitCode::Usage, std::string(option) + " は " + std::to_string(low) + " から " + std::to_string(high) +
                               " までの整数です: " + *text);
  return number;
}

core::TSettings SettingsFrom(const TArguments& args) {
  core::TSettings settings{hashes::Format::Bcrypt, {}, true};
  const std::string format = args.Value("--format").value_or(std::string(hashes::RowOf(settings.format).name));
  const std::optional<hashes::Format> named = hashes::FormatNamed(format);
  if (!named) throw TFailure(ExitCode::Usage, "不明なハッシュ形式 " + format + " です（" + hashes::FormatNames(", ") + "）");
  settings.format = *named;
  settings.strength.bcrypt_cost = static_cast<int>(
      args.Number("--cost", 10, hashes::kMinBcryptCost, hashes::kMaxBcryptCost));
  settings.strength.sha512_rounds =
      args.Number("--rounds", settings.strength.sha512_rounds, hashes::kMinSha512Rounds, hashes::kMaxSha512Rounds);
  const std::string encoding = args.Value("--encoding").value_or("utf8");
  if (encoding != "utf8" && encoding != "sjis") throw TFailure(ExitCode::Usage, "不明な文字コード " + encoding + " です（sjis, utf8）");
  settings.utf8 = encoding == "utf8";
  return settings;
}

std::string NoSuchUser(std::string_view name) { return "ユーザ「" + std::string(name) + "」はいません"; }
std::string NoUsersIn(std::string_view path) { return "\"" + Shown(path) + "\" にユーザがいません"; }

std::string TableText(std::string_view utf8) {
  RequireUtf8(utf8);
  core::TCp932OrBadChar converted = core::ExactCp932(core::ComposedUtf8(utf8));
  if (!converted.ok) throw TFailure(ExitCode::BadInput, "文字 U+" + converted.bad_char + " はShift-JISで表せないため、使えません");
  return std::move(converted.bytes);
}

std::string ServerBytes(std::string_view utf8, bool utf8_mode) {
  if (!utf8_mode) return TableText(utf8);
  RequireUtf8(utf8);
  return core::ComposedUtf8(utf8);
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
    if (!line) throw TFailure(ExitCode::BadInput, "標準入力からパスワードを読めません");
    return *line;
  }
  std::string password = Prompted("パスワード: ");
  if (confirm && Prompted("パスワード（確認）: ") != password) throw TFailure(ExitCode::BadInput, "確認のパスワードが一致しません");
  return password;
}

bool Exists(const std::string& path) {
  struct stat st{};
  return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

TWait WaitFrom(const TArguments& args) {
  if (!args.Value("--wait")) return std::nullopt;
  return args.Number("--wait", 0, 0, 31'536'000);  // a year: a bound nobody means longer than
}

TFolderLock::TFolderLock(const std::string& path, TWait wait) {
  const std::string shown = platform::AbsolutePath(path);
  for (;;) {
    const std::string folder = FolderToLock(path);
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) throw TFailure(ExitCode::BadInput, "フォルダ \"" + Shown(folder) + "\" を開けません: " + ErrorText(errno));
    try {
      if (const int error = LockWaiting(fd_, shown, wait); error != 0)
        throw TFailure(ExitCode::BadInput, "フォルダ \"" + Shown(folder) + "\" をロックできません: " + ErrorText(error));
      // A link may have been changed while we waited: the lock held must be that of the file as it
      // is now, or another run that follows the link now takes another lock.
      struct stat held{}, now{};
      if (::fstat(fd_, &held) == 0 && ::stat(FolderToLock(path).c_str(), &now) == 0 && held.st_dev == now.st_dev &&
          held.st_ino == now.st_ino)
        return;
    } catch (...) {
      ::close(fd_);
      throw;
    }
    ::close(fd_);
  }
}

TFolderLock::~TFolderLock() { ::close(fd_); }

void RecoverFolder(const std::string& folder) {
  if (const std::string note = core::RecoverCutSaves(folder); !note.empty()) Complain(platform::Cp932ToUtf8(note));
}

TSignalsHeld::TSignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, s);
  ::pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

TSignalsHeld::~TSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

std::function<bool(std::size_t, std::size_t)> ShowProgress() {
  // Shared by the calls of one build, and ended with a line break when the build is done.
  struct TShown {
    bool terminal = ::isatty(STDERR_FILENO) != 0;
    std::uint64_t start = platform::HighResolutionCounter();
    std::size_t done = 0, total = 0;
    bool showing = false;
    ~TShown() {
      if (showing) WriteAll(STDERR_FILENO, "\r作成中 " + std::to_string(total) + "/" + std::to_string(total) + "\n");
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
    WriteAll(STDERR_FILENO, "\r作成中 " + std::to_string(done) + "/" + std::to_string(total));
    return true;
  };
}

void BuildShowingProgress(core::TJob& job) { job.Build(ShowProgress()); }

std::vector<std::string> HashShowingProgress(const std::vector<core::THashJob>& jobs) {
  return *core::HashJobs(jobs, [progress = ShowProgress(), total = jobs.size()](std::size_t done) { return progress(done, total); });
}

std::string UserName(std::string_view utf8, bool utf8_mode, bool maintainable) {
  std::string name = utf8_mode ? (RequireUtf8(utf8), std::string(utf8)) : TableText(utf8);
  const std::string_view problem = core::NameProblem(name);
  // A control byte or ':' can be no name a server reads: refused even for a removal.
  if (!problem.empty() && (!maintainable || problem == messages::SNameControl))
    throw TFailure(ExitCode::BadInput, platform::Cp932ToUtf8(problem));
  return name;
}

std::string Password(std::string_view utf8, bool utf8_mode) {
  std::string password = utf8_mode ? (RequireUtf8(utf8), std::string(utf8)) : TableText(utf8);
  if (const std::string_view problem = core::PasswordProblem(password); !problem.empty())
    throw TFailure(ExitCode::BadInput, platform::Cp932ToUtf8(problem));
  return password;
}

TFileReader::TFileReader(const std::string& path, bool missing_ok) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0 && !(missing_ok && errno == ENOENT)) throw text::EFOpenError(path, errno);
  if (fd_ >= 0 && (::fstat(fd_, &st_) != 0 || !S_ISREG(st_.st_mode))) {
    ::close(fd_);
    throw TFailure(ExitCode::BadInput, "\"" + Shown(path) + "\" は通常のファイルではありません");
  }
}

TFileReader::~TFileReader() {
  if (fd_ >= 0) ::close(fd_);
}

std::function<std::size_t(char*, std::size_t)> TFileReader::Read() {
  return [this](char* buffer, std::size_t size) -> std::size_t {
    if (fd_ < 0) return 0;
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0) {
        hash_ = Fnv1a(hash_, {buffer, static_cast<std::size_t>(n)});
        length_ += static_cast<std::uint64_t>(n);
        return static_cast<std::size_t>(n);
      }
      if (errno != EINTR) throw text::EFOpenError(path_, errno);
    }
  };
}

bool TFileReader::Unchanged(bool again) const {
  const auto same = [&](const struct stat& now) {
    return now.st_dev == st_.st_dev && now.st_ino == st_.st_ino && now.st_size == st_.st_size &&
           now.st_mtim.tv_sec == st_.st_mtim.tv_sec && now.st_mtim.tv_nsec == st_.st_mtim.tv_nsec;
  };
  struct stat now{};
  if (::stat(path_.c_str(), &now) != 0) return fd_ < 0 && errno == ENOENT;
  if (fd_ < 0 || !same(now)) return false;
  if (!again) return true;
  // A program that rewrites the file where it lies, without a lock, leaves its inode alone: only
  // its size, time and bytes tell. One reading that saw it half written differs from the other.
  struct stat after{};
  if (::fstat(fd_, &after) != 0 || !same(after) || static_cast<std::uint64_t>(now.st_size) != length_) return false;
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  std::uint64_t hash = 14695981039346656037ull, length = 0;
  char buffer[65536];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) hash = Fnv1a(hash, {buffer, static_cast<std::size_t>(n)}), length += static_cast<std::uint64_t>(n);
  const bool whole = n == 0 && ::fstat(fd, &after) == 0 && same(after);
  ::close(fd);
  return whole && hash == hash_ && length == length_;
}

core::TEditedFile ChangeUsers(const std::string& path, const std::vector<core::TUserChange>& changes, TWait wait,
                              const std::function<std::vector<core::TFileToSave>()>& before_save) {
  // From before the file is read until it is saved: a concurrent command waits, then reads our result.
  const TFolderLock lock(path, wait);
  RecoverFolder(platform::FolderOf(path));
  TFileReader file(path, true);
  core::TEditedFile edited = core::EditUsers(file.Read(), changes);
  if (!edited.missing.empty()) {
    for (const std::string& name : edited.missing) Complain(NoSuchUser(Shown(name)));
    throw TFailure(ExitCode::UnknownUser, "");
  }
  for (const core::TEditedFile::TAlsoGone& gone : edited.also_gone)
    Complain(FileLine(path, gone.line) + "「" + Shown(gone.name) + "」: " + std::string(hashes::ServerName(gone.server)) +
             " はこの行をこの名前で読んでいたため、" + std::string(hashes::ServerName(gone.server)) + " からはこのユーザも消えます");
  const auto changed = [&] {
    return TFailure(ExitCode::BadInput, "\"" + Shown(path) + "\" が読んでいる間にほかのプログラムで変更されたため、保存しません。もう一度実行してください");
  };
  // Before new passwords are shown: one that would not be saved is better never shown.
  if (!file.Unchanged(false)) throw changed();
  // The new file is lent to the save, not copied: for a file of millions of users a copy would
  // double the memory the command needs.
  std::vector<core::TFileToSave> files;
  files.push_back({path, std::move(edited.bytes), core::FileKind::Public});
  if (before_save) {
    std::vector<core::TFileToSave> extra = before_save();
    files.insert(files.end(), std::make_move_iterator(extra.begin()), std::make_move_iterator(extra.end()));
  }
  const TSignalsHeld held;
  // The last thing before the file is replaced or written: a writer that replaced it, or rewrote
  // it where it lies, while the new file was written and flushed is not saved over.
  core::SaveFileSet(files, [&](const core::TFileToSave& saving) {
    if (&saving == &files.front() && !file.Unchanged()) throw changed();
  });
  edited.bytes = std::move(files.front().bytes);
  return edited;
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
  if (error != 0) throw TFailure(ExitCode::BadInput, "新しいパスワードを標準出力に書けないため、保存しません: " + ErrorText(error));
}

}  // namespace cli

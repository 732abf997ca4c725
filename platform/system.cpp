#include "platform/system.h"

#include <cerrno>
#include <clocale>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sys/random.h>

#include "platform/cp932.h"

namespace platform {
namespace {

// Whichever strerror_r the C library has: the GNU one returns the text (which may or may not be
// the buffer), the POSIX one (the browser build's C library) fills the buffer.
[[maybe_unused]] const char* ErrorText(const char* text, const char*) { return text; }
[[maybe_unused]] const char* ErrorText(int, const char* buffer) { return buffer; }

}  // namespace

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string WithSlash(const std::string& folder) {
  return folder.empty() || folder.back() != '/' ? folder + "/" : folder;
}

std::string AbsolutePath(std::string_view path) {
  std::error_code ec;
  std::filesystem::path p(path);
  std::filesystem::path abs = std::filesystem::absolute(p, ec);
  if (ec) abs = p;
  return abs.lexically_normal().string();
}

std::string SystemErrorText(int errnum) {
  char buffer[512];
  buffer[0] = '\0';
  const char* text = ErrorText(strerror_r(errnum, buffer, sizeof buffer), buffer);
  // The C library speaks the user's locale, in UTF-8 on any current system; the message table
  // and the message box speak code page 932.
  std::string cp932 = Utf8ToCp932Lossy(text);
  std::size_t end = cp932.size();
  while (end > 0) {
    const auto b = static_cast<unsigned char>(cp932[end - 1]);
    if (b > 0x20 && b != '.') break;
    // A trailing byte in that range may be the second byte of a double-byte character only if
    // it is 0x40 or above, which neither blanks nor "." are.
    --end;
  }
  cp932.resize(end);
  if (cp932.size() > 255) {
    std::size_t cut = 0;
    for (std::size_t i = 0; i < cp932.size();) {
      const std::size_t next = CharNext(cp932, i);
      if (next > 255) break;
      cut = i = next;
    }
    cp932.resize(cut);
  }
  return cp932;
}

std::uint64_t HighResolutionCounter() noexcept {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(ts.tv_nsec);
}

int SystemRandomBytes(void* out, std::size_t size) noexcept {
  auto* p = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ssize_t got = getrandom(p, size, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += got;
    size -= static_cast<std::size_t>(got);
  }
  return 0;
}

}  // namespace platform

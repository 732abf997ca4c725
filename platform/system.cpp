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

namespace {

// The reasons a user of this tool meets, with what to do about them, in the window's language
// whatever the desktop's: the C library's own texts follow the locale, which may be English.
const char* JapaneseReason(int errnum) {
  switch (errnum) {
    case EACCES: return "権限がありません。ファイルとフォルダの持ち主と権限を確かめてください";
    case EPERM: return "この操作は許可されていません。ファイルの持ち主か管理者として行ってください";
    case ENOENT: return "そのファイルかフォルダがありません。名前と場所を確かめてください";
    case ENOSPC: return "ディスクがいっぱいです。空きを作ってからやり直してください";
    case EDQUOT: return "ディスクの使用量の上限を超えています。空きを作ってからやり直してください";
    case EROFS: return "読み取り専用のファイルシステムです。書き込める場所を選んでください";
    case EISDIR: return "それはフォルダです。ファイルを選んでください";
    case ENOTDIR: return "パスの途中にフォルダでないものがあります。場所を確かめてください";
    case EIO: return "入出力エラーです。ディスクや接続を確かめてください";
    case ENAMETOOLONG: return "名前が長すぎます";
    case ELOOP: return "シンボリックリンクが多すぎるか、循環しています";
    case EEXIST: return "同じ名前のものがすでにあります";
    case EBUSY: case ETXTBSY: return "ほかのプログラムが使用中です。しばらくしてからやり直してください";
    case EMFILE: case ENFILE: return "開いているファイルが多すぎます。ほかのプログラムを閉じてからやり直してください";
    case EXDEV: return "別のファイルシステムにまたがる操作はできません";
    case ENOMEM: return "メモリが足りません。ほかのプログラムを閉じてからやり直してください";
    case EFBIG: return "ファイルが大きすぎます";
    case EPIPE: return "出力先が閉じられています";
    case ENXIO: case ENODEV: return "デバイスがありません";
    default: return nullptr;
  }
}

}  // namespace

std::string SystemErrorText(int errnum) {
  if (const char* japanese = JapaneseReason(errnum)) return Utf8ToCp932Lossy(japanese);
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

#include "platform/key_fold.h"

#include "platform/cp932.h"

#include <cerrno>
#include <clocale>
#include <cwctype>
#include <iconv.h>
#include <locale.h>
#include <stdexcept>

namespace platform {
namespace {

// The case tables come from the C library's C.UTF-8 locale, which holds the full Unicode mapping
// regardless of the user's locale. Where it is missing the comparison falls back to ASCII letters.
locale_t CaseLocale() {
  static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return loc;
}

// ASCII is folded before the decoder, so no ASCII character comes here.
char32_t FoldChar(char32_t c) {
  const locale_t loc = CaseLocale();
  if (loc == static_cast<locale_t>(nullptr)) return c;
  const auto w = static_cast<wint_t>(c);
  return static_cast<char32_t>(towlower_l(towupper_l(w, loc), loc));
}

// Code page 932 holds characters of the Basic Multilingual Plane only, and their case folds and
// the stand-ins for bytes that are no character stay in it: one or two bytes after the first.
void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

class Cp932ToUtf32 {
 public:
  Cp932ToUtf32() : cd_(iconv_open("UTF-32LE", "CP932")) {
    // iconv_open reports failure as (iconv_t)-1: the cast is the API's, not a pointer made up.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv cannot decode CP932");
  }
  ~Cp932ToUtf32() { iconv_close(cd_); }
  Cp932ToUtf32(const Cp932ToUtf32&) = delete;
  Cp932ToUtf32& operator=(const Cp932ToUtf32&) = delete;

  // Decodes one character of at most two bytes; 0 when the bytes are not a character.
  char32_t Decode(std::string_view ch) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(ch.data());
    std::size_t src_left = ch.size();
    unsigned char buf[8];
    char* dst = reinterpret_cast<char*>(buf);
    std::size_t dst_left = sizeof buf;
    if (iconv(cd_, &src, &src_left, &dst, &dst_left) == static_cast<std::size_t>(-1) || src_left != 0 ||
        dst_left != 4)
      return 0;
    return static_cast<char32_t>(buf[0] | (buf[1] << 8) | (buf[2] << 16) | (buf[3] << 24));
  }

 private:
  iconv_t cd_;
};

}  // namespace

std::string FoldKey(std::string_view key) {
  std::string out;
  out.reserve(key.size());
  std::size_t i = 0;
  while (i < key.size()) {
    const auto b = static_cast<unsigned char>(key[i]);
    if (b < 0x80) {  // ASCII: by far the common case, folded without the decoder
      out += static_cast<char>((b >= 'A' && b <= 'Z') ? b + ('a' - 'A') : b);
      ++i;
      continue;
    }
    thread_local Cp932ToUtf32 decoder;
    const std::size_t len = (IsLeadByte(b) && i + 1 < key.size()) ? 2 : 1;
    char32_t c = decoder.Decode(key.substr(i, len));
    if (c == 0) {
      // Not a character: this byte stands alone, and a byte after a bad lead byte is read afresh.
      c = 0xDC00 + b;
      i += 1;
    } else {
      c = FoldChar(c);
      i += len;
    }
    AppendUtf8(out, c);
  }
  return out;
}

}  // namespace platform

#include "platform/cp932.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace platform {
namespace {

// One conversion descriptor per thread and direction: iconv descriptors carry shift state and
// must not be shared between threads.
class TConverter {
 public:
  TConverter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    // iconv_open reports failure as (iconv_t)-1: the cast is the API's, not a pointer made up.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    if (cd_ == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
  }
  ~TConverter() { iconv_close(cd_); }
  TConverter(const TConverter&) = delete;
  TConverter& operator=(const TConverter&) = delete;

  // Converts all of `in`. Where iconv meets input it cannot convert, `on_bad(rest, out)` appends a
  // replacement and returns how many bytes of `rest` to skip; returning 0 abandons the conversion.
  template <class OnBad>
  bool Run(std::string_view in, std::string& out, OnBad on_bad) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    std::size_t src_left = in.size();
    char buffer[1024];
    while (src_left > 0) {
      char* dst = buffer;
      std::size_t dst_left = sizeof buffer;
      const std::size_t rc = iconv(cd_, &src, &src_left, &dst, &dst_left);
      out.append(buffer, static_cast<std::size_t>(dst - buffer));
      if (rc != static_cast<std::size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (a sequence cut off by the end): both are input we cannot convert.
      const std::size_t skip = on_bad(std::string_view(src, src_left), out);
      if (skip == 0) return false;
      src += skip;
      src_left -= skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return true;
  }

 private:
  iconv_t cd_;
};

TConverter& Decoder() {
  thread_local TConverter c("UTF-8", "CP932");
  return c;
}
TConverter& Encoder() {
  thread_local TConverter c("CP932", "UTF-8");
  return c;
}

// Length of the UTF-8 sequence that starts with `lead`, 1 for a byte that cannot start one.
std::size_t Utf8SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

}  // namespace

std::size_t LastCharStart(std::string_view text) noexcept {
  std::size_t last = text.size();
  for (std::size_t i = 0; i < text.size(); i = CharNext(text, i)) last = i;
  return last;
}

std::string Cp932ToUtf8(std::string_view cp932) {
  std::string out;
  out.reserve(cp932.size() + cp932.size() / 2);
  Decoder().Run(cp932, out, [](std::string_view, std::string& o) {
    o += "\xEF\xBF\xBD";  // U+FFFD
    return std::size_t{1};
  });
  return out;
}

std::optional<std::string> Cp932ToUtf8Strict(std::string_view cp932) {
  std::string out;
  out.reserve(cp932.size() + cp932.size() / 2);
  if (!Decoder().Run(cp932, out, [](std::string_view, std::string&) { return std::size_t{0}; })) return std::nullopt;
  return out;
}

std::size_t FirstNonUtf8(std::string_view text) noexcept {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t n = Utf8SequenceLength(b);
    if (n == 1) {
      if (b >= 0x80) return i;
      ++i;
      continue;
    }
    if (i + n > text.size()) return i;
    const auto b1 = static_cast<unsigned char>(text[i + 1]);
    // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
    const unsigned char low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
    if (b1 < low || b1 > high) return i;
    for (std::size_t k = 2; k < n; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return i;
    i += n;
  }
  return std::string_view::npos;
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  if (!Encoder().Run(utf8, out, [](std::string_view, std::string&) { return std::size_t{0}; }))
    return std::nullopt;
  return out;
}

std::string Utf8ToCp932Lossy(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  Encoder().Run(utf8, out, [](std::string_view rest, std::string& o) {
    o += '?';
    std::size_t n = Utf8SequenceLength(static_cast<unsigned char>(rest.front()));
    if (n > rest.size()) n = rest.size();
    for (std::size_t i = 1; i < n; ++i)
      if ((static_cast<unsigned char>(rest[i]) & 0xC0) != 0x80) return std::size_t{1};
    return n;
  });
  return out;
}

}  // namespace platform

// The C library's iconv for the browser build, for the three conversions the platform layer asks
// for (CP932 to UTF-8 and UTF-32LE, UTF-8 to CP932), from tables taken from the native C library's
// own iconv (web/tools/cp932_tables): the C library of the WebAssembly build knows Shift-JIS
// without the code page's extensions and maps some characters otherwise. Errors are reported as
// iconv reports them, so the callers' recovery works unchanged.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "cp932_tables.h"

namespace {

enum class Kind { Cp932ToUtf8, Cp932ToUtf32, Utf8ToCp932 };
Kind kinds[] = {Kind::Cp932ToUtf8, Kind::Cp932ToUtf32, Kind::Utf8ToCp932};

bool Named(const char* name, const char* want) { return strcasecmp(name, want) == 0; }

// The value at `key` of a table sorted by its first column, or -1.
template <std::size_t N>
long Find(const std::uint16_t (&table)[N][2], unsigned key) {
  const auto* end = table + N;
  const auto* at = std::lower_bound(table, end, key, [](const std::uint16_t (&row)[2], unsigned k) { return row[0] < k; });
  return at != end && at[0][0] == key ? static_cast<long>(at[0][1]) : -1;
}

bool IsLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// One character of `in`: its code point and length; 0 length for bytes that are no character, -1
// for a character cut off by the end of the input.
struct Read {
  unsigned c = 0;
  int length = 0;
};

Read ReadCp932(const unsigned char* in, std::size_t left) {
  if (long c = Find(kCp932Decode, in[0]); c >= 0) return {static_cast<unsigned>(c), 1};
  if (!IsLead(in[0])) return {};
  if (left < 2) return {0, -1};
  if (long c = Find(kCp932Decode, static_cast<unsigned>(in[0] << 8 | in[1])); c >= 0) return {static_cast<unsigned>(c), 2};
  return {};
}

Read ReadUtf8(const unsigned char* in, std::size_t left) {
  const unsigned b = in[0];
  if (b < 0x80) return {b, 1};
  const int n = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xC2 && b <= 0xDF ? 2 : 0;
  if (n == 0) return {};
  unsigned c = b & (0x7F >> n);
  for (int i = 1; i < n; ++i) {
    if (static_cast<std::size_t>(i) >= left) return {0, -1};
    if ((in[i] & 0xC0) != 0x80) return {};
    c = c << 6 | (in[i] & 0x3F);
  }
  const unsigned least = n == 2 ? 0x80 : n == 3 ? 0x800 : 0x10000;
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return {};
  return {c, n};
}

int WriteUtf8(unsigned c, unsigned char* out) {
  if (c < 0x80) {
    out[0] = static_cast<unsigned char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
    out[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 2;
  }
  out[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
  out[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
  out[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
  return 3;
}

}  // namespace

extern "C" {

iconv_t iconv_open(const char* to, const char* from) {
  if (Named(from, "CP932") && Named(to, "UTF-8")) return &kinds[0];
  if (Named(from, "CP932") && Named(to, "UTF-32LE")) return &kinds[1];
  if (Named(from, "UTF-8") && Named(to, "CP932")) return &kinds[2];
  errno = EINVAL;
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  return reinterpret_cast<iconv_t>(-1);
}

int iconv_close(iconv_t) { return 0; }

size_t iconv(iconv_t cd, char** src, size_t* src_left, char** dst, size_t* dst_left) {
  if (src == nullptr || *src == nullptr) return 0;  // a reset: these conversions keep no state
  const Kind kind = *static_cast<Kind*>(cd);
  while (*src_left > 0) {
    const auto* in = reinterpret_cast<const unsigned char*>(*src);
    const Read r = kind == Kind::Utf8ToCp932 ? ReadUtf8(in, *src_left) : ReadCp932(in, *src_left);
    if (r.length <= 0) {
      errno = r.length < 0 ? EINVAL : EILSEQ;
      return static_cast<size_t>(-1);
    }
    unsigned char out[4];
    int n = 0;
    if (kind == Kind::Cp932ToUtf8) {
      n = WriteUtf8(r.c, out);
    } else if (kind == Kind::Cp932ToUtf32) {
      for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(r.c >> (8 * i));
      n = 4;
    } else {
      const long code = r.c > 0xFFFF ? -1 : Find(kCp932Encode, r.c);
      if (code < 0) {
        errno = EILSEQ;
        return static_cast<size_t>(-1);
      }
      if (code > 0xFF) out[n++] = static_cast<unsigned char>(code >> 8);
      out[n++] = static_cast<unsigned char>(code & 0xFF);
    }
    if (*dst_left < static_cast<size_t>(n)) {
      errno = E2BIG;
      return static_cast<size_t>(-1);
    }
    std::memcpy(*dst, out, static_cast<size_t>(n));
    *dst += n;
    *dst_left -= static_cast<size_t>(n);
    *src += r.length;
    *src_left -= static_cast<size_t>(r.length);
  }
  return 0;
}

}  // extern "C"

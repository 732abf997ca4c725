#include "core/encoding.h"

#include <uninorm.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "platform/cp932.h"
#include "text/exceptions.h"
#include "text/messages.h"
#include "text/string_list.h"

namespace core {
namespace {

// `utf8` as code page 932, or nothing when a character has no place there or only another's,
// which would give that other one back: the wave dash U+301C the full-width tilde U+FF5E's, the
// minus sign the full-width hyphen-minus's, the cent sign the full-width cent's.
std::optional<std::string> Exact(std::string_view utf8) {
  std::optional<std::string> bytes = platform::Utf8ToCp932(utf8);
  if (bytes && *bytes != utf8 && platform::Cp932ToUtf8(*bytes) != utf8) bytes.reset();
  return bytes;
}

std::size_t SequenceLength(unsigned char lead) {
  return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

unsigned CodePoint(std::string_view c) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(c[i])); };
  switch (c.size()) {
    case 1: return b(0);
    case 2: return (b(0) & 0x1F) << 6 | (b(1) & 0x3F);
    case 3: return (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
    default: return (b(0) & 0x07) << 18 | (b(1) & 0x3F) << 12 | (b(2) & 0x3F) << 6 | (b(3) & 0x3F);
  }
}

}  // namespace

std::string ComposedUtf8(std::string_view utf8) {
  if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return std::string(utf8);
  std::size_t length = 0;
  uint8_t* composed = u8_normalize(UNINORM_NFC, reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), nullptr, &length);
  if (!composed) return std::string(utf8);
  const std::unique_ptr<uint8_t, decltype(&std::free)> owner(composed, &std::free);
  return std::string(reinterpret_cast<const char*>(composed), length);
}

TCp932OrBadChar ExactCp932(std::string_view utf8) {
  if (std::optional<std::string> bytes = Exact(utf8)) return {true, *std::move(bytes), {}};
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t n = std::min(SequenceLength(static_cast<unsigned char>(utf8[i])), utf8.size() - i);
    const std::string_view c = utf8.substr(i, n);
    if (!Exact(c)) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "%04X", CodePoint(c));
      return {false, {}, hex};
    }
    i += n;
  }
  return {false, {}, "?"};
}

std::string Cp932FromUtf8Line(std::string_view utf8, long long line) {
  const std::string number = std::to_string(line);
  if (const std::size_t bad = platform::FirstNonUtf8(utf8); bad != std::string_view::npos)
    throw text::Exception(text::FormatMessage(messages::SNotUtf8Line, {number, std::to_string(bad + 1)}), {{}, line, 0});
  TCp932OrBadChar converted = ExactCp932(ComposedUtf8(utf8));
  if (!converted.ok)
    throw text::Exception(text::FormatMessage(messages::SNoCp932FormLine, {number, converted.bad_char}), {{}, line, 0});
  return std::move(converted.bytes);
}

std::string OutputBytes(std::string_view cp932, bool utf8) {
  const bool ascii = std::all_of(cp932.begin(), cp932.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!utf8 || ascii) return std::string(cp932);
  const std::optional<std::string> decoded = platform::Cp932ToUtf8Strict(cp932);
  if (!decoded) {
    // The message names the line that holds the bad bytes, not a whole file's text.
    for (std::size_t from = 0, end; (end = cp932.find("\r\n", from)) != std::string_view::npos; from = end + 2)
      (void)OutputBytes(cp932.substr(from, end - from), utf8);
    throw text::Exception(text::FormatMessage(messages::SNoUtf8Form, {cp932}));
  }
  // Code page 932 holds only composed characters, but a few of its ideographs are compatibility
  // forms that composition maps to their unified ones.
  return ComposedUtf8(*decoded);
}

FileEncoding LooksLike(std::string_view bytes) {
  if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (static_cast<unsigned char>(c) & 0x80) == 0; }))
    return FileEncoding::Either;
  if (platform::FirstNonUtf8(bytes) == std::string_view::npos) return FileEncoding::Utf8;
  return platform::Cp932ToUtf8Strict(bytes) ? FileEncoding::ShiftJis : FileEncoding::Either;
}

std::string ShownText(std::string_view bytes, bool utf8) {
  return text::JoinLines(text::SplitLines(utf8 ? platform::Utf8ToCp932Lossy(bytes) : std::string(bytes)));
}

}  // namespace core

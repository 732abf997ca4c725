// Shift-JIS (code page 932) as the program sees it: a byte string in which a lead byte and the
// byte after it form one character. Stepping is by character; conversion exists only for display.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Lead bytes of code page 932: 0x81-0x9F and 0xE0-0xFC. Every other byte is a character of its own
// (ASCII, the half-width katakana 0xA1-0xDF, and the unused 0x80, 0xA0, 0xFD-0xFF).
constexpr bool IsLeadByte(unsigned char b) noexcept {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
constexpr bool IsLeadByte(char b) noexcept { return IsLeadByte(static_cast<unsigned char>(b)); }

// Position of the character after the one at `pos`. Never steps past the end of `text`, and a
// lead byte followed by the end or by NUL is stepped over alone, so a truncated character can
// never swallow the terminator.
constexpr std::size_t CharNext(std::string_view text, std::size_t pos) noexcept {
  if (pos >= text.size()) return text.size();
  if (IsLeadByte(text[pos]) && pos + 1 < text.size() && text[pos + 1] != '\0') return pos + 2;
  return pos + 1;
}

// Start of the last character of `text` (text.size() when it is empty). Walks from the front,
// because a trail byte alone cannot tell whether it is a trail byte.
std::size_t LastCharStart(std::string_view text) noexcept;

// Code page 932 to UTF-8 for showing bytes on the screen. Bytes that do not form a character
// come out as U+FFFD each, so nothing the user sees is ever silently dropped.
std::string Cp932ToUtf8(std::string_view cp932);

// Code page 932 to UTF-8, or nothing when a byte does not form a character.
std::optional<std::string> Cp932ToUtf8Strict(std::string_view cp932);

// Where `text` stops being UTF-8 (an invalid, overlong, surrogate or cut-off sequence), or npos
// when all of it is.
std::size_t FirstNonUtf8(std::string_view text) noexcept;

// UTF-8 to code page 932. Empty optional when a character has no code page 932 form (or the
// input is not UTF-8): the caller decides how to refuse it.
std::optional<std::string> Utf8ToCp932(std::string_view utf8);

// As above, but characters without a code page 932 form become "?". Only for texts that are shown
// and never stored, such as a file path inside a failure message.
std::string Utf8ToCp932Lossy(std::string_view utf8);

}  // namespace platform

// Field splitting of arbitrary text at an arbitrary delimiter byte. The first input byte is the
// delimiter, the rest the text, which ends where the input's allocation ends, so that
// AddressSanitizer sees any read past its end. Any delimiter must be safe; the field rules are
// checked for the ones the splitter is meant for (neither NUL, a blank nor the double quote).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "text/umyfunc.h"

namespace {

bool IsLead(char c) {
  const auto b = static_cast<unsigned char>(c);
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool IsBlank(char c) { return c >= 0x01 && c <= 0x20; }

// The text cut into code page 932 characters once, up front; the splitter steps as it goes.
std::vector<std::string_view> Chars(std::string_view text) {
  std::vector<std::string_view> out;
  for (std::size_t i = 0; i < text.size(); i += out.back().size()) out.push_back(text.substr(i, IsLead(text[i]) ? 2 : 1));
  return out;
}

// The rules as a tokenizer over whole characters.
std::vector<std::string> Tokenize(const std::vector<std::string_view>& c, char delimiter) {
  const std::size_t n = c.size();
  std::vector<std::string> fields;
  std::size_t k = 0;
  const auto skip_blanks = [&] {
    while (k < n && IsBlank(c[k][0])) ++k;
  };
  skip_blanks();
  while (k < n) {
    std::string field;
    if (c[k] == "\"") {
      // Up to the closing quote or the end; "" inside stands for one quote.
      for (++k; k < n && (c[k] != "\"" || (k + 1 < n && c[k + 1] == "\"")); ++k) {
        if (c[k] == "\"") ++k;
        field += c[k];
      }
      ++k;
    } else {
      for (; k < n && !IsBlank(c[k][0]) && c[k][0] != delimiter; ++k) field += c[k];
    }
    fields.push_back(std::move(field));
    skip_blanks();
    if (k < n && c[k][0] == delimiter) {
      if (k + 1 == n) fields.emplace_back();
      ++k;
      skip_blanks();
    }
  }
  return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto delimiter = static_cast<char>(data[0]);
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::vector<std::string> got = text::SplitDelimited(text, delimiter).Lines();
  if (delimiter == '\0' || IsBlank(delimiter) || delimiter == '"') return 0;

  const std::string_view prefix = text.substr(0, text.find('\0'));
  // Nothing after a NUL is looked at.
  if (prefix.size() != text.size()) CHECK(text::SplitDelimited(prefix, delimiter).Lines() == got);

  const std::vector<std::string_view> chars = Chars(prefix);
  CHECK(got == Tokenize(chars, delimiter));
  return 0;
}

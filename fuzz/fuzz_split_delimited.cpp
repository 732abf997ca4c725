// Field splitting of arbitrary text at an arbitrary delimiter byte. The first input byte is the
// delimiter, the rest the text, which is passed without a terminator so that AddressSanitizer sees
// any read past its end. Any delimiter must be safe; the field rules are checked for the ones the
// splitter is meant for (neither NUL, a blank nor the double quote).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/umyfunc.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr unsigned char kQuote = '"';

bool IsLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool IsBlank(unsigned char b) { return b >= 0x01 && b <= 0x20; }

// The text cut into code page 932 characters once, up front; the splitter steps as it goes.
struct Char {
  std::string_view bytes;
  unsigned char first() const { return static_cast<unsigned char>(bytes.front()); }
  bool Is(unsigned char b) const { return bytes.size() == 1 && first() == b; }
};

std::vector<Char> Chars(std::string_view text) {
  std::vector<Char> out;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t len = IsLead(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
    out.push_back({text.substr(i, len)});
    i += len;
  }
  return out;
}

// The rules as a tokenizer over whole characters.
std::vector<std::string> Tokenize(std::string_view text, unsigned char delimiter) {
  const std::vector<Char> c = Chars(text);
  const std::size_t n = c.size();
  std::vector<std::string> fields;
  std::size_t k = 0;
  const auto skip_blanks = [&] {
    while (k < n && IsBlank(c[k].first())) ++k;
  };
  skip_blanks();
  while (k < n) {
    std::string field;
    if (c[k].Is(kQuote)) {
      for (++k; k < n; ++k) {
        if (!c[k].Is(kQuote)) {
          field += c[k].bytes;
        } else if (k + 1 < n && c[k + 1].Is(kQuote)) {
          field += '"';
          ++k;
        } else {
          ++k;
          break;
        }
      }
    } else {
      for (; k < n && !IsBlank(c[k].first()) && c[k].first() != delimiter; ++k) field += c[k].bytes;
    }
    fields.push_back(std::move(field));
    skip_blanks();
    if (k < n && c[k].first() == delimiter) {
      if (k + 1 == n) fields.emplace_back();
      ++k;
      skip_blanks();
    }
  }
  return fields;
}

std::string Quoted(std::string_view field) {
  std::string out = "\"";
  for (const char ch : field) {
    out += ch;
    if (ch == '"') out += '"';
  }
  return out + '"';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto delimiter = static_cast<unsigned char>(data[0]);
  // A copy of exactly the text's length: the end of the text is the end of the allocation.
  const std::size_t length = size - 1;
  const std::unique_ptr<char[]> owned(new char[length == 0 ? 1 : length]);
  for (std::size_t i = 0; i < length; ++i) owned[i] = static_cast<char>(data[i + 1]);
  const std::string_view text(owned.get(), length);

  const text::TStringList fields = text::SplitDelimited(text, static_cast<char>(delimiter));
  const std::vector<std::string>& got = fields.Lines();
  if (delimiter == 0 || IsBlank(delimiter) || delimiter == kQuote) return 0;

  const std::string_view prefix = text.substr(0, text.find('\0'));
  // Nothing after a NUL is looked at.
  if (prefix.size() != text.size()) Check(text::SplitDelimited(prefix, static_cast<char>(delimiter)).Lines() == got);

  Check(got == Tokenize(prefix, delimiter));

  // Unquoted fields never hold a blank, nor the delimiter at the start of a character.
  bool has_quote = false;
  for (const Char& ch : Chars(prefix)) has_quote = has_quote || ch.Is(kQuote);
  if (!has_quote)
    for (const std::string& f : got)
      for (const Char& ch : Chars(f)) Check(!IsBlank(ch.first()) && ch.first() != delimiter);

  // Written back with every field quoted, the fields split to themselves, as long as no lead byte
  // can take a closing quote or a delimiter for its second byte.
  bool leads = IsLead(delimiter);
  for (const std::string& f : got)
    for (const char ch : f) leads = leads || IsLead(static_cast<unsigned char>(ch));
  if (!leads) {
    std::string rewritten;
    for (std::size_t i = 0; i < got.size(); ++i) {
      if (i > 0) rewritten += static_cast<char>(delimiter);
      rewritten += Quoted(got[i]);
    }
    Check(text::SplitDelimited(rewritten, static_cast<char>(delimiter)).Lines() == got);
  }
  return 0;
}

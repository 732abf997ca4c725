#include "text/umyfunc.h"

#include "platform/cp932.h"

namespace text {
namespace {

constexpr char kQuote = '"';

class TCursor {
 public:
  explicit TCursor(std::string_view text) : text_(text.substr(0, text.find('\0'))) {}

  // The byte at `i`, with the end of the text read as NUL.
  unsigned char At(std::size_t i) const { return i < text_.size() ? static_cast<unsigned char>(text_[i]) : 0; }
  static bool IsBlank(unsigned char b) { return b >= 0x01 && b <= 0x20; }
  std::size_t Next(std::size_t i) const { return platform::CharNext(text_, i); }
  std::size_t SkipBlanks(std::size_t i) const {
    while (IsBlank(At(i))) i = Next(i);
    return i;
  }

  // Reads the quoted field whose opening quote is at `p`; returns the position after its closing
  // quote, or the end of the text when there is none.
  std::size_t ReadQuoted(std::size_t p, std::string& field) const {
    std::size_t segment = p + 1;  // where the current search began: content start, or after a ""
    std::size_t from = segment;
    for (;;) {
      const std::size_t q = text_.find(kQuote, from);
      if (q == std::string_view::npos) {
        field.append(text_, segment);
        return text_.size();
      }
      // A quote byte right after an odd run of lead-byte values is the second byte of a character.
      std::size_t leads = 0;
      for (std::size_t i = q; i > segment && platform::IsLeadByte(text_[i - 1]); --i) ++leads;
      if (leads % 2 == 1) {
        from = q + 1;
        continue;
      }
      field.append(text_, segment, q - segment);
      if (At(q + 1) != kQuote) return q + 1;
      field += kQuote;
      segment = from = q + 2;
    }
  }

  std::string_view text() const { return text_; }

 private:
  std::string_view text_;
};

}  // namespace

TStringList SplitDelimited(std::string_view text, char delimiter) {
  const TCursor c(text);
  const auto delim = static_cast<unsigned char>(delimiter);
  TStringList fields;
  std::size_t p = c.SkipBlanks(0);
  while (c.At(p) != 0) {
    std::string field;
    if (c.At(p) == kQuote) {
      p = c.ReadQuoted(p, field);
    } else {
      const std::size_t start = p;
      while (c.At(p) > 0x20 && c.At(p) != delim) p = c.Next(p);
      field.assign(c.text(), start, p - start);
    }
    fields.Add(std::move(field));
    p = c.SkipBlanks(p);
    if (c.At(p) == delim) {
      if (c.At(c.Next(p)) == 0) fields.Add(std::string());
      p = c.SkipBlanks(c.Next(p));
    }
  }
  return fields;
}

}  // namespace text

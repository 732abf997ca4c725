#include "core/csv_reader.h"

#include <csv.h>

#include <algorithm>
#include <new>
#include <string>

#include "text/exceptions.h"
#include "text/messages.h"
#include "text/umyfunc.h"

namespace core {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// What stops a name or a password from going into a password file as it is, or nothing. Bytes are
// enough in both encodings: no byte of a multi-byte character, in UTF-8 or in code page 932, is
// below 0x40 or is 0x7F.
std::string_view NameRefusal(std::string_view name) {
  if (std::any_of(name.begin(), name.end(), IsControl)) return messages::SCsvNameControl;
  // A server takes the name up to the first ':' and the rest as the hash.
  if (name.find(':') != std::string_view::npos) return messages::SCsvNameColon;
  return {};
}
std::string_view PasswordRefusal(std::string_view password) {
  // passwd.txt holds it as a line of its own; a NUL would end it early in every C string on the way.
  if (password.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) return messages::SCsvPasswordBreak;
  return {};
}

[[noreturn]] void Refuse(std::string_view message, long long line) {
  throw text::Exception(text::FormatMessage(message, {std::to_string(line)}), {{}, line, 0});
}

// A line the delimited-text reader splits at its commas alone: printable ASCII with no blank and
// no quote, so that no field is quoted, trimmed or split at a blank, and no byte can take the
// comma after it as the second byte of a character.
bool Plain(std::string_view line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c > ' ' && c < 0x7F && c != '"'; });
}

int NoSpaces(unsigned char) { return 0; }

}  // namespace

class TCsvReader::TImpl {
 public:
  TImpl(CsvDialect dialect, TOnRecord record) : dialect_(dialect), record_(std::move(record)) {
    if (dialect_ != CsvDialect::Rfc4180) return;
    if (csv_init(&parser_, CSV_STRICT | CSV_STRICT_FINI) != 0) throw std::bad_alloc();
    // Blanks are part of a field, as RFC 4180 has it: libcsv would trim spaces and tabs.
    csv_set_space_func(&parser_, NoSpaces);
  }
  ~TImpl() {
    if (dialect_ == CsvDialect::Rfc4180) csv_free(&parser_);
  }
  TImpl(const TImpl&) = delete;
  TImpl& operator=(const TImpl&) = delete;

  void Feed(std::string_view piece) {
    if (dialect_ == CsvDialect::Delimited) return ScanDelimited(piece);
    // The byte-order mark is decided byte by byte, as a piece may end inside it.
    while (!started_ && !piece.empty()) {
      head_ += piece.front();
      piece.remove_prefix(1);
      if (head_ == kByteOrderMark || !kByteOrderMark.starts_with(head_)) {
        started_ = true;
        if (head_ != kByteOrderMark) ScanRfc4180(head_);
      }
    }
    ScanRfc4180(piece);
  }

  void Finish() {
    if (dialect_ == CsvDialect::Delimited) {
      DelimitedLine(partial_, line_);
      return;
    }
    if (!started_) {
      started_ = true;
      ScanRfc4180(head_);
    }
    if (utf8_needed_ > 0) NotUtf8(utf8_column_);
    if (csv_fini(&parser_, OnField, OnRecordEnd, this) != 0) Refuse(messages::SCsvOpenQuote, field_line_);
    Delivered();
  }

 private:
  // Rfc4180: the text is checked byte by byte (NUL, UTF-8, the lines it spans) and handed to libcsv
  // a segment at a time, each ending after a line end or at the end of the text. A segment holds at
  // most one line end, so at most one record ends in it, and the line each record and each field
  // begins on is known.
  void ScanRfc4180(std::string_view text) {
    std::size_t start = 0;
    // What comes before a byte that is refused is read first, so that the first fault in the file
    // is the one named, however it was cut into pieces.
    const auto refuse_at = [&](std::size_t i, const auto& refuse) {
      Parse(text.substr(start, i - start));
      refuse();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      const auto b = static_cast<unsigned char>(c);
      if (c == '\0') refuse_at(i, [&] { Refuse(messages::SCsvNulLine, line_); });
      if (utf8_needed_ > 0) {
        if (b < utf8_low_ || b > utf8_high_) refuse_at(i, [&] { NotUtf8(utf8_column_); });
        --utf8_needed_;
        utf8_low_ = 0x80, utf8_high_ = 0xBF;
      } else if (b >= 0x80) {
        // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
        utf8_needed_ = b >= 0xC2 && b <= 0xDF ? 1 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xF0 && b <= 0xF4 ? 3 : -1;
        if (utf8_needed_ < 0) refuse_at(i, [&] { NotUtf8(column_ + 1); });
        utf8_low_ = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
        utf8_high_ = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
        utf8_column_ = column_ + 1;
      }
      ++column_;
      if (!IsLineEnd(c)) {
        after_cr_ = false;
        continue;
      }
      Parse(text.substr(start, i + 1 - start));
      start = i + 1;
      if (c == '\r' || !after_cr_) ++line_;
      after_cr_ = c == '\r';
      column_ = 0;
    }
    Parse(text.substr(start));
  }

  void Parse(std::string_view segment) {
    if (segment.empty()) return;
    // libcsv begins a record at any byte but a line end (it knows no blanks here).
    if (!in_record_ && !IsLineEnd(segment.front())) {
      in_record_ = true;
      record_line_ = field_line_ = line_;
      fields_ = 0;
      name_.clear(), password_.clear();
    }
    const std::size_t parsed = csv_parse(&parser_, segment.data(), segment.size(), OnField, OnRecordEnd, this);
    if (!fault_.empty()) Refuse(fault_, record_line_);
    if (parsed < segment.size()) Refuse(messages::SCsvStrayQuote, line_);
    Delivered();
  }

  // libcsv's callbacks: C code calls them, so they throw nothing; a refusal waits until it returns.
  static void OnField(void* data, std::size_t size, void* self) {
    TImpl& r = *static_cast<TImpl*>(self);
    const std::string_view field(static_cast<const char*>(data), size);
    if (r.fields_ == 0) r.name_ = field;
    if (r.fields_ == 1) r.password_ = field;
    if (r.fault_.empty()) r.fault_ = r.fields_ == 0 ? NameRefusal(field) : r.fields_ == 1 ? PasswordRefusal(field) : "";
    ++r.fields_;
    // The next field begins after this one's comma, on the line being read.
    r.field_line_ = r.line_;
  }
  static void OnRecordEnd(int, void* self) {
    TImpl& r = *static_cast<TImpl*>(self);
    r.in_record_ = false;
    r.record_done_ = true;
  }

  void Delivered() {
    if (!fault_.empty()) Refuse(fault_, record_line_);
    if (!record_done_) return;
    record_done_ = false;
    Deliver(name_, password_, record_line_);
  }

  [[noreturn]] void NotUtf8(long long column) const {
    throw text::Exception(text::FormatMessage(messages::SNotUtf8Line, {std::to_string(line_), std::to_string(column)}),
                          {{}, line_, 0});
  }

  // Delimited: lines as the line list cuts them, each given whole to the delimited-text reader;
  // only a line that a piece ends inside is copied.
  void ScanDelimited(std::string_view text) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if (c == '\0') Refuse(messages::SCsvNulLine, line_);
      if (!IsLineEnd(c)) {
        after_cr_ = false;
        continue;
      }
      if (c == '\n' && after_cr_) {
        after_cr_ = false;
        start = i + 1;
        continue;
      }
      if (partial_.empty()) {
        DelimitedLine(text.substr(start, i - start), line_);
      } else {
        partial_.append(text, start, i - start);
        DelimitedLine(partial_, line_);
        partial_.clear();
      }
      ++line_;
      after_cr_ = c == '\r';
      start = i + 1;
    }
    partial_.append(text, start);
  }

  void DelimitedLine(std::string_view line, long long number) {
    if (line.empty()) return;
    if (Plain(line)) {
      const std::size_t comma = line.find(',');
      const std::size_t next = comma == std::string_view::npos ? comma : line.find(',', comma + 1);
      return Deliver(line.substr(0, comma), comma == std::string_view::npos ? "" : line.substr(comma + 1, next - comma - 1),
                     number);
    }
    const text::TStringList fields = text::SplitDelimited(line, ',');
    // A line of nothing but blanks yields no field at all. The tool has always answered it by asking
    // for the password, field 1, of an empty list: its users know the list-index message that gives,
    // so it stays, said here rather than left to an out-of-range read.
    if (fields.Count() == 0) text::ReadingFile({}, number, [] { throw text::EStringListError(1); });
    Deliver(fields.Get(0), fields.Count() == 1 ? std::string_view() : std::string_view(fields.Get(1)), number);
  }

  void Deliver(std::string_view name, std::string_view password, long long line) {
    if (const std::string_view refusal = NameRefusal(name); !refusal.empty()) Refuse(refusal, line);
    if (const std::string_view refusal = PasswordRefusal(password); !refusal.empty()) Refuse(refusal, line);
    // It would be written as ":hash", which Apache lets log in with an empty name.
    if (name.empty() && !password.empty()) Refuse(messages::SCsvPasswordWithoutName, line);
    text::ReadingFile({}, line, [&] { record_({name, password, line}); });
  }

  CsvDialect dialect_;
  TOnRecord record_;
  long long line_ = 1;     // the physical line being read: CR LF, a lone CR and a lone LF each end one
  bool after_cr_ = false;  // the last byte read was a CR, so a LF now ends no further line
  // Rfc4180
  csv_parser parser_{};
  std::string head_;  // the first bytes, until they are known to be a byte-order mark or not
  bool started_ = false;
  long long column_ = 0;  // bytes of the current line read so far
  int utf8_needed_ = 0;   // continuation bytes the current UTF-8 sequence still needs
  unsigned char utf8_low_ = 0, utf8_high_ = 0;  // the range its next byte must fall in
  long long utf8_column_ = 0;                   // where the sequence began
  bool in_record_ = false;
  long long record_line_ = 0, field_line_ = 0;  // where the current record and its last field begin
  int fields_ = 0;
  std::string name_, password_;
  bool record_done_ = false;
  std::string_view fault_;  // a refusal found inside libcsv's callbacks
  // Delimited
  std::string partial_;  // the start of a line that a piece ended inside
};

TCsvReader::TCsvReader(CsvDialect dialect, TOnRecord record) : impl_(std::make_unique<TImpl>(dialect, std::move(record))) {}
TCsvReader::~TCsvReader() = default;
void TCsvReader::Feed(std::string_view piece) { impl_->Feed(piece); }
void TCsvReader::Finish() { impl_->Finish(); }

void ReadCsv(std::string_view bytes, CsvDialect dialect, const TCsvReader::TOnRecord& record) {
  TCsvReader reader(dialect, record);
  reader.Feed(bytes);
  reader.Finish();
}


}  // namespace core

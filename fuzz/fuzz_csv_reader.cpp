// Credential files in both dialects. The first input byte chooses the dialect (bit 0) and seeds the
// cuts into pieces, the rest is the file. Whatever the bytes, every record that comes out can go
// into a password file as it is, and the reader fed in pieces gives what it gives for the whole.
// Beyond that, the Shift-JIS reader is checked against the line list it is built on and a field
// tokenizer of this file's own.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/csv_reader.h"
#include "fuzz_check.h"
#include "text/exceptions.h"
#include "text/messages.h"
#include "text/string_list.h"

namespace {

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

std::string Shown(std::string_view name, std::string_view password, long long line) {
  return std::string(name).append("=").append(password).append("@").append(std::to_string(line));
}

// The records as "name=password@line", then a failure as "!line message"; the file fed in pieces
// whose sizes `cut` draws (0: whole).
std::vector<std::string> Read(std::string_view bytes, core::CsvDialect dialect, std::uint32_t cut) {
  std::vector<std::string> out;
  long long last_line = 0;
  try {
    core::TCsvReader reader(dialect, [&](const core::TCsvRecord& r) {
      // Nothing that would inject a line or a user: no control byte or ':' in a name, no line
      // break in a password, no password without a name; and records come in the file's order.
      for (const char c : r.name) CHECK(!IsControl(c) && c != ':');
      CHECK(r.password.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos);
      CHECK(!r.name.empty() || r.password.empty());
      CHECK(r.line > last_line);
      last_line = r.line;
      out.push_back(Shown(r.name, r.password, r.line));
    });
    const bool whole = cut == 0;
    for (std::size_t at = 0; at < bytes.size();) {
      cut = cut * 1103515245u + 12345u;
      const std::size_t size = whole ? bytes.size() : 1 + (cut >> 16) % 7;
      reader.Feed(bytes.substr(at, size));
      at += size;
    }
    reader.Finish();
  } catch (const text::Exception& failure) {
    CHECK(failure.Facts().line >= last_line && failure.Facts().line > 0);
    out.push_back("!" + std::to_string(failure.Facts().line) + " " + failure.Message());
  }
  return out;
}

std::string Refused(std::string_view message, std::size_t line) {
  return "!" + std::to_string(line) + " " + text::FormatMessage(message, {std::to_string(line)});
}

bool IsLead(char c) {
  const auto b = static_cast<unsigned char>(c);
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool IsBlank(char c) { return c >= 0x01 && c <= 0x20; }

// A line's fields by a tokenizer of its own over whole code page 932 characters: blanks around a
// field go, a quoted field runs to its closing quote with "" inside for one quote, and a comma
// that ends the line adds an empty field.
std::vector<std::string> Fields(std::string_view line) {
  std::vector<std::string_view> c;
  for (std::size_t i = 0; i < line.size(); i += c.back().size()) c.push_back(line.substr(i, IsLead(line[i]) ? 2 : 1));
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
      for (++k; k < n && (c[k] != "\"" || (k + 1 < n && c[k + 1] == "\"")); ++k) {
        if (c[k] == "\"") ++k;
        field += c[k];
      }
      ++k;
    } else {
      for (; k < n && !IsBlank(c[k][0]) && c[k][0] != ','; ++k) field += c[k];
    }
    fields.push_back(std::move(field));
    skip_blanks();
    if (k < n && c[k][0] == ',') {
      if (k + 1 == n) fields.emplace_back();
      ++k;
      skip_blanks();
    }
  }
  return fields;
}

// The Shift-JIS reader: the line list's lines, each cut into fields, with a NUL refused on its
// line and the refusals of a name or a password.
std::vector<std::string> DelimitedModel(std::string_view bytes) {
  const std::size_t nul = bytes.find('\0');
  const std::string_view before = bytes.substr(0, nul);
  const std::vector<std::string> lines = text::SplitLines(before);
  std::vector<std::string> out;
  for (std::size_t n = 1; n <= lines.size(); ++n) {
    const std::string& line = lines[n - 1];
    // The line the NUL is on is refused, not read.
    if (nul != std::string_view::npos && n == lines.size() && !before.ends_with('\r') && !before.ends_with('\n')) break;
    if (line.empty()) continue;
    const std::vector<std::string> fields = Fields(line);
    if (fields.empty()) return out.push_back("!" + std::to_string(n) + " " + text::EStringListError(1).Message()), out;
    const std::string& name = fields[0];
    const std::string password = fields.size() > 1 ? fields[1] : "";
    for (const char c : name)
      if (IsControl(c)) return out.push_back(Refused(messages::SCsvNameControl, n)), out;
    if (name.find(':') != std::string::npos) return out.push_back(Refused(messages::SCsvNameColon, n)), out;
    if (name.empty() && !password.empty()) return out.push_back(Refused(messages::SCsvPasswordWithoutName, n)), out;
    out.push_back(Shown(name, password, static_cast<long long>(n)));
  }
  if (nul != std::string_view::npos) {
    const bool ended = before.empty() || before.ends_with('\r') || before.ends_with('\n');
    out.push_back(Refused(messages::SCsvNulLine, lines.size() + (ended ? 1 : 0)));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t choices = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const auto dialect = (choices & 1) != 0 ? core::CsvDialect::Delimited : core::CsvDialect::Rfc4180;
  const std::vector<std::string> whole = Read(text, dialect, 0);
  CHECK(Read(text, dialect, choices | 1u) == whole);
  if (dialect == core::CsvDialect::Delimited) CHECK(whole == DelimitedModel(text));
  return 0;
}

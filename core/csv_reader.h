// Credential files as people write them: one user a record, the name in the first field and the
// password in the second (later fields are ignored). A file is read as a stream, a piece at a time
// and a record at a time, so that a million users need no table of rows, and in time linear in
// its size.
//
// Whatever the dialect, nothing reaches a caller that would inject a line or a user into a
// password file: a NUL anywhere, a name with a control character or ':', a password with a line
// break, and a password without a name are refused with the line they are on.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

namespace core {

enum class CsvDialect {
  // CSV as spreadsheets save it (RFC 4180, read by libcsv): fields are separated by commas only,
  // blanks belong to the field, a field may be quoted ("" for a quote inside), and a quoted field
  // may hold commas and line breaks. The text must be UTF-8; a byte-order mark opening it is dropped.
  Rfc4180,
  // The window's Shift-JIS reader: each line is split by text::SplitDelimited, so blanks separate
  // fields as commas do; the bytes are taken as they are, a byte-order mark included.
  Delimited,
};

// One record. The views hold until the reader is fed again.
struct TCsvRecord {
  std::string_view name, password;  // the bytes of the file, not converted
  long long line = 0;               // where the record begins, counted from 1
};

class TCsvReader {
 public:
  using TOnRecord = std::function<void(const TCsvRecord&)>;

  // A reader that gives each record it completes to `record`, in the order of the file.
  TCsvReader(CsvDialect dialect, TOnRecord record);
  ~TCsvReader();
  TCsvReader(const TCsvReader&) = delete;
  TCsvReader& operator=(const TCsvReader&) = delete;

  // Reads the next piece of the file, which may end anywhere, even inside a character. Fails with a
  // text::Exception naming the line it is about (in the message and in its facts), and passes on
  // what `record` throws, told the record's line; the reader is spent after a failure.
  void Feed(std::string_view piece);
  // The end of the file: gives the last record, or fails as Feed does (an unterminated quote is
  // named by the line where its field begins).
  void Finish();

 private:
  class TImpl;
  std::unique_ptr<TImpl> impl_;
};

// Reads all of `bytes` as the dialect says.
void ReadCsv(std::string_view bytes, CsvDialect dialect, const TCsvReader::TOnRecord& record);

}  // namespace core

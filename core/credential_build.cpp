#include "core/credential_build.h"

#include <algorithm>
#include <vector>

#include "core/encoding.h"
#include "core/encrypt_password.h"
#include "platform/key_fold.h"
#include "text/exceptions.h"
#include "text/messages.h"
#include "text/string_list.h"
#include "text/umyfunc.h"

namespace core {
namespace {

// A line the delimited-text reader splits at its commas alone: printable ASCII with no blank and
// no quote, so that no field is quoted, trimmed or split at a blank, and no byte can take the
// comma after it as the second byte of a character.
bool Plain(std::string_view line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c > ' ' && c < 0x7F && c != '"'; });
}

// Names as the table compares them, indexed by their folded form: open addressing over the rows'
// positions, with each folded form's hash beside it, so that a million names cost a few bytes each
// rather than a node and a string apiece.
class TNameIndex {
 public:
  explicit TNameIndex(std::size_t names) {
    std::size_t size = 16;
    while (size < 2 * names) size *= 2;
    slots_.assign(size, {0, kEmpty});
  }
  // False when a name with the same folded form is there already.
  bool Insert(const std::string& folded, const std::vector<TCredential>& rows, std::uint32_t row) {
    const std::size_t hash = std::hash<std::string>{}(folded);
    for (std::size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
      Slot& slot = slots_[i];
      if (slot.row == kEmpty) {
        slot = {hash, row};
        return true;
      }
      if (slot.hash == hash && platform::FoldKey(rows[slot.row].key) == folded) return false;
    }
  }

 private:
  static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};
  struct Slot {
    std::size_t hash;
    std::uint32_t row;
  };
  std::vector<Slot> slots_;
};

}  // namespace

std::optional<TCredential> ParseCredentialLine(std::string_view line, long long number, bool utf8) {
  // Spreadsheets and editors save UTF-8 with a byte-order mark, which is no part of the first name.
  if (utf8 && number == 1 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
  if (line.empty()) return std::nullopt;
  std::string converted;
  if (utf8) line = converted = Cp932FromUtf8Line(line, number);
  if (Plain(line)) {
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) return TCredential{std::string(line), {}};
    const std::size_t next = line.find(',', comma + 1);
    return TCredential{std::string(line.substr(0, comma)), std::string(line.substr(comma + 1, next - comma - 1))};
  }
  const text::TStringList fields = text::SplitDelimited(line, ',');
  // A line of nothing but blanks yields no field at all. The tool has always answered it by asking
  // for the password, field 1, of an empty list: its users know the list-index message that gives,
  // so it stays, said here rather than left to an out-of-range read.
  if (fields.Count() == 0) throw text::EStringListError(1);
  return TCredential{fields.Get(0), fields.Count() == 1 ? std::string() : fields.Get(1)};
}

void ForEachRecord(const std::string& path, bool utf8,
                   const std::function<void(std::string name, std::string password, long long line)>& each) {
  const std::string bytes = text::ReadFileBytes(path);
  long long number = 0;
  text::ReadingFile(path, number, [&] {
    text::ForEachLine(bytes, [&](std::string_view line) {
      ++number;
      if (utf8 && number == 1 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
      if (line.empty()) return;
      const text::TStringList fields = text::SplitDelimited(line, ',');
      if (fields.Count() == 0) return;
      each(fields.Get(0), fields.Count() == 1 ? std::string() : fields.Get(1), number);
    });
  });
}

std::optional<TBuiltFiles> BuildCredentialFile(const std::string& path, const TSettings& settings,
                                               std::string_view auth_user_file, std::string_view auth_name,
                                               const std::function<bool(std::size_t done, std::size_t total)>& keep_going) {
  std::vector<TCredential> rows;
  {
    const std::string bytes = text::ReadFileBytes(path);
    // At most one line for every line end, and one more.
    const auto lines = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n') +
                                                std::count(bytes.begin(), bytes.end(), '\r')) + 1;
    TNameIndex names(lines);
    rows.reserve(static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1);
    long long number = 0;
    text::ReadingFile(path, number, [&] {
      text::ForEachLine(bytes, [&](std::string_view line) {
        std::optional<TCredential> record = ParseCredentialLine(line, ++number, settings.utf8);
        if (!record) return;
        if (record->key.find('=') != std::string::npos) throw text::Exception(std::string(messages::SNoEqualsInKey));
        // A first row of an empty name and password is the table's current row, left empty: the
        // next record fills it instead of coming below it.
        if (rows.size() == 1 && rows[0].key.empty() && rows[0].value.empty()) rows.clear();
        if (!record->key.empty() && !names.Insert(platform::FoldKey(record->key), rows, static_cast<std::uint32_t>(rows.size())))
          throw text::Exception(text::FormatMessage(messages::SDuplicateString, {record->key}));
        rows.push_back(*std::move(record));
      });
    });
  }
  TBuiltFiles files;
  files.users = rows.size();
  files.htaccess = OutputBytes(HtaccessText(auth_user_file, auth_name), settings.utf8);
  // The draws in row order, the hashing a chunk of rows at a time on every core: the same draws as
  // a whole build makes, without a job per row held for the whole file.
  constexpr std::size_t kChunk = std::size_t{64} * 1024;
  std::vector<THashJob> jobs;
  for (std::size_t from = 0; from < rows.size(); from += kChunk) {
    const std::size_t to = std::min(rows.size(), from + kChunk);
    jobs.clear();
    for (std::size_t r = from; r < to; ++r) {
      // A name that cannot leave the program as the chosen encoding stops the build before hashing.
      if (settings.utf8) (void)OutputBytes(rows[r].key, true);
      jobs.push_back(DrawHashJob(rows[r].value, settings.format, settings.strength, settings.utf8));
    }
    const std::optional<std::vector<std::string>> hashes =
        HashJobs(jobs, [&](std::size_t done) { return keep_going(from + done, rows.size()); });
    if (!hashes) return std::nullopt;
    for (std::size_t r = from; r < to; ++r) {
      const std::string& hash = (*hashes)[r - from];
      const std::string& password = jobs[r - from].password;
      if (settings.utf8) {
        files.htpasswd.append(OutputBytes(rows[r].key + ":" + hash, true)).append("\r\n");
        files.passwd.append(OutputBytes(rows[r].key + "=" + password, true)).append("\r\n");
      } else {
        files.htpasswd.append(rows[r].key).append(":").append(hash).append("\r\n");
        files.passwd.append(rows[r].key).append("=").append(password).append("\r\n");
      }
    }
  }
  return files;
}

}  // namespace core

#include "core/credential_build.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "core/csv_reader.h"
#include "core/encoding.h"
#include "core/encrypt_password.h"
#include "core/user_file.h"
#include "platform/key_fold.h"
#include "text/exceptions.h"
#include "text/messages.h"
#include "text/string_list.h"

namespace core {
namespace {

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
  // The row of a name with the same `key` (the name, or its folded form when `folded`) that is there
  // already, or nothing when `row` went in.
  std::optional<std::uint32_t> Insert(const std::string& key, const std::vector<TCredential>& rows, std::uint32_t row, bool folded) {
    if (2 * (count_ + 1) > slots_.size()) Grow(rows, folded);
    const std::size_t hash = std::hash<std::string>{}(key);
    for (std::size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
      TSlot& slot = slots_[i];
      if (slot.row == kEmpty) {
        slot = {hash, row};
        ++count_;
        return std::nullopt;
      }
      if (slot.hash == hash && (folded ? platform::FoldKey(rows[slot.row].key) : rows[slot.row].key) == key) return slot.row;
    }
  }

 private:
  static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};
  struct TSlot {
    std::size_t hash;
    std::uint32_t row;
  };
  void Grow(const std::vector<TCredential>& rows, bool folded) {
    std::vector<TSlot> old(2 * slots_.size(), {0, kEmpty});
    old.swap(slots_);
    count_ = 0;
    for (const TSlot& slot : old)
      if (slot.row != kEmpty) Insert(folded ? platform::FoldKey(rows[slot.row].key) : rows[slot.row].key, rows, slot.row, folded);
  }
  std::vector<TSlot> slots_;
  std::size_t count_ = 0;
};

}  // namespace

void ForEachCredential(std::string_view bytes, bool utf8, const std::function<void(TCredential&&, long long line)>& record) {
  // ASCII is the same bytes in both encodings, and composed: most fields need no conversion.
  const auto cp932 = [&](std::string_view field, long long line) {
    const bool ascii = std::all_of(field.begin(), field.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return !utf8 || ascii ? std::string(field) : Cp932FromUtf8Line(field, line);
  };
  ReadCsv(bytes, utf8 ? CsvDialect::Rfc4180 : CsvDialect::Delimited,
          [&](const TCsvRecord& r) { record({cp932(r.name, r.line), cp932(r.password, r.line)}, r.line); });
}

void ForEachRecord(const std::string& path, bool utf8,
                   const std::function<void(std::string name, std::string password, long long line)>& each) {
  const std::string bytes = text::ReadFileBytes(path);
  text::ReadingFile(path, 0, [&] {
    ReadCsv(bytes, utf8 ? CsvDialect::Rfc4180 : CsvDialect::Delimited, [&](const TCsvRecord& r) {
      // A line with neither name nor password holds nobody.
      if (!r.name.empty() || !r.password.empty()) each(std::string(r.name), std::string(r.password), r.line);
    });
  });
}

std::optional<TBuiltFiles> BuildCredentialFile(const std::string& path, const TSettings& settings,
                                               std::string_view auth_user_file, std::string_view auth_name,
                                               const std::function<bool(std::size_t done, std::size_t total)>& keep_going,
                                               bool exact) {
  std::vector<TCredential> rows;
  if (exact) {
    TNameIndex names(0);
    ForEachRecord(path, settings.utf8, [&](std::string name, std::string password, long long line) {
      if (const std::string_view problem = NameProblem(name); !problem.empty())
        throw text::Exception(std::string(problem), {{}, line, 0});
      if (names.Insert(name, rows, static_cast<std::uint32_t>(rows.size()), false))
        throw text::Exception(std::string(messages::SSameNameTwice), {{}, line, 0});
      rows.push_back({std::move(name), std::move(password)});
    });
  } else {
    const std::string bytes = text::ReadFileBytes(path);
    // At most one line for every line end, and one more.
    const auto lines = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n') +
                                                std::count(bytes.begin(), bytes.end(), '\r')) + 1;
    TNameIndex names(lines);
    rows.reserve(static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1);
    text::ReadingFile(path, 0, [&] {
      ForEachCredential(bytes, settings.utf8, [&](TCredential&& record, long long) {
        if (record.key.find('=') != std::string::npos) throw text::Exception(std::string(messages::SNoEqualsInKey));
        // A first row of an empty name and password is the table's current row, left empty: the
        // next record fills it instead of coming below it.
        if (rows.size() == 1 && rows[0].key.empty() && rows[0].value.empty()) rows.clear();
        if (const auto earlier = record.key.empty() ? std::nullopt
                                 : names.Insert(platform::FoldKey(record.key), rows, static_cast<std::uint32_t>(rows.size()), true)) {
          const std::string& other = rows[*earlier].key;
          throw text::Exception(text::FormatMessage(other == record.key ? messages::SSameUserAgain : messages::SUserDiffersInCaseOnly,
                                                    {record.key, other}));
        }
        rows.push_back(std::move(record));
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
      if (settings.utf8 && !exact) (void)OutputBytes(rows[r].key, true);
      jobs.push_back(DrawHashJob(rows[r].value, settings.format, settings.strength, settings.utf8 && !exact));
    }
    const std::optional<std::vector<std::string>> hashes =
        HashJobs(jobs, [&](std::size_t done) { return keep_going(from + done, rows.size()); });
    if (!hashes) return std::nullopt;
    for (std::size_t r = from; r < to; ++r) {
      const std::string& hash = (*hashes)[r - from];
      const std::string& password = jobs[r - from].password;
      if (settings.utf8 && !exact) {
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

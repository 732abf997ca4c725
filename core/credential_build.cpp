#include "core/credential_build.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "core/csv_reader.h"
#include "core/encoding.h"
#include "core/encrypt_password.h"
#include "core/user_file.h"
#include "text/exceptions.h"
#include "text/messages.h"
#include "text/string_list.h"

namespace core {
namespace {

// Names by their bytes: open addressing over the rows' positions, with each name's hash beside
// it, so that a million names cost a few bytes each rather than a node and a string apiece.
class TNameIndex {
 public:
  // The row of the name `rows[row].key` that is there already, or nothing when `row` went in.
  std::optional<std::uint32_t> Insert(const std::vector<TCredential>& rows, std::uint32_t row) {
    if (2 * (count_ + 1) > slots_.size()) Grow(rows);
    const std::string& key = rows[row].key;
    const std::size_t hash = std::hash<std::string>{}(key);
    for (std::size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
      TSlot& slot = slots_[i];
      if (slot.row == kEmpty) {
        slot = {hash, row};
        ++count_;
        return std::nullopt;
      }
      if (slot.hash == hash && rows[slot.row].key == key) return slot.row;
    }
  }

 private:
  static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};
  struct TSlot {
    std::size_t hash;
    std::uint32_t row;
  };
  void Grow(const std::vector<TCredential>& rows) {
    std::vector<TSlot> old(std::max<std::size_t>(16, 2 * slots_.size()), {0, kEmpty});
    old.swap(slots_);
    count_ = 0;
    for (const TSlot& slot : old)
      if (slot.row != kEmpty) Insert(rows, slot.row);
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
                                               const std::function<bool(std::size_t done, std::size_t total)>& keep_going) {
  std::vector<TCredential> rows;
  TNameIndex names;
  ForEachRecord(path, settings.utf8, [&](std::string name, std::string password, long long line) {
    if (const std::string_view problem = NameProblem(name); !problem.empty())
      throw text::Exception(std::string(problem), {{}, line, 0});
    rows.push_back({std::move(name), std::move(password)});
    if (names.Insert(rows, static_cast<std::uint32_t>(rows.size() - 1)))
      throw text::Exception(std::string(messages::SSameNameTwice), {{}, line, 0});
  });
  TBuiltFiles files;
  files.users = rows.size();
  // The draws in row order, the hashing a chunk of rows at a time on every core, without a job per
  // row held for the whole file.
  constexpr std::size_t kChunk = std::size_t{64} * 1024;
  std::vector<THashJob> jobs;
  for (std::size_t from = 0; from < rows.size(); from += kChunk) {
    const std::size_t to = std::min(rows.size(), from + kChunk);
    jobs.clear();
    for (std::size_t r = from; r < to; ++r) jobs.push_back(DrawHashJob(rows[r].value, settings.format, settings.strength));
    const std::optional<std::vector<std::string>> hashes =
        HashJobs(jobs, [&](std::size_t done) { return keep_going(from + done, rows.size()); });
    if (!hashes) return std::nullopt;
    for (std::size_t r = from; r < to; ++r) {
      files.htpasswd.append(rows[r].key).append(":").append((*hashes)[r - from]).append("\r\n");
      files.passwd.append(rows[r].key).append("=").append(jobs[r - from].password).append("\r\n");
    }
  }
  return files;
}

}  // namespace core

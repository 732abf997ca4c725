#include "core/htpasswd_file.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <unordered_map>
#include <unordered_set>

#include "core/encoding.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace core {
namespace {

// Far beyond any real user line (a SHA-512 line is under 200 bytes), and small enough that a file
// which is no .htpasswd at all is refused before its lines fill the table.
constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The name as the table holds it, or nothing when the table cannot hold it.
std::optional<std::string> TableKey(std::string_view name, bool utf8, std::size_t number) {
  if (name.find('=') != std::string_view::npos) return std::nullopt;
  // ASCII is the same in both encodings and needs no normalization: the common case stays cheap.
  if (!utf8 || IsAscii(name)) return std::string(name);
  try {
    return Cp932FromUtf8Line(name, static_cast<long long>(number));
  } catch (const text::Exception&) {
    return std::nullopt;
  }
}

// The users of a file as each server answers them: for every name either server reads, the hash of
// the line each answers by (none for a server that does not), in the order the names first come.
struct TEntries {
  using TEntry = std::array<std::optional<std::string>, 2>;
  std::vector<std::string> order;
  std::unordered_map<std::string, TEntry> by_name;
  const TEntry* Find(const std::string& name) const {
    const auto it = by_name.find(name);
    return it == by_name.end() ? nullptr : &it->second;
  }
};

// `only`, when given, limits the names recorded.
TEntries ReadEntries(std::string_view bytes, const std::unordered_set<std::string>* only = nullptr) {
  TEntries entries;
  ForEachLineVerdict(BytesReader(bytes), [&](const TLineVerdict& v) {
    for (int s = 0; s < 2; ++s) {
      if (!v.used[s] || (only != nullptr && !only->contains(v.reading[s]->name))) continue;
      const auto [it, added] = entries.by_name.try_emplace(v.reading[s]->name);
      if (added) entries.order.push_back(it->first);
      it->second[static_cast<std::size_t>(s)] = v.reading[s]->hash;
    }
  });
  return entries;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// A directive's argument as Apache takes it: quotes around it hold blanks in, and \" inside stands for ".
std::string Argument(std::string_view rest) {
  rest = TrimBlanks(rest);
  if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"') return std::string(rest);
  rest = rest.substr(1, rest.size() - 2);
  std::string out;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '\\' && i + 1 < rest.size() && rest[i + 1] == '"') ++i;
    out += rest[i];
  }
  return out;
}

}  // namespace

namespace {

// Refuses, naming the line, a file that holds a NUL byte or a line longer than 1 MiB: no password
// file has one, and Apache's reading of a NUL is not one the table's changes can be held to.
void RefuseOddLines(std::string_view bytes) {
  std::size_t number = 0;
  for (std::size_t from = 0; from < bytes.size();) {
    ++number;
    const std::size_t lf = std::min(bytes.find('\n', from), bytes.size());
    const std::string_view content = bytes.substr(from, lf - from);
    from = lf + 1;
    if (content.find('\0') != std::string_view::npos)
      throw text::Exception(text::FormatMessage(messages::SNulByteLine, {std::to_string(number)}), {{}, static_cast<long long>(number), 0});
    if (content.size() > kMaxLineBytes + (content.ends_with('\r') ? 1 : 0))
      throw text::Exception(text::FormatMessage(messages::SLongLine, {std::to_string(number)}), {{}, static_cast<long long>(number), 0});
  }
}

}  // namespace

TOpenedUsers ReadOpenedUsers(std::string_view bytes, bool utf8) {
  RefuseOddLines(bytes);
  TOpenedUsers opened;
  std::unordered_set<std::string> keys;
  ForEachLineVerdict(BytesReader(bytes), [&](const TLineVerdict& v) {
    const auto user = [&](int s) { return v.reading[s] != nullptr && v.reading[s]->kind == TServerLine::Kind::User; };
    if (!user(0) && !user(1)) return;
    std::optional<std::string> key;
    // A line without a hash has no password to keep, and a row without a hash would be given a new one.
    if (v.Agreed() && !v.reading[0]->hash.empty()) key = TableKey(v.reading[0]->name, utf8, v.number);
    // Two names may have one key (composed and decomposed forms of a character): the table holds one.
    if (!key || !keys.insert(*key).second) {
      ++opened.kept;
      return;
    }
    opened.users.push_back({v.reading[0]->name, *std::move(key), v.reading[0]->hash, v.number});
  });
  return opened;
}

TMerge MergeUsers(std::string_view base, std::string_view theirs, const std::vector<TUserChange>& changes) {
  RefuseOddLines(theirs);
  TMerge merge;
  std::unordered_map<std::string, const TUserChange*> last;  // a later change of a name wins
  for (const TUserChange& change : changes) last[change.name] = &change;
  std::unordered_set<std::string> names;
  for (const auto& [name, change] : last) names.insert(name);
  const TEntries before = ReadEntries(base, &names), there = ReadEntries(theirs, &names);
  std::unordered_set<std::string> told;
  for (const TUserChange& change : changes) {
    const TUserChange& final = *last[change.name];
    const TEntries::TEntry* b = before.Find(change.name);
    const TEntries::TEntry* t = there.Find(change.name);
    const TEntries::TEntry ours{final.hash, final.hash};
    const bool theirs_changed = (b == nullptr) != (t == nullptr) || (b != nullptr && *b != *t);
    const bool same_result = final.hash ? t != nullptr && *t == ours : t == nullptr;
    if (theirs_changed && !same_result && told.insert(change.name).second) merge.conflicts.push_back(change.name);
  }
  merge.bytes = EditUsers(BytesReader(theirs), changes).bytes;
  return merge;
}

TUserChanges CompareUsers(std::string_view before, std::string_view after) {
  const TEntries b = ReadEntries(before), a = ReadEntries(after);
  TUserChanges changes;
  changes.before = b.order.size();
  for (const std::string& name : b.order) {
    const TEntries::TEntry* entry = a.Find(name);
    if (entry == nullptr) changes.removed.push_back(name);
    else if (*entry != *b.Find(name)) ++changes.changed;
  }
  for (const std::string& name : a.order)
    if (b.Find(name) == nullptr) ++changes.added;
  return changes;
}

std::vector<std::string> UserNames(std::string_view bytes) { return ReadEntries(bytes).order; }

THtaccessSettings ReadHtaccessSettings(std::string_view bytes) {
  THtaccessSettings settings;
  for (std::size_t from = 0; from < bytes.size();) {
    const std::size_t lf = std::min(bytes.find('\n', from), bytes.size());
    std::string_view line = bytes.substr(from, lf - from);
    from = lf + 1;
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    const std::size_t word_end = std::min(line.find_first_of(" \t\r"), line.size());
    const std::string_view directive = line.substr(0, word_end), rest = line.substr(word_end);
    if (!settings.auth_user_file && EqualsIgnoringCase(directive, "AuthUserFile")) settings.auth_user_file = Argument(rest);
    if (!settings.auth_name && EqualsIgnoringCase(directive, "AuthName")) settings.auth_name = Argument(rest);
  }
  return settings;
}

}  // namespace core

// An existing .htpasswd of arbitrary bytes, opened in both encodings: refused whole exactly when a
// line holds a NUL byte or is longer than 1 MiB, and otherwise written back byte for byte when
// nothing was changed. Cut at its NUL bytes, the input is also the base, ours and theirs of a
// merge, whose users are checked against a model of what a server reads. The same bytes are split
// into lines as a credential file is, against a model of that too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/htpasswd_file.h"
#include "text/exceptions.h"
#include "text/string_list.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool MustRefuse(std::string_view bytes) {
  if (bytes.find('\0') != std::string_view::npos) return true;
  for (std::size_t from = 0; from < bytes.size();) {
    const std::size_t lf = bytes.find('\n', from);
    const std::size_t end = lf == std::string_view::npos ? bytes.size() : lf;
    const std::size_t cr = lf != std::string_view::npos && end > from && bytes[end - 1] == '\r' ? 1 : 0;
    if (end - from - cr > (std::size_t{1} << 20)) return true;
    from = end + 1;
  }
  return false;
}

void OpenAndWriteBack(std::string_view bytes) {
  for (const bool utf8 : {false, true}) {
    core::THtpasswdText text;
    try {
      text = core::ParseHtpasswd(bytes, utf8);
    } catch (const text::Exception&) {
      Check(MustRefuse(bytes));
      continue;
    }
    Check(!MustRefuse(bytes));
    std::vector<core::TOutputLine> rows;
    for (std::size_t i = 0; i < text.lines.size(); ++i)
      if (text.lines[i].kind == core::THtpasswdLine::Kind::User) rows.push_back({static_cast<int>(i), true, {}});
    Check(core::ComposeHtpasswd(text, rows) == bytes);
  }
}

// Name -> the first line of that name, without the CRs a server stops at or trims off.
using Users = std::map<std::string, std::string>;
Users ServerUsers(std::string_view bytes) {
  Users users;
  std::size_t from = 0;
  while (from < bytes.size()) {
    std::size_t lf = bytes.find('\n', from);
    if (lf == std::string_view::npos) lf = bytes.size();
    std::string line(bytes.substr(from, lf - from));
    from = lf + 1;
    while (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t colon = line.find(':');
    if (!line.empty() && line[0] != '#' && colon != std::string::npos) users.emplace(line.substr(0, colon), line);
  }
  return users;
}

std::optional<std::string> Find(const Users& users, const std::string& name) {
  const auto it = users.find(name);
  return it == users.end() ? std::nullopt : std::optional<std::string>(it->second);
}

void CheckMerge(std::string_view base, std::string_view ours, std::string_view theirs) {
  const core::TMerge merge = core::MergeHtpasswd(base, ours, theirs);
  const Users b = ServerUsers(base), o = ServerUsers(ours), t = ServerUsers(theirs), r = ServerUsers(merge.bytes);
  std::set<std::string> names, conflicts;
  for (const Users* users : {&b, &o, &t})
    for (const auto& [name, line] : *users) names.insert(name);
  for (const auto& [name, line] : r) Check(names.count(name) == 1);
  for (const std::string& name : names) {
    const std::optional<std::string> before = Find(b, name), after = Find(o, name), there = Find(t, name);
    Check(Find(r, name) == (before == after ? there : after));
    if (before != after && there != before && there != after) conflicts.insert(name);
  }
  Check(std::set<std::string>(merge.conflicts.begin(), merge.conflicts.end()) == conflicts);
  Check(merge.conflicts.size() == conflicts.size());

  const core::TUserChanges changes = core::CompareUsers(base, theirs);
  int removed = 0, added = 0, changed = 0;
  for (const std::string& name : names) {
    const std::optional<std::string> before = Find(b, name), after = Find(t, name);
    removed += before && !after ? 1 : 0;
    added += !before && after ? 1 : 0;
    changed += before && after && before != after ? 1 : 0;
  }
  Check(changes.removed.size() == static_cast<std::size_t>(removed) && changes.added == added && changes.changed == changed);
}

}  // namespace

// The lines of a credential file, by a model of its own: the text ends at its first NUL, and a
// line at the first CR or LF after it; a CR LF pair is one end.
void CheckLineSplitting(std::string_view input) {
  std::vector<std::string> model;
  const std::string_view text = input.substr(0, input.find('\0'));
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find_first_of("\r\n", at), text.size());
    model.emplace_back(text.substr(at, end - at));
    at = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
  }
  Check(text::SplitLines(input) == model);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckLineSplitting(input);
  // At most three parts: the last keeps any further NUL bytes, which its opening must refuse.
  std::vector<std::string_view> parts;
  std::string_view rest = input;
  while (parts.size() < 2 && rest.find('\0') != std::string_view::npos) {
    parts.push_back(rest.substr(0, rest.find('\0')));
    rest.remove_prefix(parts.back().size() + 1);
  }
  parts.push_back(rest);
  for (const std::string_view part : parts) OpenAndWriteBack(part);

  const std::string_view base = parts[0], ours = parts.size() == 3 ? parts[1] : parts.back(), theirs = parts.back();
  Check(core::MergeHtpasswd(base, base, theirs).bytes == theirs);
  Check(core::MergeHtpasswd(base, ours, base).bytes == ours);
  const core::TMerge same = core::MergeHtpasswd(base, ours, ours);  // both sides made the same change
  Check(same.bytes == ours && same.conflicts.empty());
  CheckMerge(base, ours, theirs);
  return 0;
}

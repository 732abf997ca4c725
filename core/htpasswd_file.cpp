#include "core/htpasswd_file.h"

#include <algorithm>
#include <cstddef>
#include <unordered_map>
#include <unordered_set>

#include "core/encoding.h"
#include "hashes/hashes.h"
#include "platform/key_fold.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace core {
namespace {

// Far beyond any real user line (a SHA-512 line is under 200 bytes), and small enough that a file
// which is no .htpasswd at all is refused before its lines fill the table.
constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The name a line gives servers, or nothing for a line they skip.
std::optional<std::string_view> ServerName(std::string_view content) {
  const std::size_t colon = content.find(':');
  if (content.empty() || content.front() == '#' || colon == std::string_view::npos) return std::nullopt;
  return content.substr(0, colon);
}

// The name as the table holds it, or nothing when the table cannot hold it.
std::optional<std::string> TableKey(std::string_view name, bool utf8, long long number) {
  if (name.find('=') != std::string_view::npos) return std::nullopt;
  // ASCII is the same in both encodings and needs no normalization: the common case stays cheap.
  if (!utf8 || IsAscii(name)) return std::string(name);
  try {
    return Cp932FromUtf8Line(name, number);
  } catch (const text::Exception&) {
    return std::nullopt;
  }
}

// A file as servers read it, for merging and comparing. Unlike the opened file this view is the
// same in both encodings: it never converts, and a byte-order mark is part of the first name, as
// servers take it.
class TUsers {
 public:
  struct Line {
    std::string_view entry;  // without the end
    std::string_view end;    // any CRs before the LF, and the LF
    std::optional<std::string_view> name;
  };

  explicit TUsers(std::string_view bytes) {
    for (std::size_t from = 0; from < bytes.size();) {
      const std::size_t lf = bytes.find('\n', from);
      const std::size_t end = lf == std::string_view::npos ? bytes.size() : lf + 1;
      const std::string_view whole = bytes.substr(from, end - from);
      // Servers stop reading a hash at a CR (nginx) or trim it off (Apache), so any number of them
      // belong to the line's end: a copy of the entry never changes by taking another line's end.
      std::size_t content = whole.size() - (lf == std::string_view::npos ? 0 : 1);
      while (content > 0 && whole[content - 1] == '\r') --content;
      Line line{whole.substr(0, content), whole.substr(content), ServerName(whole.substr(0, content))};
      if (newline_.empty() && lf != std::string_view::npos) newline_ = content + 1 < whole.size() ? "\r\n" : "\n";
      if (line.name && first_.emplace(*line.name, lines_.size()).second) order_.push_back(*line.name);
      lines_.push_back(line);
      from = end;
    }
  }

  // The first line of `name` without its end: the user as servers see it.
  std::optional<std::string_view> Entry(std::string_view name) const {
    const auto it = first_.find(name);
    if (it == first_.end()) return std::nullopt;
    return lines_[it->second].entry;
  }
  const std::vector<std::string_view>& Names() const { return order_; }
  std::string_view Newline() const { return newline_; }

  const std::vector<Line>& Lines() const { return lines_; }
  bool IsFirst(std::size_t index) const { return lines_[index].name && first_.at(*lines_[index].name) == index; }

 private:
  std::vector<Line> lines_;
  std::unordered_map<std::string_view, std::size_t> first_;
  std::vector<std::string_view> order_;
  std::string_view newline_;
};

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

THtpasswdText ParseHtpasswd(std::string_view bytes, bool utf8) {
  THtpasswdText text;
  std::unordered_set<std::string_view> names;
  std::unordered_set<std::string> folded_keys;
  long long number = 0;
  for (std::size_t from = 0; from < bytes.size();) {
    ++number;
    const std::size_t lf = bytes.find('\n', from);
    std::size_t end = lf == std::string_view::npos ? bytes.size() : lf;
    THtpasswdLine line;
    if (lf != std::string_view::npos) {
      const bool cr = end > from && bytes[end - 1] == '\r';
      line.ending = cr ? "\r\n" : "\n";
      end -= cr ? 1 : 0;
    }
    std::string_view content = bytes.substr(from, end - from);
    from = lf == std::string_view::npos ? bytes.size() : lf + 1;
    if (content.find('\0') != std::string_view::npos)
      throw text::Exception(text::FormatMessage(messages::SNulByteLine, {std::to_string(number)}), {{}, static_cast<long long>(number), 0});
    if (content.size() > kMaxLineBytes)
      throw text::Exception(text::FormatMessage(messages::SLongLine, {std::to_string(number)}), {{}, static_cast<long long>(number), 0});
    if (text.newline.empty()) text.newline = line.ending;
    line.bytes = content;
    if (utf8 && number == 1 && content.starts_with(kByteOrderMark)) content.remove_prefix(kByteOrderMark.size());

    const std::optional<std::string_view> name = ServerName(content);
    if (name) {
      line.name = *name;
      line.hash = content.substr(name->size() + 1);
      if (!names.insert(*name).second) {
        line.kind = THtpasswdLine::Kind::SecondName;
      } else if (!hashes::IdentifyHash(line.hash)) {
        line.kind = THtpasswdLine::Kind::UnknownHash;
      } else if (std::optional<std::string> key = TableKey(*name, utf8, number);
                 !key || (!key->empty() && !folded_keys.insert(platform::FoldKey(*key)).second)) {
        // The empty key is exempt from the table's uniqueness, as it is there.
        line.kind = THtpasswdLine::Kind::Unstorable;
      } else {
        line.kind = THtpasswdLine::Kind::User;
        line.key = *std::move(key);
      }
    }
    text.lines.push_back(std::move(line));
  }
  if (text.newline.empty()) text.newline = "\r\n";
  return text;
}

std::string ComposeHtpasswd(const THtpasswdText& opened, const std::vector<TOutputLine>& rows) {
  const std::vector<THtpasswdLine>& lines = opened.lines;
  const std::string_view newline = opened.newline.empty() ? std::string_view("\r\n") : std::string_view(opened.newline);
  std::vector<bool> from_row(lines.size());
  for (const TOutputLine& row : rows)
    if (row.origin >= 0) from_row.at(static_cast<std::size_t>(row.origin)) = true;

  struct Piece {
    std::string_view content, ending;
  };
  std::vector<Piece> pieces;
  std::unordered_set<std::string_view> names;  // of the lines written so far
  std::size_t next = 0;
  const auto keep_lines_before = [&](std::size_t limit) {
    for (; next < limit; ++next) {
      const THtpasswdLine& line = lines[next];
      if (line.kind == THtpasswdLine::Kind::User || from_row[next]) continue;
      if (line.kind == THtpasswdLine::Kind::SecondName && !names.contains(line.name)) continue;
      if (line.kind != THtpasswdLine::Kind::Skipped) names.insert(line.name);
      pieces.push_back({line.bytes, line.ending});
    }
  };
  for (const TOutputLine& row : rows) {
    if (row.origin < 0) {
      pieces.push_back({row.text, newline});
    } else {
      const auto origin = static_cast<std::size_t>(row.origin);
      keep_lines_before(origin);
      const THtpasswdLine& line = lines[origin];
      pieces.push_back({row.untouched ? std::string_view(line.bytes) : std::string_view(row.text), line.ending});
      if (row.untouched && line.kind != THtpasswdLine::Kind::Skipped) {
        names.insert(line.name);
        continue;
      }
    }
    if (const std::optional<std::string_view> name = ServerName(row.text)) names.insert(*name);
  }
  keep_lines_before(lines.size());

  std::string out;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    out += pieces[i].content;
    out += pieces[i].ending.empty() && i + 1 < pieces.size() ? newline : pieces[i].ending;
  }
  return out;
}

TMerge MergeHtpasswd(std::string_view base, std::string_view ours, std::string_view theirs) {
  TMerge merge;
  // Nothing to merge: ours was made from this very file, in our order and with our line ends.
  if (theirs == base) {
    merge.bytes = ours;
    return merge;
  }
  const TUsers b(base), o(ours), t(theirs);
  // Each user we changed, and what it becomes: our entry, or none.
  std::unordered_map<std::string_view, std::optional<std::string_view>> ours_wins;
  const auto consider = [&](std::string_view name) {
    const std::optional<std::string_view> before = b.Entry(name), after = o.Entry(name), there = t.Entry(name);
    if (before == after || there == after) return;
    if (there != before) merge.conflicts.emplace_back(name);
    ours_wins.emplace(name, after);
  };
  for (const std::string_view name : o.Names()) consider(name);
  for (const std::string_view name : b.Names())
    if (!o.Entry(name)) consider(name);
  if (ours_wins.empty()) {
    merge.bytes = theirs;
    return merge;
  }

  std::string& out = merge.bytes;
  out.reserve(theirs.size() + ours.size());
  const std::vector<TUsers::Line>& lines = t.Lines();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const TUsers::Line& line = lines[i];
    const auto wins = line.name ? ours_wins.find(*line.name) : ours_wins.end();
    if (wins == ours_wins.end()) {
      out += line.entry;
    } else if (!wins->second) {
      continue;  // removed: its shadowed lines go too, or one of them would take its place
    } else {
      out += t.IsFirst(i) ? *wins->second : line.entry;
    }
    out += line.end;
  }
  std::string_view newline = !t.Newline().empty() ? t.Newline() : !o.Newline().empty() ? o.Newline() : "\r\n";
  for (const std::string_view name : o.Names()) {
    const auto wins = ours_wins.find(name);
    if (wins == ours_wins.end() || t.Entry(name)) continue;
    if (!out.empty() && out.back() != '\n') out += out.back() == '\r' ? "\n" : newline;
    out += *wins->second;
    out += newline;
  }
  return merge;
}

TUserChanges CompareUsers(std::string_view before, std::string_view after) {
  const TUsers b(before), a(after);
  TUserChanges changes;
  for (const std::string_view name : b.Names()) {
    const std::optional<std::string_view> entry = a.Entry(name);
    if (!entry) changes.removed.emplace_back(name);
    else if (entry != b.Entry(name)) ++changes.changed;
  }
  for (const std::string_view name : a.Names())
    if (!b.Entry(name)) ++changes.added;
  return changes;
}

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

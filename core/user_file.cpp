#include "core/user_file.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <unordered_map>
#include <unordered_set>

#include "text/exceptions.h"
#include "text/messages.h"

namespace core {
namespace {

using hashes::Server;

// A piece is held as each server reads its lines, old and new, at about 18 times its size: beside a
// new file that is held whole, 64 KiB keeps that near a megabyte (1 MiB took 18 MB more).
constexpr std::size_t kPieceBytes = std::size_t{1} << 16;

// The file piece by piece, each piece ending where no server carries a line on into the next.
template <class Each>
void ForEachPiece(const std::function<std::size_t(char*, std::size_t)>& read, const Each& each) {
  std::string buffer;
  std::size_t want = kPieceBytes;
  for (bool end = false; !end;) {
    // Filled before it is scanned, however little each read gives (a pipe, a slow disk).
    const std::size_t had = buffer.size();
    buffer.resize(had + want);
    std::size_t filled = 0;
    for (std::size_t got = 1; got != 0 && filled < want; filled += got) got = read(buffer.data() + had + filled, want - filled);
    buffer.resize(had + filled);
    end = filled < want;
    const std::size_t cut = end ? buffer.size() : SafeCut(buffer);
    // A line longer than a piece: the next read doubles what is held, so that the scans for a cut
    // add up to a few times the line, not its square.
    want = cut == 0 ? std::max(kPieceBytes, buffer.size()) : kPieceBytes;
    if (cut == 0 && !end) continue;
    if (!each(std::string_view(buffer).substr(0, cut), end)) return;
    buffer.erase(0, cut);
  }
}

// The physical lines of a piece, each with its LF.
std::vector<std::string_view> PhysicalLines(std::string_view piece) {
  std::vector<std::string_view> lines;
  for (std::size_t from = 0; from < piece.size();) {
    const std::size_t lf = piece.find('\n', from);
    const std::size_t end = lf == std::string_view::npos ? piece.size() : lf + 1;
    lines.push_back(piece.substr(from, end - from));
    from = end;
  }
  return lines;
}

// A line's end: the CRs before its LF and the LF, which servers never take into the hash.
std::string_view LineEnd(std::string_view line) {
  if (!line.ends_with('\n')) return {};
  std::size_t start = line.size() - 1;
  while (start > 0 && line[start - 1] == '\r') --start;
  return line.substr(start);
}

// A line that answers for a name: a user with its hash, or a name without one (which stops Apache,
// and makes nginx skip a line).
struct TUserSeen {
  std::string name, hash;
  bool user = true;
  bool operator==(const TUserSeen&) const = default;
};

bool Answers(const TServerLine& line) {
  return line.kind == TServerLine::Kind::User || line.kind == TServerLine::Kind::NoColon;
}

text::Exception ChangesOthers(std::size_t line) {
  return text::Exception(text::FormatMessage(messages::SEditChangesOthers, {std::to_string(line)}),
                         {{}, static_cast<long long>(line), 0});
}

}  // namespace

TEditedFile EditUsers(const std::function<std::size_t(char*, std::size_t)>& read, const std::vector<TUserChange>& changes) {
  std::unordered_map<std::string_view, const TUserChange*> wanted;
  for (const TUserChange& change : changes) wanted[change.name] = &change;
  std::vector<std::string_view> order;  // of the names given a hash, as first given
  {
    std::unordered_set<std::string_view> seen;
    for (const TUserChange& change : changes)
      if (seen.insert(change.name).second && wanted[change.name]->hash) order.push_back(change.name);
  }
  std::unordered_set<std::string_view> placed, found;
  // What each server has read so far of the old and of the new file.
  TServerReader old_readers[] = {TServerReader(Server::Apache), TServerReader(Server::Nginx)};
  TServerReader new_readers[] = {TServerReader(Server::Apache), TServerReader(Server::Nginx)};
  bool stopped[2] = {false, false};  // the server reads no further
  std::string newline;
  std::size_t line_base = 0;
  TEditedFile edited;
  std::vector<TServerLine> readings[2], rereadings;

  ForEachPiece(read, [&](std::string_view piece, bool last) {
    const std::vector<std::string_view> lines = PhysicalLines(piece);
    if (newline.empty() && !lines.empty()) newline = LineEnd(lines.front());
    // The changed name each physical line belongs to, for either server: the line goes or is rewritten.
    // Optional, since the empty name is a name too (Apache takes it).
    std::vector<std::optional<std::string_view>> owner(lines.size());
    for (int s = 0; s < 2; ++s) {
      readings[s].clear();
      old_readers[s].Read(piece, last, readings[s]);
      for (const TServerLine& line : readings[s]) {
        // A line of the name without a hash would stop Apache before the user's line.
        const auto it = Answers(line) ? wanted.find(line.name) : wanted.end();
        if (it == wanted.end()) continue;
        found.insert(it->first);
        for (std::size_t k = line.first; k <= line.last; ++k)
          if (!owner.at(k - line_base)) owner[k - line_base] = it->first;
      }
    }

    const std::size_t out_start = edited.bytes.size();
    std::vector<std::optional<std::string_view>> rewritten(lines.size());  // the user a line now holds
    for (std::size_t k = 0; k < lines.size(); ++k) {
      if (!owner[k]) {
        edited.bytes += lines[k];
        continue;
      }
      const TUserChange& change = *wanted[*owner[k]];
      if (change.hash && placed.insert(*owner[k]).second) {
        edited.bytes.append(change.name).append(":").append(*change.hash).append(LineEnd(lines[k]));
        rewritten[k] = owner[k];
        ++edited.replaced;
      } else {
        ++edited.removed;
      }
    }

    // What each server must read in the new piece: its old users off the changed lines, in their
    // order, each rewritten user where its line stands, and the new users at the end.
    std::vector<TUserSeen> expected[2];
    for (int s = 0; s < 2; ++s) {
      for (const TServerLine& line : readings[s]) {
        stopped[s] = line.kind == TServerLine::Kind::Unread;
        if (stopped[s]) continue;
        bool touched = false;
        for (std::size_t k = line.first; k <= line.last; ++k) {
          touched = touched || owner[k - line_base].has_value();
          if (const std::optional<std::string_view>& now = rewritten[k - line_base])
            expected[s].push_back({std::string(*now), *wanted[*now]->hash});
        }
        if (!Answers(line)) continue;
        const bool user = line.kind == TServerLine::Kind::User;
        if (!touched) expected[s].push_back({line.name, line.hash, user});
        else if (user && !wanted.contains(line.name)) edited.also_gone.push_back({hashes::kServers[s], line.name, line.first + 1});
      }
    }
    if (last) {
      for (const std::string_view name : order) {
        if (placed.contains(name)) continue;
        if (!edited.bytes.empty() && !edited.bytes.ends_with('\n')) edited.bytes += newline.empty() ? "\n" : newline;
        edited.bytes.append(name).append(":").append(*wanted[name]->hash).append(newline.empty() ? "\n" : newline);
        for (int s = 0; s < 2; ++s)
          if (!stopped[s]) expected[s].push_back({std::string(name), *wanted[name]->hash});
        ++edited.added;
      }
    }

    // The new piece read as each server reads it must hold exactly those users.
    const std::string_view out = std::string_view(edited.bytes).substr(out_start);
    if (!last && SafeCut(out) != out.size()) throw ChangesOthers(line_base + lines.size());
    for (int s = 0; s < 2; ++s) {
      rereadings.clear();
      new_readers[s].Read(out, last, rereadings);
      std::size_t i = 0;
      for (const TServerLine& line : rereadings) {
        if (!Answers(line)) continue;
        if (i >= expected[s].size() || expected[s][i] != TUserSeen{line.name, line.hash, line.kind == TServerLine::Kind::User})
          throw ChangesOthers(line_base + 1);
        ++i;
      }
      if (i != expected[s].size()) throw ChangesOthers(line_base + 1);
    }
    line_base += lines.size();
    return true;
  });

  for (const TUserChange& change : changes)
    if (!change.hash && !found.contains(change.name) &&
        std::find(edited.missing.begin(), edited.missing.end(), change.name) == edited.missing.end())
      edited.missing.push_back(change.name);
  return edited;
}

std::function<std::size_t(char*, std::size_t)> BytesReader(std::string_view bytes) {
  return [bytes](char* buffer, std::size_t size) mutable {
    const std::size_t n = std::min(size, bytes.size());
    std::copy_n(bytes.data(), n, buffer);
    bytes.remove_prefix(n);
    return n;
  };
}

std::optional<TFoundUser> FindUser(const std::function<std::size_t(char*, std::size_t)>& read, Server server,
                                   std::string_view name) {
  if (server == Server::Nginx && name.empty()) return std::nullopt;
  TServerReader reader(server);
  std::vector<TServerLine> readings;
  std::optional<TFoundUser> found;
  bool skip_next = false;  // nginx: the line before ran out as a match of the name's start
  ForEachPiece(read, [&](std::string_view piece, bool last) {
    readings.clear();
    reader.Read(piece, last, readings);
    for (const TServerLine& line : readings) {
      if (std::exchange(skip_next, false)) continue;
      const bool user = line.kind == TServerLine::Kind::User;
      if (line.kind == TServerLine::Kind::NoColon) {
        // Apache stops at a line of the name that has no hash; nginx, matching the name from the
        // line's start, takes the LF for a wrong byte and skips on to the end of the next line.
        if (server == Server::Nginx) skip_next = !name.empty() && name.starts_with(line.name);
        if (server == Server::Nginx || line.name != name) continue;
      }
      if ((!user && line.kind != TServerLine::Kind::NoColon) || line.name != name) continue;
      found = TFoundUser{user ? std::optional<std::string>(line.hash) : std::nullopt, line.first + 1};
      return false;
    }
    return true;
  });
  return found;
}

namespace {

// Names seen so far by each server, as digests in one open-addressed table: a slot holds a digest
// with its two low bits cleared and, in them, which servers have seen the name.
class TSeenNames {
 public:
  // Marks `name` seen by the servers in `servers` (bit 0 Apache, bit 1 nginx); gives those of them
  // that had not seen it before. One probe serves both servers where they read one name.
  unsigned Insert(std::string_view name, unsigned servers) {
    const std::uint64_t digest = std::hash<std::string_view>{}(name) & ~std::uint64_t{3};
    if (2 * (count_ + 1) > slots_.size()) Grow();
    for (std::size_t i = (digest >> 2) & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
      if (slots_[i] == 0) {
        slots_[i] = digest | servers;
        ++count_;
        return servers;
      }
      if ((slots_[i] & ~std::uint64_t{3}) != digest) continue;
      const auto fresh = static_cast<unsigned>(servers & ~slots_[i]);
      slots_[i] |= servers;
      return fresh;
    }
  }

 private:
  void Grow() {
    std::vector<std::uint64_t> old(std::max<std::size_t>(64, 2 * slots_.size()));
    old.swap(slots_);
    for (const std::uint64_t slot : old)
      for (std::size_t i = (slot >> 2) & (slots_.size() - 1); slot != 0; i = (i + 1) & (slots_.size() - 1))
        if (slots_[i] == 0) {
          slots_[i] = slot;
          break;
        }
  }
  std::vector<std::uint64_t> slots_;
  std::size_t count_ = 0;
};

// What the hash leaves an attacker by the bars, or empty.
std::string WeakHash(hashes::AnyForm form, std::string_view hash, const TCheckBars& bars) {
  using hashes::AnyForm;
  switch (form) {
    case AnyForm::Des:
      return std::string(messages::SFindDes);
    case AnyForm::ExtendedDes:
    case AnyForm::Md5Crypt:
    case AnyForm::Apr1:
    case AnyForm::Sha1:
    case AnyForm::SaltedSha1:
      return text::FormatMessage(messages::SFindFast, {hashes::FormName(form)});
    case AnyForm::TaggedPlain:
      return std::string(messages::SFindClearText);
    case AnyForm::Plain:
      return {};  // no hash at all, which the servers' refusal says
    case AnyForm::Bcrypt:
      if (const unsigned long cost = hashes::Cost(form, hash); cost < bars.min_cost)
        return text::FormatMessage(messages::SFindLowCost, {std::to_string(cost), std::to_string(bars.min_cost)});
      return {};
    case AnyForm::Sha256:
    case AnyForm::Sha512:
      if (const unsigned long rounds = hashes::Cost(form, hash); rounds < bars.min_rounds)
        return text::FormatMessage(messages::SFindLowRounds, {std::to_string(rounds), std::to_string(bars.min_rounds)});
      return {};
  }
  return {};
}

bool IsUser(const TServerLine* line) { return line != nullptr && line->kind == TServerLine::Kind::User; }

}  // namespace

bool TLineVerdict::Agreed() const {
  const TServerLine* const a = reading[0];
  const TServerLine* const n = reading[1];
  return IsUser(a) && IsUser(n) && used[0] && used[1] && !skipped_by_nginx && a->name == n->name &&
         a->hash == n->hash && a->first == a->last;
}

void ForEachLineVerdict(const std::function<std::size_t(char*, std::size_t)>& read,
                        const std::function<void(const TLineVerdict&)>& each) {
  TServerReader readers[] = {TServerReader(Server::Apache), TServerReader(Server::Nginx)};
  TSeenNames seen;
  std::vector<TServerLine> readings[2];
  std::vector<const TServerLine*> starts[2];
  std::size_t line_base = 0;
  std::string skip_start;  // nginx: the text of a line without ':' just before
  ForEachPiece(read, [&](std::string_view piece, bool last) {
    const std::vector<std::string_view> lines = PhysicalLines(piece);
    for (int s = 0; s < 2; ++s) {
      readings[s].clear();
      readers[s].Read(piece, last, readings[s]);
      starts[s].assign(lines.size(), nullptr);
      for (const TServerLine& line : readings[s]) starts[s].at(line.first - line_base) = &line;
    }
    for (std::size_t k = 0; k < lines.size(); ++k) {
      TLineVerdict v;
      v.number = line_base + k + 1;
      v.content = lines[k].substr(0, lines[k].size() - LineEnd(lines[k]).size());
      v.reading[0] = starts[0][k];
      v.reading[1] = starts[1][k];
      const std::string before = std::exchange(skip_start, {});
      v.skipped_by_nginx = !before.empty() && IsUser(v.reading[1]) && v.reading[1]->name.starts_with(before);
      if (v.reading[1] && v.reading[1]->kind == TServerLine::Kind::NoColon) skip_start = v.reading[1]->name;
      // Apache stops at the first line of a name, hash or none.
      if (v.reading[0] && v.reading[0]->kind == TServerLine::Kind::NoColon) seen.Insert(v.reading[0]->name, 1);
      // A line nginx skips is not where it finds the name: a later line of it may be.
      const bool apache = IsUser(v.reading[0]), nginx = IsUser(v.reading[1]) && !v.skipped_by_nginx;
      if (apache && nginx && v.reading[0]->name == v.reading[1]->name) {
        const unsigned fresh = seen.Insert(v.reading[0]->name, 3);
        v.used[0] = (fresh & 1) != 0;
        v.used[1] = (fresh & 2) != 0;
      } else {
        if (apache) v.used[0] = seen.Insert(v.reading[0]->name, 1) != 0;
        if (nginx) v.used[1] = seen.Insert(v.reading[1]->name, 2) != 0;
      }
      each(v);
    }
    line_base += lines.size();
    return true;
  });
}

void CheckUsers(const std::function<std::size_t(char*, std::size_t)>& read, const TCheckBars& bars,
                const std::function<void(const TFinding&)>& each) {
  bool unread_told[2] = {false, false};
  ForEachLineVerdict(read, [&](const TLineVerdict& v) {
    const TServerLine* const* r = v.reading;
    const TServerLine* const a = IsUser(r[0]) ? r[0] : nullptr;
    const TServerLine* const n = IsUser(r[1]) ? r[1] : nullptr;
    const std::string seeming(v.content.substr(0, std::min(v.content.find(':'), std::size_t{40})));
    const auto found = [&](std::string_view name, std::string text) { each({v.number, std::string(name), std::move(text)}); };
    for (int s = 0; s < 2; ++s) {
      const std::string server(hashes::ServerName(hashes::kServers[s]));
      if (r[s] && r[s]->last > r[s]->first) found(seeming, text::FormatMessage(messages::SFindJoined, {server}));
      if (r[s] && r[s]->kind == TServerLine::Kind::Unread && !std::exchange(unread_told[s], true))
        found(seeming, text::FormatMessage(messages::SFindUnread, {server}));
    }
    if (v.skipped_by_nginx) found(n->name, text::FormatMessage(messages::SFindSkippedByNginx, {std::to_string(v.number - 1)}));
    const TServerLine* const either = a != nullptr ? a : n;
    if (either == nullptr) {
      const bool comment = r[0] && r[1] && r[0]->kind == TServerLine::Kind::Comment && r[1]->kind == TServerLine::Kind::Comment;
      if (comment && v.content.find(':') != std::string_view::npos) found(seeming, std::string(messages::SFindComment));
      if (r[0] && r[1] && r[0]->kind == TServerLine::Kind::NoColon && r[1]->kind == TServerLine::Kind::NoColon)
        found(seeming, std::string(messages::SFindNoColon));
      return;
    }
    if (a && n && a->name != n->name) found(a->name, text::FormatMessage(messages::SFindNamesDiffer, {a->name, n->name}));
    else if (a && n && a->hash != n->hash) found(a->name, std::string(messages::SFindHashesDiffer));
    else if (!a || !n) found(either->name, text::FormatMessage(messages::SFindOnlyOne, {hashes::ServerName(hashes::kServers[a ? 0 : 1])}));
    const TServerLine& shown = *either;
    const bool unused[2] = {a && !v.used[0], n && !v.used[1] && !v.skipped_by_nginx};
    if (unused[0] || unused[1]) {
      if (unused[0] && unused[1]) found(shown.name, std::string(messages::SFindSecondForBoth));
      else found(shown.name, text::FormatMessage(messages::SFindSecond, {hashes::ServerName(hashes::kServers[unused[0] ? 0 : 1])}));
      return;
    }
    // Both servers end a hash at ':' and NUL; where they read it otherwise, each is judged by its own.
    const hashes::AnyForm form = hashes::ClassifyHash(shown.hash);
    const auto accepts = [&](int s, const TServerLine* u) {
      return hashes::Accepts(hashes::kServers[s], u->hash == shown.hash ? form : hashes::ClassifyHash(u->hash), u->hash);
    };
    const bool refuses[2] = {a && !accepts(0, a), n && !accepts(1, n)};
    const std::string_view form_name = hashes::FormName(form);
    if (refuses[0] && refuses[1]) {
      found(shown.name, text::FormatMessage(messages::SFindFormRefusedByBoth, {form_name}));
    } else {
      for (int s = 0; s < 2; ++s) {
        if (!refuses[s]) continue;
        const std::string server(hashes::ServerName(hashes::kServers[s]));
        found(r[s]->name, text::FormatMessage(messages::SFindFormRefused, {server, form_name, server}));
      }
    }
    if (shown.name.empty()) found(shown.name, std::string(messages::SFindEmptyName));
    if (v.number == 1 && shown.name.starts_with("\xEF\xBB\xBF")) found(shown.name, std::string(messages::SFindByteOrderMark));
    if (std::string weak = WeakHash(form, shown.hash, bars); !weak.empty()) found(shown.name, std::move(weak));
  });
}

std::string_view NameProblem(std::string_view name) {
  if (name.empty()) return messages::SNameEmpty;
  if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == ':'; }))
    return messages::SNameControl;
  if (name.front() == '#') return messages::SNameComment;
  // Apache trims the blanks that open a line, and so a name's; those after it stand before ':'.
  if (name.front() == ' ') return messages::SNameBlanks;
  return {};
}

std::string_view PasswordProblem(std::string_view password) {
  if (password.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos) return messages::SPasswordControl;
  return {};
}

}  // namespace core

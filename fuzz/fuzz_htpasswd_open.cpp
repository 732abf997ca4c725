// An existing .htpasswd of arbitrary bytes, opened in both encodings: refused whole exactly when a
// line holds a NUL byte or is longer than 1 MiB; otherwise every row is a user each server finds,
// by a scan of its own, on the row's line with the row's hash. Cut at its NUL bytes, the input is
// also the base, ours and theirs of a merge: ours' rows changed against base, applied to theirs,
// must leave each changed user as ours has it and every other user of ours as theirs has it. The same
// bytes are split into lines as a credential file is, against a model of that too, and taken as a
// line of a UTF-8 file, whose names the table holds in code page 932.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/encoding.h"
#include "core/htpasswd_file.h"
#include "fuzz_check.h"
#include "platform/cp932.h"
#include "text/exceptions.h"
#include "text/string_list.h"

namespace {

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

std::optional<core::TOpenedUsers> Open(std::string_view bytes, bool utf8) {
  try {
    core::TOpenedUsers opened = core::ReadOpenedUsers(bytes, utf8);
    CHECK(!MustRefuse(bytes));
    std::set<std::string> names;
    for (const core::TOpenedUser& user : opened.users) {
      CHECK(names.insert(user.name).second && !user.hash.empty());
      for (const hashes::Server server : hashes::kServers) {
        if (server == hashes::Server::Nginx && user.name.empty()) continue;  // refused before the file is read
        const std::optional<core::TFoundUser> found = core::FindUser(core::BytesReader(bytes), server, user.name);
        CHECK(found && found->line == user.line && found->hash == user.hash);
      }
    }
    return opened;
  } catch (const text::Exception&) {
    CHECK(MustRefuse(bytes));
    return std::nullopt;
  }
}

// The hash Apache finds for `name`, none where it finds no user. (nginx may skip a line after one
// without ':' that the name starts with, which a merge leaves as it found it.)
std::optional<std::string> Answer(std::string_view bytes, const std::string& name) {
  const std::optional<core::TFoundUser> found = core::FindUser(core::BytesReader(bytes), hashes::Server::Apache, name);
  return found ? found->hash : std::nullopt;
}

void CheckMerge(std::string_view base, std::string_view ours, std::string_view theirs) {
  const std::optional<core::TOpenedUsers> b = Open(base, false), o = Open(ours, false);
  if (!b || !o) return;
  // Ours as rows changed against base: a user gone, a user with another hash, a user added.
  std::vector<core::TUserChange> changes;
  for (const core::TOpenedUser& user : b->users)
    if (std::none_of(o->users.begin(), o->users.end(), [&](const core::TOpenedUser& u) { return u.name == user.name; }))
      changes.push_back({user.name, std::nullopt});
  for (const core::TOpenedUser& user : o->users)
    if (std::none_of(b->users.begin(), b->users.end(), [&](const core::TOpenedUser& u) { return u.name == user.name && u.hash == user.hash; }))
      changes.push_back({user.name, user.hash});
  core::TMerge merge;
  try {
    merge = core::MergeUsers(base, theirs, changes);
  } catch (const text::Exception&) {
    return;  // a change the file as it stands would read otherwise: refused, nothing written
  }
  std::set<std::string> changed;
  for (const core::TUserChange& change : changes) {
    changed.insert(change.name);
    CHECK(Answer(merge.bytes, change.name) == change.hash);
  }
  for (const core::TOpenedUser& user : o->users)
    if (!changed.contains(user.name)) CHECK(Answer(merge.bytes, user.name) == Answer(theirs, user.name));
  if (changes.empty()) CHECK(merge.bytes == theirs && merge.conflicts.empty());
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
  CHECK(text::SplitLines(input) == model);
}

// A line of a UTF-8 file turned into the code page 932 bytes the table holds: either refused with a
// message (never ASCII, which code page 932 holds as it is), or bytes that read back as the line in
// Normalization Form C, and that a second turn leaves as they are.
void CheckCp932Line(std::string_view utf8) {
  const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  std::string cp932;
  try {
    cp932 = core::Cp932FromUtf8Line(utf8, 1);
  } catch (const text::Exception&) {
    return CHECK(!ascii);
  }
  const std::string back = platform::Cp932ToUtf8(cp932);
  CHECK((!ascii || cp932 == utf8) && back == core::ComposedUtf8(utf8) && platform::Cp932ToUtf8Strict(cp932) == back);
  CHECK(core::Cp932FromUtf8Line(back, 1) == cp932);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckLineSplitting(input);
  CheckCp932Line(input);
  // At most three parts: the last keeps any further NUL bytes, which its opening must refuse.
  std::vector<std::string_view> parts;
  std::string_view rest = input;
  while (parts.size() < 2 && rest.find('\0') != std::string_view::npos) {
    parts.push_back(rest.substr(0, rest.find('\0')));
    rest.remove_prefix(parts.back().size() + 1);
  }
  parts.push_back(rest);
  for (const std::string_view part : parts) (void)Open(part, true);

  const std::string_view base = parts[0], ours = parts.size() == 3 ? parts[1] : parts.back(), theirs = parts.back();
  CheckMerge(base, ours, theirs);
  return 0;
}

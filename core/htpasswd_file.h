// An existing .htpasswd kept line for line: what each line is to the table and to a server, the
// file composed back from the rows with every line the user did not change written as it stood,
// and a change made here merged with one made on disk meanwhile.
//
// Servers read the file line by line (LF ends a line, a CR before it is dropped), skip blank lines
// and lines starting with '#', split a line at its first ':' into name and hash, compare names byte
// for byte and use the first line of a name. Every function here reads the file that way.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

struct THtpasswdLine {
  enum class Kind {
    User,         // a name and a hash of a form hashes::IdentifyHash knows: becomes a row of the table
    Skipped,      // blank, starting with '#', or without ':': servers skip it
    UnknownHash,  // a hash of a form we do not know (a plain password, "$1$...", nothing)
    SecondName,   // a name (byte for byte) that an earlier line already has: servers use the first
    Unstorable,   // a name the table cannot hold: with '=', matching an earlier row's key ignoring
                  // letter case, or in UTF-8 mode no UTF-8 or without a code page 932 form
  };
  std::string bytes;   // the line without its end
  std::string ending;  // "\r\n", "\n", or "" (only the last line can have none)
  Kind kind = Kind::Skipped;
  std::string name;    // bytes before the first ':' (on the first line in UTF-8 mode, without a byte-order mark)
  std::string key;     // User only: the name as the table holds it, in code page 932
  std::string hash;    // bytes after the first ':'
};

struct THtpasswdText {
  std::vector<THtpasswdLine> lines;
  std::string newline;  // the end new lines get: the first line end of the file, else "\r\n"
};

// Splits `bytes` at LF into lines and classifies each; in UTF-8 mode a key is the name in Normalization
// Form C, as code page 932. Refuses the whole file with a text::Exception naming the line (from 1)
// that holds a NUL byte or is longer than 1 MiB; every other input is taken.
THtpasswdText ParseHtpasswd(std::string_view bytes, bool utf8);

// One line of the file being written: a row read from opened line `origin` and left untouched (that
// line's bytes and end), read from it but changed (`text` and that line's end), or new (origin -1:
// `text` and the file's newline). `text` is "name:hash" without an end.
struct TOutputLine {
  int origin = -1;
  bool untouched = false;
  std::string text;
};

// The file to write: `rows` in their order, every opened line that is not a User line kept in its place
// (before the first row whose origin comes after it, the rest at the end), User lines that no row comes
// from left out. A SecondName line is kept only while an earlier output line has that name, so that no
// removal or rename lets a shadowed line take effect. A last line without an end gets the file's
// newline when anything follows it. Every User line as an untouched row, in file order, gives back the
// opened bytes exactly. A changed first line loses its byte-order mark, which servers take for part of
// the name. Throws std::out_of_range for an origin that is no line of `opened`.
std::string ComposeHtpasswd(const THtpasswdText& opened, const std::vector<TOutputLine>& rows);

struct TMerge {
  std::string bytes;
  std::vector<std::string> conflicts;  // names, ours first in our order, then the ones we removed
};
// Applies what changed from `base` (the file as opened) to `ours` (what was built from it) onto `theirs`
// (the file on disk now), user by user (a user is the first line of a name): a user we left alone keeps
// whatever theirs has; one we added, changed or removed gets our line (or none: every line of that name
// goes) in theirs, with theirs' order, other lines and line ends; a user new to theirs goes at its end
// with its newline. A user both sides changed to different results is a conflict, and takes ours.
// When theirs is base the result is ours exactly.
TMerge MergeHtpasswd(std::string_view base, std::string_view ours, std::string_view theirs);

// What replacing `before` by `after` does to the users: the names removed, in before's order, and how
// many are added and changed.
struct TUserChanges {
  std::vector<std::string> removed;
  int added = 0;
  int changed = 0;
};
TUserChanges CompareUsers(std::string_view before, std::string_view after);

// AuthUserFile and AuthName of an .htaccess: the first of each directive (ignoring letter case, after any
// leading blanks), its argument without surrounding double quotes, a backslash-escaped quote unescaped.
struct THtaccessSettings {
  std::optional<std::string> auth_user_file, auth_name;
};
THtaccessSettings ReadHtaccessSettings(std::string_view bytes);

}  // namespace core

// A password file as each server reads its bytes: Apache 2.4 (mod_authn_file) and nginx
// (auth_basic) on Debian 12. The rules here are the servers' own, established by asking the real
// servers in tests (tests/server_lines_test.cpp): where the two differ, each is modelled as it is.
//
// Apache reads a line into a buffer of 8192 bytes as a C string and then works on the text:
//  - one read takes bytes up to and including a LF, but at most the 8191 the buffer has room for;
//    a read that fills the buffer without a NUL in it and without ending in a LF ends the reading
//    of the whole file, so no line from there on counts (a line longer than 8190 bytes, CR included);
//  - the text ends at its first NUL; a read holding a NUL ends the line there and is never
//    continued, and the bytes after it that the read did not take start the next line;
//  - while the buffer ends in "\" LF or "\" CR LF after a read, the next physical line is read in
//    place of that backslash, CR and LF: so the joined line, not each part, must fit the buffer,
//    and a line ending in two backslashes goes on past an empty line after it;
//  - blanks (space, tab, CR, LF, VT, FF) around the joined line go; then an empty line is blank, a
//    '#' at its start makes it a comment, and otherwise the name is the text before the first ':'
//    (all of it when there is none: a name with no hash, that nobody logs in through) and the hash
//    the text after it up to the next ':'.
// nginx matches the name a browser sent byte by byte from the start of each physical line (LF
// ends one); a line that starts with '#' or CR is skipped. The hash runs from the ':' after the
// name to the next ':', CR, LF or NUL. Every other byte, blanks included, counts. A line without
// ':' that the sent name starts with is matched to its end, where its LF is no ':', and nginx skips
// on to the end of the line after it. An empty name is refused before the file is read.
// Both take the first line of a name and answer by its hash alone, even where a later line of
// the same name holds the password.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "hashes/server_check.h"

namespace core {

// One logical line as one server reads it.
struct TServerLine {
  enum class Kind {
    User,     // the server takes `name` with `hash` from it
    Blank,    // nothing on it (for Apache, blanks only): skipped
    Comment,  // skipped as a comment (for nginx, also a line that starts with CR)
    NoColon,  // no ':' where the server looks for one: no user logs in through it, but its
              // `name` (all its text) still stops Apache, and hides nginx's next line (see above)
    Unread,   // Apache's line longer than its buffer: it reads nothing from here on, and nothing
              // follows this line in the list
  };
  Kind kind = Kind::Blank;
  // The physical lines (counted from 0 from the start of the file) it spans: more than one only
  // where Apache joins a line that ends in a backslash with the next.
  std::size_t first = 0, last = 0;
  std::string name;  // User, NoColon: the exact bytes a browser's name is compared with
  std::string hash;  // User: the exact bytes the password is checked against
  bool operator==(const TServerLine&) const = default;  // every field alike
};

// Reads a file piece by piece, in order, as one server does.
class TServerReader {
 public:
  explicit TServerReader(hashes::Server server) : server_(server) {}
  // Appends the logical lines of `piece` to `out`; `last_piece` when the file ends with it. A piece
  // that is not the last must end where SafeCut allows (std::invalid_argument otherwise).
  void Read(std::string_view piece, bool last_piece, std::vector<TServerLine>& out);

 private:
  void ReadApache(std::string_view piece, std::vector<TServerLine>& out);
  void ReadNginx(std::string_view piece, std::vector<TServerLine>& out);

  hashes::Server server_;
  std::size_t lines_ = 0;   // physical lines read so far
  bool stopped_ = false;    // the server reads no further
};

// Every logical line of the whole file `bytes` as `server` reads it.
std::vector<TServerLine> ReadAs(hashes::Server server, std::string_view bytes);

// The length of the longest prefix of `bytes` that ends after a LF and that either server may read
// without the bytes after it (no continuation runs across the cut): 0 when there is none.
std::size_t SafeCut(std::string_view bytes);

}  // namespace core

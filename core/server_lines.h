// A password file as each server reads its bytes: Apache 2.4 (mod_authn_file) and nginx
// (auth_basic) on Debian 12. The rules here are the servers' own, established by asking the real
// servers in tests (tests/server_lines_test.cpp): where the two differ, each is modelled as it is.
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
    Comment,  // skipped as a comment
    NoColon,  // no ':' where the server looks for one: no user logs in through it
    Unread,   // the server never reads this far (for instance past a line it cannot read)
  };
  Kind kind = Kind::Blank;
  // The physical lines (counted from 0 within what was read so far) it spans: more than one only
  // where Apache joins a line that ends in a backslash with the next.
  std::size_t first = 0, last = 0;
  std::string name;  // User: the exact bytes a browser's name is compared with
  std::string hash;  // User: the exact bytes the password is checked against
};

// Reads a file piece by piece, in order, as one server does. A piece must end where a physical
// line ends (after its LF, see SafeCut) or at the end of the file.
class TServerReader {
 public:
  explicit TServerReader(hashes::Server server) : server_(server) {}
  // Appends the logical lines of `piece` to `out`; `last_piece` when the file ends with it.
  void Read(std::string_view piece, bool last_piece, std::vector<TServerLine>& out);

 private:
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

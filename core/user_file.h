// Users of a live password file changed by their exact name bytes, as the servers compare them. The
// file goes through as a stream: every line that holds no changed user is written back byte for
// byte, and what is written is read again as each server reads it, so that a change the servers
// would take for anything but the users asked for (a line joined to another, a user shadowed or
// brought to light) is refused before anything is saved.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/server_lines.h"

namespace core {

struct TUserChange {
  std::string name;                 // exact bytes
  std::optional<std::string> hash;  // the hash its line gets; none: every line of the user goes
};

struct TEditedFile {
  std::string bytes;                 // the new file
  std::vector<std::string> missing;  // removals of names no server reads as a user: nothing done for them
  std::size_t added = 0, replaced = 0, removed = 0;  // users added, lines rewritten, lines dropped
  // Users of other names that one server read on a line that goes or is rewritten, because the
  // other server read a changed user there.
  struct TAlsoGone {
    hashes::Server server;
    std::string name;
    std::size_t line = 0;  // from 1
  };
  std::vector<TAlsoGone> also_gone;
};

// Applies `changes` to the password file whose bytes `read` gives piece by piece (it fills the
// buffer and gives how many bytes it put there, 0 at the end). A user is a name that either server
// reads as one: replacing it rewrites its first line as "name:hash" with that line's end and drops
// its later lines; removing it drops all of them; a new user goes at the end, after the file's
// first line end (LF when it has none). A later change of the same name wins. Throws
// text::Exception naming the line when the result would read otherwise for a server than the
// changes say.
TEditedFile EditUsers(const std::function<std::size_t(char* buffer, std::size_t size)>& read,
                      const std::vector<TUserChange>& changes);
// A reader, for the functions here, of `bytes` held in memory (which must outlive it).
std::function<std::size_t(char* buffer, std::size_t size)> BytesReader(std::string_view bytes);

// The line by which `server` answers a browser that sends `name`, in the file read piece by piece:
// its number (from 1) and the hash it checks the password against (none when the line gives the
// name no hash, and so lets no password in), or nothing when the server finds no such line.
struct TFoundUser {
  std::optional<std::string> hash;
  std::size_t line = 0;
};
std::optional<TFoundUser> FindUser(const std::function<std::size_t(char* buffer, std::size_t size)>& read,
                                   hashes::Server server, std::string_view name);

// One physical line as both servers take it, in a file read from its start.
struct TLineVerdict {
  std::size_t number = 0;        // from 1
  std::string_view content;      // the line without its end (CRs before the LF, and the LF)
  // The reading of each server (Apache, nginx, as hashes::kServers) that starts on this line, or null.
  const TServerLine* reading[2] = {nullptr, nullptr};
  // The server answers the reading's user by this line: the first line of the name it reads.
  bool used[2] = {false, false};
  // nginx ran through the line before, which has no ':' and with which this line's name starts,
  // and skips this one.
  bool skipped_by_nginx = false;
  // Both servers read one user, the same name and hash, from this line alone, and answer by it.
  bool Agreed() const;
};
// Each physical line of the file read piece by piece, in order. The pointers and views live for the
// call only. A name counts as seen before by a 64-bit digest of it, so that a file of millions of
// users needs a few megabytes.
void ForEachLineVerdict(const std::function<std::size_t(char* buffer, std::size_t size)>& read,
                        const std::function<void(const TLineVerdict&)>& each);

// What `check` tells of a line: it is read otherwise by one server than by the other, or than it
// seems to say, or its hash is weak by the given bars.
struct TFinding {
  std::size_t line = 0;  // from 1
  std::string name;      // the name the line seems to give (the server's, or the bytes before ':')
  std::string text;      // the message table's words
};
struct TCheckBars {
  unsigned long min_cost = 10, min_rounds = 5000;
};
// Every finding of the file read piece by piece, in line order, handed to `each`.
void CheckUsers(const std::function<std::size_t(char* buffer, std::size_t size)>& read, const TCheckBars& bars,
                const std::function<void(const TFinding&)>& each);

// Why servers cannot let `name` log in as it stands (the message table's text), or empty when
// they can: empty, a control byte or ':' (the name would end early or start another line), a
// leading '#' (a comment), a leading blank (Apache trims it).
std::string_view NameProblem(std::string_view name);
// Why a password cannot be stored, or empty: a NUL (servers stop at it), a CR or a LF.
std::string_view PasswordProblem(std::string_view password);

}  // namespace core

// An existing .htpasswd maintained through the table: the users the table can show as rows, what
// the rows change becomes a list of user changes that the core applies to the file as a stream
// (every other line written back byte for byte), and a change made on disk meanwhile is merged by
// applying the same changes to the file as it now stands.
//
// Users are what Apache and nginx read (core/server_lines.h): exact name bytes, the first line of a
// name, every hash form as it stands.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/user_file.h"

namespace core {

// A user of an opened file that the table shows as a row.
struct TOpenedUser {
  std::string name;  // exact bytes, as servers compare them
  std::string key;   // the name as the table holds it, in code page 932
  std::string hash;  // exact bytes
  std::size_t line = 0;  // from 1
};
struct TOpenedUsers {
  std::vector<TOpenedUser> users;
  // Lines a server reads as a user that the table cannot show, kept as they stand: the two servers
  // read them otherwise, a later line of a name, no hash, a name with '=' or, in UTF-8 mode, one
  // with no code page 932 form.
  std::size_t kept = 0;
};
// The users of `bytes` both servers read alike from one line each (TLineVerdict::Agreed), in file
// order. Refuses the whole file with a text::Exception naming the line (from 1) that holds a NUL
// byte or is longer than 1 MiB: no password file has such a line.
TOpenedUsers ReadOpenedUsers(std::string_view bytes, bool utf8);

struct TMerge {
  std::string bytes;
  std::vector<std::string> conflicts;  // names changed both here and on disk, to different results
};
// `changes`, made against `base` (the file as opened), applied to `theirs` (the file on disk now):
// each changed user gets our line (or none), every other line stays as theirs has it. A user whose
// line theirs changed, to another result than ours, is a conflict, and takes ours. Throws as
// EditUsers does, and as ReadOpenedUsers does for a file on disk that now holds a NUL byte or an
// overlong line.
TMerge MergeUsers(std::string_view base, std::string_view theirs, const std::vector<TUserChange>& changes);

// What replacing `before` by `after` does to the users either server reads: how many `before` has,
// the names removed, in before's order, and how many are added and changed.
struct TUserChanges {
  std::size_t before = 0;
  std::vector<std::string> removed;
  int added = 0;
  int changed = 0;
};
TUserChanges CompareUsers(std::string_view before, std::string_view after);

// Every name either server answers by a line of `bytes` (the first line of it).
std::vector<std::string> UserNames(std::string_view bytes);

// AuthUserFile and AuthName of an .htaccess: the first of each directive (ignoring letter case, after any
// leading blanks), its argument without surrounding double quotes, a backslash-escaped quote unescaped.
struct THtaccessSettings {
  std::optional<std::string> auth_user_file, auth_name;
};
THtaccessSettings ReadHtaccessSettings(std::string_view bytes);

}  // namespace core

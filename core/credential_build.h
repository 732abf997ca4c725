// A credential file built straight into the bytes of .htpasswd and passwd.txt, with no table in
// between: what the command does with a file of a million users, in a fraction of the time and
// memory a table of rows takes. Its users are the file's bytes, as a live file's users are; the
// window's rules for a credential file are the table's, through TJob::LoadCredentials.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/job.h"

namespace core {

// One record of a credential file: the user name and the password, in code page 932.
struct TCredential {
  std::string key, value;
};

// Gives each record of the credential file `bytes` to `record`, in order, with the line it begins
// on. In UTF-8 mode the file is read as CSV (RFC 4180) and each field is taken in Normalization
// Form C as code page 932; in Shift-JIS mode each line is split as a delimited-text reader does,
// the bytes taken as they are. Fails with the reader's or the conversion's message, naming the line.
void ForEachCredential(std::string_view bytes, bool utf8, const std::function<void(TCredential&&, long long line)>& record);

// Every record of the credential file at `path` in order, with its line number (from 1): the name
// and the password as the file's bytes, never converted. Fails naming the line for a record the
// reader refuses.
void ForEachRecord(const std::string& path, bool utf8,
                   const std::function<void(std::string name, std::string password, long long line)>& each);

struct TBuiltFiles {
  std::string htpasswd, passwd;
  std::size_t users = 0;
};

// Reads the credential file at `path` as a live file's users are: names and passwords are the
// file's bytes in either encoding, never converted, two names are two users unless their bytes are
// the same, and a name no server could match as written (NameProblem) is refused with its line.
// Builds .htpasswd and passwd.txt of its users with `settings`. `keep_going(done, total)` is called
// while the hashing runs; when it returns false, nothing is returned.
std::optional<TBuiltFiles> BuildCredentialFile(const std::string& path, const TSettings& settings,
                                               const std::function<bool(std::size_t done, std::size_t total)>& keep_going);

}  // namespace core

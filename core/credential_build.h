// A credential file built straight into the bytes of the three files, with no table in between:
// what the command does with a file of a million users, in a fraction of the time and memory a
// table of rows takes. It reads, refuses and draws exactly as loading the file into the table and
// building it does (the same fields, the same messages with their line numbers, the same random
// draws in the same order), so the files are the same, byte for byte.
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

// The record on line `number` (counted from 1) of a credential file, or nothing for a line that
// holds none (an empty one). In UTF-8 mode a byte-order mark opening the first line is dropped and
// the line is taken in Normalization Form C. The fields are those of the delimited-text reader:
// the first is the name, the second the password. Fails with the reader's or the conversion's
// message for a line that yields no field or cannot be converted.
std::optional<TCredential> ParseCredentialLine(std::string_view line, long long number, bool utf8);

// Every record of the credential file at `path` in order, with its line number (from 1): the name
// and the password as the file's bytes, never converted. Fails naming the line for a record the
// reader refuses.
void ForEachRecord(const std::string& path, bool utf8,
                   const std::function<void(std::string name, std::string password, long long line)>& each);

struct TBuiltFiles {
  std::string htpasswd, htaccess, passwd;
  std::size_t users = 0;
};

// Reads the credential file at `path`, refusing it with the table's messages (a name with "=", a
// name that another matches ignoring letter case), and builds the three files of its users with
// `settings` and the two .htaccess settings (code page 932). `keep_going(done, total)` is called
// while the hashing runs; when it returns false, nothing is returned.
std::optional<TBuiltFiles> BuildCredentialFile(const std::string& path, const TSettings& settings,
                                               std::string_view auth_user_file, std::string_view auth_name,
                                               const std::function<bool(std::size_t done, std::size_t total)>& keep_going);

}  // namespace core

// Users changed in an .htpasswd: names and passwords as a server compares them, the file read as it
// stood, and the edited file saved only if nobody changed it meanwhile.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/arguments.h"
#include "cli/failure.h"
#include "core/user_file.h"

namespace cli {

// A name or password from the command line or stdin (UTF-8) as the bytes a browser sends: in UTF-8
// mode the bytes as they stand, never normalized (servers compare bytes); in Shift-JIS mode their
// code page 932 form. ExitCode::BadInput for bytes that are no UTF-8, a character the code page lacks, or a
// name or password that no server could match as written (a user that is only to be removed or
// checked may be any name a server reads: `maintainable` skips the name rules).
std::string UserName(std::string_view utf8, bool utf8_mode, bool maintainable = false);
std::string Password(std::string_view utf8, bool utf8_mode);

// A reader of the file at `path` for the core's streams; ExitCode::BadInput when it cannot be opened. A
// missing file reads as empty when `missing_ok`.
class TFileReader {
 public:
  TFileReader(const std::string& path, bool missing_ok);
  ~TFileReader();
  TFileReader(const TFileReader&) = delete;
  TFileReader& operator=(const TFileReader&) = delete;
  std::function<std::size_t(char*, std::size_t)> Read();
  bool Existed() const { return fd_ >= 0; }
  // Whether the file at the path is still the one that was read, as it was read: the same file, size
  // and modification time, its bytes read again to the same length and hash, and the size and time
  // the same after the first reading as before it. `again` false: the path's stat alone.
  bool Unchanged(bool again = true) const;

 private:
  std::string path_;
  int fd_ = -1;
  struct stat st_{};
  std::uint64_t hash_ = 14695981039346656037ull;  // FNV-1a of the bytes read so far
  std::uint64_t length_ = 0;
};

// Changes users of the .htpasswd at `path` (created when missing) and saves it, with `extra` files
// in the same set, under the lock waited for as `wait` says; `before_save` runs first, under the
// lock, and must show every new password (it throws when it cannot, and nothing is saved). Refuses
// when the file read is no longer as read right before the save commits it. Tells on stderr of
// users of other names that a server loses with a changed line.
core::TEditedFile ChangeUsers(const std::string& path, const std::vector<core::TUserChange>& changes, TWait wait,
                              const std::function<std::vector<core::TFileToSave>()>& before_save = {});

}  // namespace cli

// verify: whether a password logs a user in, judged as a server judges it.
#include <string>

#include "cli/common.h"
#include "core/htpasswd_file.h"
#include "text/string_list.h"

namespace cli {

int Verify(const std::vector<std::string>& words) {
  const TArguments args(words, {"--encoding"}, {}, 2, 2);
  const bool utf8 = SettingsFrom(args).utf8;
  // Read as servers read it: bytes compared as they stand, a byte-order mark part of the first name.
  const core::THtpasswdText file = core::ParseHtpasswd(text::ReadFileBytes(args[0]), false);
  const std::string name = ServerBytes(args[1], utf8);
  for (std::size_t i = 0; i < file.lines.size(); ++i) {
    const core::THtpasswdLine& line = file.lines[i];
    if (line.kind == core::THtpasswdLine::Kind::Skipped || line.name != name) continue;
    const std::string where = FileLine(args[0], i + 1);
    const std::optional<hashes::Form> form = hashes::IdentifyHash(line.hash);
    if (!form) throw TFailure(kBadInput, where + "ハッシュの形式が分からないため、確かめられません");
    // Beyond the highest cost we write, a check takes minutes; no server would let it through either.
    if (*form == hashes::Form::Bcrypt && std::stoi(line.hash.substr(4, 2)) > hashes::kMaxBcryptCost)
      throw TFailure(kBadInput, where + "bcrypt のコスト " + line.hash.substr(4, 2) + " は大きすぎるため、確かめられません");
    if (!hashes::Verify(ServerBytes(ReadPassword(false), utf8), line.hash))
      throw TFailure(kMismatch, "パスワードが一致しません");
    Print("パスワードは一致します\n");
    return kDone;
  }
  throw TFailure(kUnknownUser, NoSuchUser(args[1]));
}

}  // namespace cli

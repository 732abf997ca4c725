// check: what in a .htpasswd is weak or does not do what it seems to, one line per finding.
#include <charconv>
#include <string>

#include "cli/common.h"
#include "core/htpasswd_file.h"
#include "text/string_list.h"

namespace cli {
namespace {

// What the line's hash leaves an attacker, or "" when it is strong enough.
std::string WeakHash(std::string_view hash, unsigned long min_cost, unsigned long min_rounds) {
  switch (*hashes::IdentifyHash(hash)) {
    case hashes::Form::Des:
      return "DES はパスワードの先頭 8 バイトの下位 7 ビットしか使いません";
    case hashes::Form::Apr1:
      return "apr1 (MD5) は速いハッシュで、総当たりに弱いです";
    case hashes::Form::Sha1:
      return "{SHA} はソルトのない速いハッシュで、総当たりに弱いです";
    case hashes::Form::Bcrypt: {
      const unsigned long cost = std::stoul(std::string(hash.substr(4, 2)));
      if (cost >= min_cost) return "";
      return "bcrypt のコスト " + std::to_string(cost) + " は " + std::to_string(min_cost) + " より小さいです";
    }
    case hashes::Form::Sha256:
    case hashes::Form::Sha512: {
      // Without a rounds= part the hash was made with the crypt default.
      unsigned long rounds = 5000;
      if (constexpr std::string_view kRounds = "rounds="; hash.substr(3).starts_with(kRounds))
        std::from_chars(hash.data() + 3 + kRounds.size(), hash.data() + hash.size(), rounds);
      if (rounds >= min_rounds) return "";
      return "SHA-crypt の rounds " + std::to_string(rounds) + " は " + std::to_string(min_rounds) + " より小さいです";
    }
  }
  return "";
}

bool Blank(std::string_view line) { return line.find_first_not_of(" \t") == std::string_view::npos; }

}  // namespace

int Check(const std::vector<std::string>& words) {
  const TArguments args(words, {"--min-cost", "--min-rounds"}, {}, 1, 1);
  const unsigned long min_cost = args.Number("--min-cost", 10, hashes::kMinBcryptCost, hashes::kMaxBcryptCost);
  const unsigned long min_rounds =
      args.Number("--min-rounds", 5000, hashes::kMinSha512Rounds, hashes::kMaxSha512Rounds);
  // Bytes as servers compare them: no conversion, a byte-order mark part of the first name.
  const core::THtpasswdText file = core::ParseHtpasswd(text::ReadFileBytes(args[0]), false);
  std::string findings;
  for (std::size_t i = 0; i < file.lines.size(); ++i) {
    const core::THtpasswdLine& line = file.lines[i];
    const auto found = [&](std::string_view name, std::string_view what) {
      findings += FileLine(args[0], i + 1) + "「" + Shown(name) + "」: " + std::string(what) + "\n";
    };
    using Kind = core::THtpasswdLine::Kind;
    switch (line.kind) {
      case Kind::Skipped:
        if (line.bytes.starts_with('#') && line.bytes.find(':') != std::string::npos)
          found(line.bytes.substr(0, line.bytes.find(':')), "「#」で始まるため、サーバはこの行を読み飛ばします");
        else if (!line.bytes.starts_with('#') && !Blank(line.bytes))
          found(line.bytes.substr(0, 40), "「:」がないため、サーバはこの行を使えません");
        continue;
      case Kind::SecondName:
        found(line.name, "同じ名前の行が前にあるため、サーバはこの行を使いません");
        break;
      case Kind::UnknownHash:
        found(line.name, "ハッシュの形式が分からず、サーバはこの行を使えません（平文のパスワード？）");
        break;
      case Kind::User:
      case Kind::Unstorable:
        if (const std::string weak = WeakHash(line.hash, min_cost, min_rounds); !weak.empty()) found(line.name, weak);
        break;
    }
    if (line.name.empty()) found(line.name, "名前が空です");
    if (i == 0 && line.name.starts_with("\xEF\xBB\xBF"))
      found(line.name, "先頭のバイトオーダーマークも名前の一部になるため、このユーザはログインできません");
  }
  Print(findings);
  return findings.empty() ? kDone : kFindings;
}

}  // namespace cli

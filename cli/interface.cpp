// The command's interface, declared once, and --help made from it. The texts stay here rather than
// in the message table: they hold characters (the wave dash of a range) that the table's code page
// would not give back as they were.
#include "cli/interface.h"

#include <unilbrk.h>
#include <unistr.h>
#include <uniwidth.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "cli/arguments.h"
#include "cli/common.h"
#include "core/defaults.h"
#include "core/user_file.h"
#include "hashes/formats.h"

namespace cli {
namespace {

std::string Range(unsigned long low, unsigned long high) { return std::to_string(low) + "〜" + std::to_string(high); }

std::vector<std::string> Numbers(int low, int high) {
  std::vector<std::string> words;
  for (int n = low; n <= high; ++n) words.push_back(std::to_string(n));
  return words;
}

std::vector<TOption> MakeOptions() {
  const hashes::TStrength strength = CommandDefaults().strength;
  const core::TCheckBars bars;
  std::vector<std::string> formats;
  for (const hashes::TFormatRow& row : hashes::kFormatRows) formats.emplace_back(row.name);
  std::vector<std::string> servers;
  for (const hashes::Server server : hashes::kServers) servers.push_back(ServerWord(server));
  const std::string cost = Range(hashes::kMinBcryptCost, hashes::kMaxBcryptCost);
  return {
      {"-o", "DIR", {}, WordKind::Folder, "3 つのファイルを書き出すフォルダ（なければ作ります）"},
      {"--format", "F", formats, WordKind::Text,
       "新しいハッシュの形式（既定: " + std::string(hashes::RowOf(CommandDefaults().format).name) + "）"},
      {"--cost", "N", Numbers(hashes::kMinBcryptCost, hashes::kMaxBcryptCost), WordKind::Text,
       "bcrypt のコスト " + cost + "（既定: " + std::to_string(strength.bcrypt_cost) + "）"},
      {"--rounds", "N", {}, WordKind::Text,
       "SHA-512 の rounds " + Range(hashes::kMinSha512Rounds, hashes::kMaxSha512Rounds) +
           "（既定: " + std::to_string(strength.sha512_rounds) + "）"},
      {"--encoding", "E", {"utf8", "sjis"}, WordKind::Text,
       "ファイルの文字コード（既定: " + std::string(CommandDefaults().utf8 ? "utf8" : "sjis") + "）。sjis は Shift-JIS のバイトをそのまま書きます。名前とパスワードは"
       "与えられたバイトのまま書き、正規化しません"},
      {"--auth-user-file", "PATH", {}, WordKind::File,
       ".htaccess の AuthUserFile、サーバ上の .htpasswd の絶対パス（既定: 書き出す .htpasswd の絶対パス。"
       "--classic では " + std::string(core::kDefaultAuthUserFile) + "）。制御文字、「\"」、末尾の「\\」は使えません"},
      {"--auth-name", "NAME", {}, WordKind::Text,
       ".htaccess の AuthName、認証するエリアの名前（既定: " + std::string(core::kDefaultAuthName) + "）"},
      {"--classic", "", {}, WordKind::Text,
       "ウィンドウと同じ 9 行の .htaccess を書きます。--format des --encoding sjis と合わせると、ウィンドウの"
       "既定と同じ 3 つのファイルになります。既定では Debian の標準の Apache 2.4 が有効にしているモジュール"
       "だけを使う .htaccess を書きます"},
      {"--replace", "", {}, WordKind::Text, "すでにある .htpasswd, .htaccess, passwd.txt を置き換えます"},
      {"--generate", "", {}, WordKind::Text, "パスワードを作り、「USER=パスワード」を標準出力に書きます"},
      {"--passwd-out", "FILE", {}, WordKind::File,
       "作ったパスワードを書くファイル（本人だけが読めるモード 0600。既定: 標準出力）"},
      {"--wait", "SECONDS", {}, WordKind::Text,
       "ほかの実行のロックを待つ秒数の上限。待ちきれなければ何も書かずに終了コード " +
           std::to_string(static_cast<int>(ExitCode::BadInput)) + " で終わります。0 は待ちません（既定: 終わるまで待ちます）"},
      {"--server", "S", servers, WordKind::Text, "そのサーバの答えだけを示します"},
      {"--min-cost", "N", Numbers(hashes::kMinBcryptCost, hashes::kMaxBcryptCost), WordKind::Text,
       "これより低いコストの bcrypt を弱いとします（既定: " + std::to_string(bars.min_cost) + "）"},
      {"--min-rounds", "N", {}, WordKind::Text,
       "これより少ない rounds の SHA-crypt を弱いとします（既定: " + std::to_string(bars.min_rounds) + "）"},
  };
}

std::vector<TCommand> MakeCommands() {
  const auto code = [](ExitCode c) { return std::to_string(static_cast<int>(c)); };
  return {
      {"build", {{"CSV", WordKind::File}}, false,
       {"-o", "--format", "--cost", "--rounds", "--encoding", "--auth-user-file", "--auth-name", "--classic", "--replace", "--wait"},
       "-o",
       "CSV（1 行に「ユーザ,パスワード」）のすべてのパスワードをハッシュにして、DIR に .htpasswd, .htaccess, "
       "passwd.txt を保存します。空のパスワードには英数字 8 文字のパスワードを作ります。すでにあるファイルは "
       "--replace がなければ置き換えず、終了コード " + code(ExitCode::BadInput) +
           " で終わります。passwd.txt は所有者だけが読めるモード 0600 で書きます。",
       Build},
      {"add", {{"HTPASSWD", WordKind::File}, {"USER", WordKind::User}}, false,
       {"--format", "--cost", "--rounds", "--encoding", "--generate", "--wait"}, "",
       "ユーザを追加するか、そのパスワードを変えます。ファイルがなければ作ります。名前はサーバと同じくバイト"
       "単位で比べます（大文字と小文字は別の名前）。パスワードは標準入力が端末でなければその 1 行目から、"
       "端末なら表示せずに 2 回たずねて読み、コマンドラインからは受け取りません。",
       Add},
      {"import", {{"HTPASSWD", WordKind::File}, {"CSV", WordKind::File}}, false,
       {"--format", "--cost", "--rounds", "--encoding", "--passwd-out", "--wait"}, "",
       "CSV のすべてのユーザを一度に追加し、すでにいるユーザはパスワードを変えます。作ったパスワードは"
       "「USER=パスワード」の行で --passwd-out のファイルか標準出力に書きます。",
       Import},
      {"delete", {{"HTPASSWD", WordKind::File}, {"USER", WordKind::User}}, true, {"--encoding", "--wait"}, "",
       "名前を挙げたユーザを削除します。ファイルにない名前があれば何も変えず、終了コード " + code(ExitCode::UnknownUser) +
           " で終わります。",
       Delete},
      {"verify", {{"HTPASSWD", WordKind::File}, {"USER", WordKind::User}}, false, {"--encoding", "--server"}, "",
       "パスワード（標準入力か端末から）でユーザがログインできるかを、Apache 2.4 と nginx がそれぞれ読むとおりに"
       "確かめます。サーバと同じく、名前とパスワードはバイト単位で比べ（正規化しません）、その名前の最初の行を"
       "使います。両者の答えが違えば、それぞれの答えを示して終了コード " + code(ExitCode::Mismatch) + " で終わります。",
       Verify},
      {"check", {{"HTPASSWD", WordKind::File}}, false, {"--min-cost", "--min-rounds"}, "",
       "弱いハッシュ（DES は最初の 8 バイトの下位 7 ビットだけ、apr1 と {SHA} は高速なハッシュ、低いコストや"
       " rounds）、同じ名前の 2 行目、サーバが読み飛ばすか使えない行、Apache と nginx で読み方の違う行（前後の"
       "空白、行末の「\\」による行の連結など）を、コンパイラと同じく「ファイル:行: 」に続けて 1 件 1 行で示します。"
       "cron や CI から使えるよう、何か見つかれば終了コード " + code(ExitCode::Findings) + " で終わります。",
       Check},
  };
}

constexpr TExitMeaning kExitMeanings[] = {
    {ExitCode::Done, "完了"},
    {ExitCode::Findings, "check の指摘あり"},
    {ExitCode::Usage, "使い方の誤り（不明なオプションや形式、足りない引数）"},
    {ExitCode::Mismatch, "パスワードが一致しない"},
    {ExitCode::BadInput, "入力の誤りか、ファイルの読み書きの失敗（何も書きません）"},
    {ExitCode::UnknownUser, "ユーザがいない"},
};

constexpr std::string_view kPromise =
    "引数は UTF-8 で与えます。ファイルを変えるコマンドはリンクの先の実際のファイルのフォルダをロックし（待つときは "
    "1 秒後にそう示します）、変えない行はそのまま残します。新しいパスワードは保存の前に書き出し、書き出せなければ"
    "何も保存しません。";

constexpr std::size_t kWidth = 100;  // columns of a terminal, a Japanese character taking two
constexpr std::string_view kNoBreak = "\u00a0";  // keeps an option beside its value

// `text`, which starts at `column`, broken into lines of at most kWidth columns where Unicode lets
// a line break (between Japanese characters, never before 。 or after 「), each next line indented
// to `indent`; never inside a run of Latin letters, digits and signs, such as ".htaccess" or "--wait".
std::string Wrapped(std::string_view text, std::size_t column, std::size_t indent) {
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  std::vector<char> breaks(text.size());
  u8_possible_linebreaks(s, text.size(), "UTF-8", breaks.data());
  const auto latin = [](char c) { return c > ' ' && static_cast<unsigned char>(c) < 0x80; };
  std::string out;
  std::size_t start = 0, last = 0, column_at_last = 0;
  const auto line_up_to = [&](std::size_t end) {
    std::string_view line = text.substr(start, end - start);
    while (line.ends_with(' ')) line.remove_suffix(1);
    out += line;
  };
  for (std::size_t i = 0; i < text.size();) {
    if (i > start && breaks[i] == UC_BREAK_POSSIBLE && !(latin(text[i - 1]) && latin(text[i]))) last = i, column_at_last = column;
    ucs4_t c = 0;
    const int length = u8_mbtouc(&c, s + i, text.size() - i);
    column += static_cast<std::size_t>(std::max(uc_width(c, "UTF-8"), 0));
    i += static_cast<std::size_t>(length);
    if (column > kWidth && last > start) {
      line_up_to(last);
      out += "\n" + std::string(indent, ' ');
      start = last;
      column = indent + column - column_at_last;
    }
  }
  line_up_to(text.size());
  for (std::size_t at; (at = out.find(kNoBreak)) != std::string::npos;) out.replace(at, kNoBreak.size(), " ");
  return out;
}

}  // namespace

std::string TOption::ValueShown() const {
  // A range of numbers reads better as its name: the help says the range.
  if (words.empty() || std::isdigit(static_cast<unsigned char>(words[0][0]))) return value;
  std::string shown;
  for (const std::string& word : words) shown += (shown.empty() ? "" : "|") + word;
  return shown;
}

const std::vector<TOption>& Options() {
  static const std::vector<TOption> options = MakeOptions();
  return options;
}

const TOption& OptionNamed(std::string_view name) {
  for (const TOption& option : Options())
    if (option.name == name) return option;
  throw std::out_of_range("no option " + std::string(name));
}

const std::vector<TCommand>& Commands() {
  static const std::vector<TCommand> commands = MakeCommands();
  return commands;
}

std::string CommandsTaking(std::string_view option) {
  std::string names;
  for (const TCommand& command : Commands())
    if (std::ranges::find(command.options, option) != command.options.end())
      names += (names.empty() ? "" : ", ") + std::string(command.name);
  return names;
}

std::span<const TExitMeaning> ExitMeanings() { return kExitMeanings; }

std::string_view Promise() { return kPromise; }

std::string Help() {
  std::string help = "使い方:\n";
  for (const TCommand& command : Commands()) {
    const std::string head = "  vastelo-cli " + std::string(command.name) + " ";
    std::string synopsis;
    for (const TPositional& positional : command.positionals) synopsis += std::string(positional.name) + " ";
    if (command.repeats) synopsis.replace(synopsis.size() - 1, 1, "... ");
    for (const std::string_view name : command.options) {
      const TOption& option = OptionNamed(name);
      const std::string word = option.IsFlag() ? option.name : option.name + std::string(kNoBreak) + option.value;
      synopsis += (name == command.required ? word : "[" + word + "]") + " ";
    }
    help += head + Wrapped(synopsis, head.size(), head.size()) + "\n";
    help += "      " + Wrapped(command.help, 6, 6) + "\n";
  }
  help += "  vastelo-cli --help | --version\n\nオプション:\n";
  constexpr std::size_t kTextColumn = 36;
  for (const TOption& option : Options()) {
    std::string line = "  " + option.name + (option.IsFlag() ? "" : " " + option.ValueShown());
    line += line.size() + 2 > kTextColumn ? "\n" + std::string(kTextColumn, ' ') : std::string(kTextColumn - line.size(), ' ');
    help += line + Wrapped(CommandsTaking(option.name) + ": " + option.help, kTextColumn, kTextColumn) + "\n";
  }
  help += "\n" + Wrapped(Promise(), 0, 0) + "\n\n終了コード:\n";
  for (const TExitMeaning& exit : ExitMeanings())
    help += "  " + std::to_string(static_cast<int>(exit.code)) + "  " + std::string(exit.meaning) + "\n";
  return help;
}

}  // namespace cli

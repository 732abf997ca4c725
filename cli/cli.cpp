#include "cli/cli.h"

#include <algorithm>
#include <new>
#include <string_view>

#include "cli/common.h"
#include "hashes/formats.h"
#include "platform/cp932.h"
#include "platform/system.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace cli {
namespace {

constexpr std::string_view kHelp = R"(使い方:
  vastelo-cli build CSV -o DIR [--format F] [--cost N] [--rounds N] [--encoding E]
                               [--auth-user-file PATH] [--auth-name NAME] [--classic] [--replace]
                               [--wait SECONDS]
      CSV（1 行に「ユーザ,パスワード」）から DIR に .htpasswd, .htaccess, passwd.txt を作ります。
      空のパスワードには 8 文字のパスワードを生成します。DIR がなければ作ります。すでにある
      ファイルは --replace がなければ置き換えません。--classic ではウィンドウと同じ .htaccess です。
  vastelo-cli add HTPASSWD USER [--format F] [--cost N] [--rounds N] [--encoding E] [--generate]
                                [--wait SECONDS]
      ユーザを追加するか、そのパスワードを変えます（ファイルがなければ作ります）。名前は
      サーバと同じくバイト単位で比べます（大文字と小文字は別の名前）。パスワードは
      標準入力の 1 行から、端末なら確認つきで 2 回入力します。--generate では生成し、
      「USER=パスワード」を標準出力に書きます。
  vastelo-cli import HTPASSWD CSV [--format F] [--encoding E] [--passwd-out FILE] [--wait SECONDS]
      CSV のユーザを追加し、すでにいるユーザはパスワードを変えます。生成したパスワードは
      「USER=パスワード」の行で FILE（本人だけが読める 0600）か標準出力に書きます。
  vastelo-cli delete HTPASSWD USER... [--wait SECONDS]
      ユーザを削除します。いないユーザがあれば何も変えません。
  vastelo-cli verify HTPASSWD USER [--encoding E] [--server apache|nginx]
      パスワード（標準入力か端末から）でユーザがログインできるかを、Apache と nginx がそれぞれ
      読むとおりに確かめます。両者の答えが違えば、それぞれの答えを示します。
  vastelo-cli check HTPASSWD [--min-cost N] [--min-rounds N]
      弱いハッシュ（DES, MD5, {SHA}, 平文, 低いコストや rounds）、同じ名前の 2 行目、サーバが
      読み飛ばすか使えない行、Apache と nginx で読み方の違う行を、行番号とユーザ名つきで
      1 行ずつ示します。
  vastelo-cli --help | --version

オプション:
)";
// After the --format line, which the format table writes.
constexpr std::string_view kHelpOptions = R"(  --cost N                          bcrypt のコスト 4〜17（既定: 10）
  --rounds N                        SHA-512 の rounds 1000〜999999999（既定: 100000）
  --encoding sjis|utf8              ファイルの文字コード（既定: utf8）。sjis は Shift-JIS のバイトを
                                    そのまま書きます
  --auth-user-file PATH             .htaccess の AuthUserFile（既定: 書き出す .htpasswd の絶対パス）
  --auth-name NAME                  .htaccess の AuthName（既定: Protected_area）
  --classic                         build: ウィンドウと同じ 9 行の .htaccess（既定の AuthUserFile は
                                    //.htpasswd）。--format des --encoding sjis と合わせると
                                    ウィンドウの既定と同じ 3 ファイルになります
  --replace                         build: すでにある .htpasswd, .htaccess, passwd.txt を置き換えます
  --wait SECONDS                    ほかの実行のロックを待つ秒数の上限（0 は待たない。既定: 終わるまで）
  --server apache|nginx             verify: そのサーバの答えだけを示します
  --min-cost N, --min-rounds N      check の基準（既定: 10 と 5000）
引数は UTF-8 で与えます。ファイルを変えるコマンドはリンクの先の実際のファイルのフォルダをロックし
（待つときは 1 秒後にそう示します）、変えない行はそのまま残します。新しいパスワードは保存の前に
書き出し、書き出せなければ何も保存しません。

終了コード: 0 完了, 1 check の指摘あり, 2 使い方の誤り, 3 パスワードが一致しない,
  4 入力の誤りかファイルの読み書きの失敗（何も書きません）, 6 ユーザがいない
)";

// The whole text of --help.
std::string Help() {
  std::string format = "  --format " + hashes::FormatNames("|");
  format.resize(std::max<std::size_t>(format.size() + 1, 36), ' ');
  return std::string(kHelp) + format + "ハッシュ形式（既定: bcrypt）\n" + std::string(kHelpOptions);
}

struct TCommand {
  std::string_view name;
  ExitCode (*run)(const std::vector<std::string>&);
};
constexpr TCommand kCommands[] = {{"build", Build},   {"add", Add},       {"import", Import},
                                  {"delete", Delete}, {"verify", Verify}, {"check", Check}};

ExitCode Dispatch(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") {
      Print(Help());
      return ExitCode::Done;
    }
  }
  if (args.empty()) throw TFailure(ExitCode::Usage, text::Utf8Message(messages::SNoCommand));
  if (args[0] == "--version") {
    Print("vastelo-cli " VASTELO_VERSION "\n");
    return ExitCode::Done;
  }
  for (const TCommand& command : kCommands)
    if (args[0] == command.name) return command.run(std::vector<std::string>(args.begin() + 1, args.end()));
  throw TFailure(ExitCode::Usage, text::Utf8Message(messages::SUnknownCommand, {args[0]}));
}

}  // namespace

namespace {

// A failure in the message table's words, with what it is about as a command's user needs it: the
// file named as the file system has it (the window's code page may lack some of its characters),
// and a file's line where the sentence does not name the file, as "file:line: ", as compilers do.
std::string Worded(const text::Exception& failure) {
  std::string said = platform::Cp932ToUtf8(failure.Message());
  const text::TFacts& facts = failure.Facts();
  if (facts.path.empty()) return said;
  const std::string path = platform::AbsolutePath(facts.path);
  const std::string shown = platform::Cp932ToUtf8(text::PathForMessage(facts.path));
  if (const std::size_t at = said.find(shown); at != std::string::npos) return said.replace(at, shown.size(), path);
  if (facts.line > 0) return FileLine(facts.path, static_cast<std::size_t>(facts.line)) + said;
  return path + ": " + said;
}

}  // namespace

int Run(const std::vector<std::string>& args) {
  try {
    return static_cast<int>(Dispatch(args));
  } catch (const TFailure& failure) {
    if (*failure.what() != '\0') Complain(failure.what());
    return static_cast<int>(failure.Code());
  } catch (const text::Exception& failure) {
    Complain(Worded(failure));
  } catch (const std::bad_alloc&) {
    Complain(text::Utf8Message(messages::SOutOfMemory));
  } catch (const std::exception& failure) {
    Complain(failure.what());
  }
  return static_cast<int>(ExitCode::BadInput);
}

}  // namespace cli

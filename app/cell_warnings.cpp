#include "app/cell_warnings.h"

#include <QStringList>

#include "app/screen_text.h"
#include "platform/cp932.h"
#include "table/user_list.h"
#include "text/exceptions.h"

QString CellWarning(table::Column column, const table::TUserListModel::TRow& row, const core::TSettings& options, bool case_twin) {
  if (column == table::Column::Key) {
    if (row.key.find(':') != std::string_view::npos)
      return QStringLiteral("「:」を含むユーザ名では決してログインできません。"
                            "サーバは最初の「:」でユーザ名とパスワードを分けます。");
    if (row.key.starts_with('#'))
      return QStringLiteral("「#」で始まるユーザ名では決してログインできません。"
                            "サーバはその行をコメントとして読み飛ばします。");
    if (row.key.starts_with(' '))
      return QStringLiteral("空白で始まるユーザ名は、Apache では先頭の空白を除いた名前として読まれます。"
                            "nginx は空白ごと読むため、二つのサーバで別のユーザになります。");
    if (row.key.ends_with(' ') || row.key.ends_with('\t'))
      return QStringLiteral("空白で終わるユーザ名です。サーバは末尾の空白も名前の一部として読むため、"
                            "ログインするときも同じ空白が要ります。");
    if (case_twin)
      return QStringLiteral("大文字と小文字だけが違うユーザ名がほかの行にあります。"
                            "サーバは二つを別のユーザとして扱い、それぞれのパスワードで照合します。");
    if (row.key.empty() && (!row.value.empty() || row.held))
      return QStringLiteral("ユーザ名が空です。この行は名前のない「:ハッシュ」の行として書き出されます。\n"
                            "Apache は空のユーザ名とこのパスワードでのログインを受け付けます（nginx は受け付けません）。");
    return QString();
  }
  const std::string_view bytes = row.value;
  // What the server is given: in UTF-8 mode the UTF-8 bytes. The first 256 settle every limit
  // (the longest is 72), so a huge cell costs no more to mark than a short one.
  std::size_t cut = 0;
  while (cut < bytes.size() && cut < 256) cut = platform::CharNext(bytes, cut);
  std::string sent;
  try {
    sent = OutputBytes(bytes.substr(0, cut), options.utf8);
  } catch (const text::Exception&) {
    return QStringLiteral("文字にならないバイトがあるため、UTF-8 に変換できません。");
  }
  const hashes::TIgnored ignored = hashes::WhatServersIgnore(options.format, sent);
  QStringList why;
  if (ignored.beyond_limit)
    why << (options.format == hashes::Format::Des ? QStringLiteral("DES で照合されるのは最初の 8 バイトだけです。")
                                                  : QStringLiteral("bcrypt で照合されるのは最初の 72 バイトだけです。"));
  if (ignored.eighth_bits)
    why << QStringLiteral("DES は各バイトの最上位ビットを照合しません。ASCII 以外の文字は別の文字と区別されません。");
  if (ignored.after_nul) why << QStringLiteral("NUL 文字から後は照合されません。");
  if (options.utf8 && options.format == hashes::Format::Des && ignored.eighth_bits)
    why << QStringLiteral("UTF-8 では日本語 1 文字が 3 バイトになるため、照合されるのは最初の 2、3 文字の一部だけです。"
                          "UTF-8 には bcrypt をお勧めします。");
  return why.join(u'\n');
}

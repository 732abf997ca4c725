#include "app/cell_warnings.h"

#include <QStringList>

#include "table/user_list.h"

QString CellWarning(int column, std::string_view bytes, const Options& options) {
  if (column == table::KeyColumn)
    return bytes.find(':') == std::string_view::npos
               ? QString()
               : QStringLiteral("「:」を含むユーザ名では決してログインできません。"
                                "サーバは最初の「:」でユーザ名とパスワードを分けます。");
  const hashes::Ignored ignored = hashes::WhatServersIgnore(options.format, bytes);
  QStringList why;
  if (ignored.beyond_limit)
    why << (options.format == hashes::Format::Des ? QStringLiteral("DES で照合されるのは最初の 8 バイトだけです。")
                                                  : QStringLiteral("bcrypt で照合されるのは最初の 72 バイトだけです。"));
  if (ignored.eighth_bits)
    why << QStringLiteral("DES は各バイトの最上位ビットを照合しません。ASCII 以外の文字は別の文字と区別されません。");
  if (ignored.after_nul) why << QStringLiteral("NUL 文字から後は照合されません。");
  return why.join(u'\n');
}

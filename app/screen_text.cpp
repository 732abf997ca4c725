#include "app/screen_text.h"

#include <QList>
#include <algorithm>
#include <vector>

#include "platform/cp932.h"
#include "text/exceptions.h"
#include "text/messages.h"

QString ScreenText(std::string_view cp932) { return QString::fromStdString(platform::Cp932ToUtf8(cp932)); }

QString ScreenText(std::string_view cp932, std::initializer_list<QString> args) {
  // Filled after the conversion: a name or a path goes in as the user sees it, whether or not code
  // page 932 has its characters.
  std::vector<std::string> utf8;
  for (const QString& arg : args) utf8.push_back(arg.toStdString());
  return QString::fromStdString(text::FormatMessage(platform::Cp932ToUtf8(cp932), utf8));
}

namespace {

// `text` as code page 932 bytes, or nothing when a character has no place there, or (`exact`)
// only another character's place, which gives that other one back: the wave dash U+301C the
// full-width tilde U+FF5E's, the minus sign the full-width hyphen-minus's, the cent sign the
// full-width cent's.
std::optional<std::string> Cp932Form(const QString& text, bool exact) {
  // A lone surrogate would come out of QString as "?" and be stored as one.
  if (!text.isValidUtf16()) return std::nullopt;
  const std::string utf8 = text.toStdString();
  std::optional<std::string> bytes = platform::Utf8ToCp932(utf8);
  if (exact && bytes && *bytes != utf8 && platform::Cp932ToUtf8(*bytes) != utf8) bytes.reset();
  return bytes;
}

// The first character of `text` that code page 932 cannot hold, as "XXXX" for the message.
std::string FirstUnencodable(const QString& text, bool exact) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
    const QString c = text.mid(i, length);
    if (!Cp932Form(c, exact)) return QString::number(c.toUcs4().value(0), 16).toUpper().rightJustified(4, u'0').toStdString();
    i += length - 1;
  }
  return "?";
}

}  // namespace

std::string Cp932Text(const QString& text, bool exact) {
  std::optional<std::string> bytes = Cp932Form(text, exact);
  if (!bytes) throw text::Exception(text::FormatMessage(messages::SNotCp932, {FirstUnencodable(text, exact)}));
  return *std::move(bytes);
}


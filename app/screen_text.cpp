#include "app/screen_text.h"

#include "platform/cp932.h"
#include "text/exceptions.h"
#include "text/messages.h"

QString ScreenText(std::string_view cp932) { return QString::fromStdString(platform::Cp932ToUtf8(cp932)); }

namespace {

// The first character of `text` that code page 932 cannot hold, as "XXXX" for the message.
std::string FirstUnencodable(const QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    char32_t c = text[i].unicode();
    bool valid = !text[i].isSurrogate();
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      c = QChar::surrogateToUcs4(text[i], text[i + 1]);
      valid = true;
      ++i;
    }
    if (!valid || !platform::Utf8ToCp932(QString::fromUcs4(&c, 1).toStdString()))
      return QString::number(c, 16).toUpper().rightJustified(4, u'0').toStdString();
  }
  return "?";
}

}  // namespace

std::string Cp932Text(const QString& text) {
  // A lone surrogate would come out of QString as "?" and be stored as one.
  std::optional<std::string> bytes = text.isValidUtf16() ? platform::Utf8ToCp932(text.toStdString()) : std::nullopt;
  if (!bytes) throw text::Exception(text::FormatMessage(messages::SNotCp932, {FirstUnencodable(text)}));
  return *std::move(bytes);
}

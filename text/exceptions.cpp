#include "text/exceptions.h"

#include "platform/cp932.h"
#include "platform/system.h"
#include "text/messages.h"

namespace text {
namespace {

template <class Arg>
std::string Fill(std::string_view format, Arg&& next_argument) {
  std::string out;
  out.reserve(format.size() + 64);
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && (format[i + 1] == 's' || format[i + 1] == 'd'))
      out += next_argument(format[++i]);
    else
      out += format[i];
  }
  return out;
}

}  // namespace

std::string FormatMessage(std::string_view format, std::initializer_list<std::string_view> strings) {
  auto it = strings.begin();
  return Fill(format, [&](char) { return it != strings.end() ? std::string(*it++) : std::string(); });
}

std::string FormatMessage(std::string_view format, std::span<const std::string> strings) {
  auto it = strings.begin();
  return Fill(format, [&](char) { return it != strings.end() ? *it++ : std::string(); });
}

std::string FormatMessage(std::string_view format, long long number) {
  return Fill(format, [&](char) { return std::to_string(number); });
}

std::string Utf8Message(std::string_view cp932_format, std::initializer_list<std::string_view> utf8) {
  return FormatMessage(platform::Cp932ToUtf8(cp932_format), utf8);
}

std::string PathForMessage(std::string_view path) {
  // File names come from the file system as UTF-8; the message is code page 932 for the box.
  return platform::Utf8ToCp932Lossy(platform::AbsolutePath(path));
}

EFOpenError::EFOpenError(std::string_view path, int errnum)
    : EFileStreamError(FormatMessage(messages::SFOpenErrorEx, {PathForMessage(path), platform::SystemErrorText(errnum)}),
                       {std::string(path), 0, errnum}) {}

EFOpenError::EFOpenError(std::string_view path, std::string_view reason_cp932)
    : EFileStreamError(FormatMessage(messages::SFOpenErrorEx, {PathForMessage(path), reason_cp932}),
                       {std::string(path), 0, 0}) {}

EFCreateError::EFCreateError(std::string_view path, int errnum)
    : EFileStreamError(
          FormatMessage(messages::SFCreateErrorEx, {PathForMessage(path), platform::SystemErrorText(errnum)}),
          {std::string(path), 0, errnum}) {}

EWriteError::EWriteError() : EFilerError(std::string(messages::SWriteError)) {}

EStringListError::EStringListError(long long index)
    : Exception(FormatMessage(messages::SListIndexError, index)) {}

}  // namespace text

#include "core/cell_marks.h"

#include "core/encoding.h"
#include "platform/cp932.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace core {

std::string NameMark(std::string_view key, std::string_view value, bool held, bool case_twin) {
  std::string_view mark;
  if (key.find(':') != std::string_view::npos) mark = messages::SMarkNameColon;
  else if (key.starts_with('#')) mark = messages::SMarkNameComment;
  else if (key.starts_with(' ')) mark = messages::SMarkNameLeadingBlank;
  else if (key.ends_with(' ') || key.ends_with('\t')) mark = messages::SMarkNameTrailingBlank;
  else if (case_twin) mark = messages::SMarkNameCaseTwin;
  else if (key.empty() && (!value.empty() || held)) mark = messages::SMarkNameEmpty;
  return std::string(mark);
}

std::string PasswordMark(std::string_view value, const TSettings& settings) {
  // What the server is given: in UTF-8 mode the UTF-8 bytes. The first 256 settle every limit
  // (the longest is 72), so a huge cell costs no more to mark than a short one.
  std::size_t cut = 0;
  while (cut < value.size() && cut < 256) cut = platform::CharNext(value, cut);
  std::string sent;
  try {
    sent = OutputBytes(value.substr(0, cut), settings.utf8);
  } catch (const text::Exception&) {
    return std::string(messages::SMarkNoUtf8);
  }
  const hashes::TIgnored ignored = hashes::WhatServersIgnore(settings.format, sent);
  std::string why;
  const auto add = [&](std::string_view line) { (why += why.empty() ? "" : "\n") += line; };
  if (ignored.beyond_limit)
    add(settings.format == hashes::Format::Des ? messages::SMarkDesLength : messages::SMarkBcryptLength);
  if (ignored.eighth_bits) add(messages::SMarkEighthBits);
  if (ignored.after_nul) add(messages::SMarkAfterNul);
  if (settings.utf8 && settings.format == hashes::Format::Des && ignored.eighth_bits) add(messages::SMarkUtf8Des);
  return why;
}

}  // namespace core

// Everything the program says or stores about each format it writes, in one row per format: the
// window's menu, the remembered settings, the command's --format, its help and the shell's
// completion all read this table, so that a new format is its value in hashes::Format, one row here
// and one case in DrawSetting.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "hashes/hashes.h"
#include "hashes/server_check.h"

namespace hashes {

struct TFormatRow {
  Format format;
  std::string_view name;          // the command's --format word and the shell's completion
  std::string_view menu_label;    // the 設定 menu's item, UTF-8, its "&" marking the access key
  std::string_view settings_key;  // the value stored under "hash/format": never change, or old settings are lost
  std::string_view prefix;        // what the hashes we write begin with ("" for DES: no prefix)
  AnyForm form;                   // ClassifyHash's form of our hashes: its Cost reads their cost or rounds
};

// In the menu's order, indexed by Format.
inline constexpr TFormatRow kFormatRows[] = {
    {Format::Des, "des", "DES (crypt)(&D)", "des", "", AnyForm::Des},
    {Format::Apr1, "apr1", "MD5 (apr1)(&M)", "apr1", "$apr1$", AnyForm::Apr1},
    {Format::Sha512, "sha512", "SHA-512 (crypt)(&S)", "sha512", "$6$", AnyForm::Sha512},
    {Format::Bcrypt, "bcrypt", "bcrypt(&B)", "bcrypt", "$2y$", AnyForm::Bcrypt},
};
constexpr bool InFormatOrder() {
  for (std::size_t i = 0; i < std::size(kFormatRows); ++i)
    if (static_cast<std::size_t>(kFormatRows[i].format) != i) return false;
  return true;
}
static_assert(InFormatOrder(), "a format's row stands at its value's place");

// The row of `format`.
constexpr const TFormatRow& RowOf(Format format) { return kFormatRows[static_cast<std::size_t>(format)]; }

// The format whose command name is `name`, or nullopt.
constexpr std::optional<Format> FormatNamed(std::string_view name) {
  for (const TFormatRow& row : kFormatRows)
    if (row.name == name) return row.format;
  return std::nullopt;
}

// The format stored as `key` in the settings, or nullopt.
constexpr std::optional<Format> FormatStoredAs(std::string_view key) {
  for (const TFormatRow& row : kFormatRows)
    if (row.settings_key == key) return row.format;
  return std::nullopt;
}

// The command names in the table's order, `separator` between them: "des|apr1|sha512|bcrypt".
inline std::string FormatNames(std::string_view separator) {
  std::string names;
  for (const TFormatRow& row : kFormatRows) names += (names.empty() ? "" : std::string(separator)) + std::string(row.name);
  return names;
}

}  // namespace hashes

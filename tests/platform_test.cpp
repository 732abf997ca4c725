#include <gtest/gtest.h>

#include "platform/cp932.h"
#include "platform/key_fold.h"
#include "platform/system.h"

using namespace std::string_literals;
using namespace std::string_view_literals;

TEST(Utf8, FindsWhereATextStopsBeingUtf8) {
  constexpr auto kAll = std::string_view::npos;
  const std::pair<std::string_view, std::size_t> cases[] = {
      {"a\u0080\u07FF\u0800\uD7FF\uE000\U00010000\U0010FFFF", kAll},  // every sequence length at its bounds
      {"\xC0\xAF", 0}, {"\xC1\xBF", 0}, {"\xE0\x9F\xBF", 0}, {"\xF0\x8F\xBF\xBF", 0},  // overlong
      {"\xED\xA0\x80", 0}, {"\xF4\x90\x80\x80", 0}, {"\xF5\x80\x80\x80", 0},        // surrogate, past U+10FFFF
      {"\x80", 0}, {"\xFF", 0}, {"ab\xE3\x81", 2}, {"ab\xE3\x81x", 2}, {"\xC3(", 0},       // stray, cut off
  };
  for (const auto& [text, bad] : cases) EXPECT_EQ(platform::FirstNonUtf8(text), bad) << testing::PrintToString(text);
  EXPECT_EQ(platform::Cp932ToUtf8("a\xFF" "b"), "a\uFFFD" "b") << "a byte of code page 932 that is no character is shown as U+FFFD";
}

TEST(KeyFold, MatchesLettersOfEitherCaseAndNothingElse) {
  const std::tuple<const char*, std::string, std::string, bool> cases[] = {
      {"ascii", "Alice", "aLICE", true},
      {"ascii differs", "alice", "alicf", false},
      {"full-width Latin", "\x82\x60\x82\x82"s, "\x82\x81\x82\x61"s, true},  // ＡＢ / ａｂ
      {"full-width vs half-width", "\x82\x60"s, "A", false},
      {"Greek", "\x83\x9F"s, "\x83\xBF"s, true},                     // Α / α
      {"Cyrillic differs in its last byte", "\x84\x40"s, "\x84\x71"s, false},  // А / б
      {"Roman numerals", "\x87\x54"s, "\xFA\x40"s, true},            // Ⅰ / ⅰ
      {"kana have no case", "\xB1"s, "\x83\x41"s, false},            // ｱ / ア
      {"folded forms differ in their middle byte", "\x82\xA0"s, "\x82\xE0"s, false},  // あ / も
      {"folded forms differ in their lead byte", "\x92\x86"s, "\x90\xC8"s, false},  // 中 / 席
      {"two-byte forms differ in their lead byte", "\x83\xCF"s, "\x84\x83"s, false},  // ρ / с
      {"trail byte 0x5C is no backslash", "\x95\x5C"s, "\x95\x7C"s, false},
      {"invalid bytes stay distinct", "a\x80"s, "a\xA0"s, false},
      {"invalid byte equal to itself", "\xFF" "A"s, "\xFF" "a"s, true},
      {"lone lead byte at the end", "a\x81"s, "A\x81"s, true},
      {"lone lead byte differs from a character", "\x81"s, "\x81\x40"s, false},
  };
  // (KeysMatch compares the two FoldKey gives, which the table's index keeps.)
  for (const auto& [label, a, b, match] : cases) EXPECT_EQ(platform::KeysMatch(a, b), match) << label;
}

TEST(FolderOf, IsDotForABareNameAndTheRootForANameRightUnderIt) {
  for (const auto& [path, folder] : {std::pair{"x", "."}, {"/x", "/"}, {"a/b", "a"}, {"/srv/a/.htpasswd", "/srv/a"}})
    EXPECT_EQ(platform::FolderOf(path), folder) << path;
}

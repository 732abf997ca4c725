#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/cp932.h"
#include "platform/key_fold.h"
#include "platform/system.h"

using namespace std::string_literals;
using namespace std::string_view_literals;

TEST(Cp932, StepsByCharacterAndNeverPastTheEnd) {
  struct Case {
    const char* label;
    std::string_view text;
    std::size_t pos, next;
  } cases[] = {
      {"ascii", "ab"sv, 0, 1},
      {"full-width space is one character", "\x81\x40" "a"sv, 0, 2},
      {"0x80 stands alone", "\x80\x40"sv, 0, 1},
      {"0xA0 stands alone", "\xA0\x40"sv, 0, 1},
      {"half-width katakana stand alone", "\xB1\xB2"sv, 0, 1},
      {"0xDF stands alone", "\xDF\x40"sv, 0, 1},
      {"0xE0 is a lead byte", "\xE0\x40"sv, 0, 2},
      {"0xFC is a lead byte", "\xFC\x40"sv, 0, 2},
      {"0xFD stands alone", "\xFD\x40"sv, 0, 1},
      {"lead byte as the last byte", "a\x81"sv, 1, 2},
      {"lead byte before NUL", "\x81\0b"sv, 0, 1},
      {"trail byte that looks like a backslash", "\x95\x5C" "x"sv, 0, 2},
      {"at the end", "ab"sv, 2, 2},
      {"beyond the end", "ab"sv, 7, 2},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::CharNext(c.text, c.pos), c.next) << c.label;

  EXPECT_EQ(platform::LastCharStart("ab\x83\x5C"sv), 2u);
  EXPECT_EQ(platform::LastCharStart("\x83\x5C" "b"sv), 2u);
  EXPECT_EQ(platform::LastCharStart("a\x81"sv), 1u);
  EXPECT_EQ(platform::LastCharStart(""sv), 0u);
}

TEST(Cp932, ConvertsForDisplayWithoutLosingBytes) {
  EXPECT_EQ(platform::Cp932ToUtf8("\x83\x86\x81\x5B\x83\x55\x96\xBC"sv), "ユーザ名");
  EXPECT_EQ(platform::Cp932ToUtf8("\xB1" "A\\~"sv), "ｱA\\~");  // 0x5C and 0x7E stay ASCII
  // Bytes that are no character show as one replacement character each.
  EXPECT_EQ(platform::Cp932ToUtf8("a\x80" "b\xFF"sv), "a\uFFFDb\uFFFD");
  EXPECT_EQ(platform::Cp932ToUtf8("a\x81"sv), "a\uFFFD");

  EXPECT_EQ(platform::Utf8ToCp932("表ポソ"), std::optional<std::string>("\x95\x5C\x83\x7C\x83\x5C"));
  EXPECT_EQ(platform::Utf8ToCp932("\U0001F600"), std::nullopt);
  EXPECT_EQ(platform::Utf8ToCp932("\xC3\x28"sv), std::nullopt);  // not UTF-8
  EXPECT_EQ(platform::Utf8ToCp932Lossy("a\U0001F600b€"), "a?b?");
}

TEST(KeyFold, MatchesLettersOfEitherCaseAndNothingElse) {
  struct Case {
    const char* label;
    std::string a, b;
    bool match;
  } cases[] = {
      {"ascii", "Alice", "aLICE", true},
      {"ascii differs", "alice", "alicf", false},
      {"full-width Latin", "\x82\x60\x82\x82"s, "\x82\x81\x82\x61"s, true},  // ＡＢ / ａｂ
      {"full-width vs half-width", "\x82\x60"s, "A", false},
      {"Greek", "\x83\x9F"s, "\x83\xBF"s, true},                     // Α / α
      {"Cyrillic", "\x84\x40"s, "\x84\x70"s, true},                  // А / а
      {"Roman numerals", "\x87\x54"s, "\xFA\x40"s, true},            // Ⅰ / ⅰ
      {"kana have no case", "\xB1"s, "\x83\x41"s, false},            // ｱ / ア
      {"trail byte 0x5C is no backslash", "\x95\x5C"s, "\x95\x7C"s, false},
      {"invalid bytes stay distinct", "a\x80"s, "a\xA0"s, false},
      {"invalid byte equal to itself", "\xFF" "A"s, "\xFF" "a"s, true},
      {"lone lead byte at the end", "a\x81"s, "A\x81"s, true},
      {"lone lead byte differs from a character", "\x81"s, "\x81\x40"s, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::KeysMatch(c.a, c.b), c.match) << c.label;
    EXPECT_EQ(platform::FoldKey(c.a) == platform::FoldKey(c.b), c.match) << c.label;
  }
}

TEST(System, ErrorTextIsTrimmedAndShort) {
  EXPECT_EQ(platform::SystemErrorText(ENOENT), std::string(std::strerror(ENOENT)));
  for (int e = 0; e < 140; ++e) {
    const std::string text = platform::SystemErrorText(e);
    ASSERT_LE(text.size(), 255u);
    if (!text.empty()) {
      EXPECT_GT(static_cast<unsigned char>(text.back()), 0x20u) << e;
      EXPECT_NE(text.back(), '.') << e;
    }
  }
}

TEST(System, AbsolutePathResolvesDotsLexically) {
  const std::string cwd = std::filesystem::current_path().string();
  EXPECT_EQ(platform::AbsolutePath("a/./b/../c.csv"), cwd + "/a/c.csv");
  EXPECT_EQ(platform::AbsolutePath("/x/y/../z"), "/x/z");
}

TEST(System, RandomBytesVary) {
  unsigned char a[32] = {}, b[32] = {};
  ASSERT_EQ(platform::SystemRandomBytes(a, sizeof a), 0);
  ASSERT_EQ(platform::SystemRandomBytes(b, sizeof b), 0);
  EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
  const auto t0 = platform::HighResolutionCounter();
  EXPECT_LE(t0, platform::HighResolutionCounter());
}

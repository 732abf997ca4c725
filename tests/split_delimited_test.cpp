#include <gtest/gtest.h>

#include "text/umyfunc.h"

using namespace std::string_literals;
using Fields = std::vector<std::string>;

TEST(SplitDelimited, FollowsTheDelimitedTextRules) {
  const std::pair<std::string, Fields> cases[] = {
      // Plain fields and delimiters.
      {"a,b", {"a", "b"}}, {"a", {"a"}}, {"a,", {"a", ""}}, {"a, ", {"a"}}, {",b", {"", "b"}},
      {"a,,b", {"a", "", "b"}}, {"a, ,b", {"a", "", "b"}}, {",", {"", ""}}, {", ", {""}}, {"  a , b  ", {"a", "b"}},
      // Blanks separate fields as the delimiter does.
      {"a b,c", {"a", "b", "c"}}, {"a\tb", {"a", "b"}}, {"a\x01" "b\x1F" "c", {"a", "b", "c"}},
      {"a\x7F" "b", {"a\x7F" "b"}},  // DEL is no blank
      // Quoted fields.
      {"\"a b\",c", {"a b", "c"}}, {"\"a,b\",c", {"a,b", "c"}}, {"\"a\"\"b\",c", {"a\"b", "c"}}, {"\"\",c", {"", "c"}},
      {"ab\"cd\",e", {"ab\"cd\"", "e"}}, {"\"ab\"cd,e", {"ab", "cd", "e"}}, {"\"a\" ,", {"a", ""}}, {" \"a\"", {"a"}},
      {"\"\"\"a\",b", {"\"a", "b"}}, {"\"eve, jr\",\"p,w\"", {"eve, jr", "p,w"}},
      // An unquoted field keeps its last byte when the closing quote is missing.
      {"\"abc", {"abc"}}, {"\"a", {"a"}}, {"\"", {""}}, {"x,\"a\"\"b", {"x", "a\"b"}}, {"\"ab, c", {"ab, c"}},
      // Nothing at all, and NUL ends the text.
      {"", {}}, {" \t\r\n", {}}, {"a,b\0c,d"s, {"a", "b"}}, {"\0a"s, {}},
      // Shift-JIS: whole characters, and a second byte is never a blank, delimiter or quote.
      {"\x83\x86\x81\x5B\x83\x55,\x95\x5C", {"\x83\x86\x81\x5B\x83\x55", "\x95\x5C"}},
      {"\"\x83\x86\x81\x5B\",x", {"\x83\x86\x81\x5B", "x"}},
      {"a\x81\x40" "b,c", {"a\x81\x40" "b", "c"}},                  // full-width space is no blank
      {"\x81\x40" "a\x81\x40,b", {"\x81\x40" "a\x81\x40", "b"}},  // nor dropped around a field
      {"\x81,a", {"\x81,a"}},                                      // a lead byte takes the comma with it
      {"a\x81", {"a\x81"}},                                        // a lead byte at the end stands alone
      // Inside quotes, a quote after an odd run of lead bytes is a second byte.
      {"\"\x81\"\",x", {"\x81\"", "x"}}, {"\"\x81\x81\",x", {"\x81\x81", "x"}},
      {"\"\x81\x81\x81\"a\",x", {"\x81\x81\x81\"a", "x"}}, {"\"a\"\"\x81\",x", {"a\"\x81\",x"}},
  };
  for (const auto& [text, fields] : cases)
    EXPECT_EQ(text::SplitDelimited(text, ',').Lines(), fields) << "text: " << testing::PrintToString(text);
  EXPECT_EQ(text::SplitDelimited("a;b c", ';').Lines(), (Fields{"a", "b", "c"})) << "another delimiter";
}

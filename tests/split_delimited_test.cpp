#include <gtest/gtest.h>

#include "text/exceptions.h"
#include "text/umyfunc.h"

using namespace std::string_literals;

namespace {

// Fields joined by "/" with each field in brackets, so empty fields and blanks are visible.
std::string Shown(const text::TStringList& fields) {
  std::string out;
  for (const std::string& f : fields.Lines()) out += "[" + f + "]";
  return out;
}

}  // namespace

TEST(SplitDelimited, FollowsTheDelimitedTextRules) {
  struct Case {
    std::string text;
    std::string fields;
  } cases[] = {
      // Plain fields and delimiters.
      {"a,b", "[a][b]"},
      {"a", "[a]"},
      {"a,", "[a][]"},
      {"a, ", "[a]"},
      {",b", "[][b]"},
      {"a,,b", "[a][][b]"},
      {"a, ,b", "[a][][b]"},
      {",", "[][]"},
      {", ", "[]"},
      {"  a , b  ", "[a][b]"},
      // Blanks separate fields as the delimiter does.
      {"a b,c", "[a][b][c]"},
      {"a\tb", "[a][b]"},
      {"a\x01" "b\x1F" "c", "[a][b][c]"},
      {"a\x7F" "b", "[a\x7F" "b]"},
      // Quoted fields.
      {"\"a b\",c", "[a b][c]"},
      {"\"a,b\",c", "[a,b][c]"},
      {"\"a\"\"b\",c", "[a\"b][c]"},
      {"\"\",c", "[][c]"},
      {"ab\"cd\",e", "[ab\"cd\"][e]"},
      {"\"ab\"cd,e", "[ab][cd][e]"},
      {"\"a\" ,", "[a][]"},
      {" \"a\"", "[a]"},
      {"\"\"\"a\",b", "[\"a][b]"},
      {"\"eve, jr\",\"p,w\"", "[eve, jr][p,w]"},
      // An unquoted field keeps its last byte when the closing quote is missing.
      {"\"abc", "[abc]"},
      {"\"a", "[a]"},
      {"\"", "[]"},
      {"x,\"a\"\"b", "[x][a\"b]"},
      {"\"ab, c", "[ab, c]"},
      // Nothing at all.
      {"", ""},
      {" \t\r\n", ""},
      // NUL ends the text.
      {"a,b\0c,d"s, "[a][b]"},
      {"\0a"s, ""},
      // Shift-JIS: whole characters, and a second byte is never a blank, delimiter or quote.
      {"\x83\x86\x81\x5B\x83\x55,\x95\x5C", "[\x83\x86\x81\x5B\x83\x55][\x95\x5C]"},
      {"\"\x83\x86\x81\x5B\",x", "[\x83\x86\x81\x5B][x]"},
      {"a\x81\x40" "b,c", "[a\x81\x40" "b][c]"},          // full-width space is no blank
      {"\x81\x40" "a\x81\x40,b", "[\x81\x40" "a\x81\x40][b]"},  // nor dropped around a field
      {"\x81,a", "[\x81,a]"},                              // a lead byte takes the comma with it
      {"a\x81", "[a\x81]"},                                // a lead byte at the end stands alone
      // Inside quotes, a quote after an odd run of lead bytes is a second byte.
      {"\"\x81\"\",x", "[\x81\"][x]"},
      {"\"\x81\x81\",x", "[\x81\x81][x]"},
      {"\"\x81\x81\x81\"a\",x", "[\x81\x81\x81\"a][x]"},
      {"\"a\"\"\x81\",x", "[a\"\x81\",x]"},
  };
  for (const Case& c : cases) {
    std::string input = c.text;
    EXPECT_EQ(Shown(text::SplitDelimited(input, ',')), c.fields) << "text: " << testing::PrintToString(c.text);
    EXPECT_EQ(input, c.text);
  }
}

TEST(SplitDelimited, FieldsAreReadWithTheListIndexError) {
  const text::TStringList fields = text::SplitDelimited("a", ',');
  EXPECT_EQ(fields.Get(0), "a");
  EXPECT_THROW(fields.Get(1), text::EStringListError);
  EXPECT_EQ(text::SplitDelimited("a;b c", ';').Count(), 3);
}

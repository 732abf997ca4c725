// The field splitter of credential lines: the rules of a general delimited-text reader, not a
// plain cut at the delimiter. Blanks (bytes 0x01-0x20) separate fields as the delimiter does and
// are dropped around fields; a field may be enclosed in double quotes, with "" standing for one
// quote inside it. The text ends at its first NUL, and it is walked by code page 932 characters,
// so the second byte of a double-byte character is never taken for a blank, delimiter or quote.
#pragma once

#include <string_view>

#include "text/string_list.h"

namespace text {

// Splits `text` at `delimiter` (which must be neither a blank nor the double quote). Never fails;
// empty and duplicate fields are kept. A quoted field without its closing quote runs to the end of
// the text, all of it, and is the last field.
TStringList SplitDelimited(std::string_view text, char delimiter);

}  // namespace text

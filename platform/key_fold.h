// User names are compared without regard to letter case. Every comparison goes through one
// folding function, so that "these two keys match" and "these two keys have the same folded form"
// are the same statement, and a table can index keys by their folded form.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The folded form of a code page 932 byte string: its characters decoded, each mapped to
// lower(upper(c)) by the Unicode case tables of the C library, written as UTF-8. ASCII letters,
// full-width Latin, Greek and Cyrillic letters and the Roman numerals thus match their other
// case. A byte that is not part of a valid character becomes the lone surrogate U+DC00 + byte,
// which no character decodes to: keys that differ in such bytes stay different.
std::string FoldKey(std::string_view key);

// True when the two keys are the same user name ignoring letter case.
inline bool KeysMatch(std::string_view a, std::string_view b) { return FoldKey(a) == FoldKey(b); }

}  // namespace platform

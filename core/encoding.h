// The bytes a text leaves the program as, and the bytes a UTF-8 file's text is held as. The table
// always holds code page 932; in UTF-8 mode what is hashed and written is that text in UTF-8,
// Normalization Form C, which is what browsers send.
#pragma once

#include <string>
#include <string_view>

namespace core {

// A line of a UTF-8 file as code page 932 bytes. It is put in Normalization Form C first, so that
// a name written in decomposed form (か and a combining voiced mark) is the same user as the
// composed one (が). Fails with a message naming `line` (counted from 1) and the first byte that is
// no UTF-8, or the first character the code page lacks or holds only in another's place (the
// wave dash U+301C would come back as the full-width tilde).
std::string Cp932FromUtf8Line(std::string_view utf8, long long line);

// The bytes that leave the program (hashed, or written to a file) for a text held in code page 932:
// the same bytes, or with `utf8` the text in UTF-8, Normalization Form C, as browsers send it.
// Fails with a message when the bytes do not form code page 932 text.
std::string OutputBytes(std::string_view cp932, bool utf8);

// `utf8` in Normalization Form C; nothing is checked (bytes that are no UTF-8 come back as they are).
std::string ComposedUtf8(std::string_view utf8);

// A file's bytes as the window's boxes show them: code page 932 (UTF-8 read as it, characters the
// code page lacks replaced), each line ended as the box ends it, whatever ends the file's lines.
std::string ShownText(std::string_view bytes, bool utf8);

// `utf8` as code page 932 when every character has a place of its own there; otherwise the
// code point of the first that has none, as "XXXX" (at least four upper-case hex digits).
struct TCp932OrBadChar {
  bool ok = false;
  std::string bytes;     // when ok
  std::string bad_char;  // when not
};
TCp932OrBadChar ExactCp932(std::string_view utf8);

// Which encoding a file's bytes look written in, where they tell: UTF-8 when there are bytes
// beyond ASCII and all of them form UTF-8; Shift-JIS when they do not, but form code page 932;
// either for ASCII alone or for bytes that are neither.
enum class FileEncoding { Either, Utf8, ShiftJis };
FileEncoding LooksLike(std::string_view bytes);

}  // namespace core

// Text between the screen (Unicode) and the program's bytes (code page 932).
#pragma once

#include <QString>
#include <string>
#include <string_view>

// Bytes as the screen shows them; bytes that are no character show as U+FFFD.
QString ScreenText(std::string_view cp932);

// What the user typed, as code page 932 bytes. A character the code page cannot hold (or a broken
// UTF-16 sequence) fails with a message naming it, rather than being stored as another character.
// With `exact`, so does a character the code page holds only in another's place, as the wave dash
// U+301C in the place of the full-width tilde U+FF5E: written out in UTF-8 it would come back as
// that other character, and such a name would never match what a browser sends. As Shift-JIS bytes
// the place is the character, and the bytes are what a Shift-JIS client sends.
std::string Cp932Text(const QString& text, bool exact = false);

// A line of a UTF-8 file as code page 932 bytes. It is put in Normalization Form C first, so that
// a name written in decomposed form (か and a combining voiced mark) is the same user as the
// composed one (が). Fails with a message naming `line` (counted from 1) and the first byte that is
// no UTF-8, or the first character the code page lacks.
std::string Cp932FromUtf8Line(std::string_view utf8, long long line);

// The bytes that leave the program (hashed, or written to a file) for a text held in code page 932:
// the same bytes, or with `utf8` the text in UTF-8, Normalization Form C, as browsers send it.
// Fails with a message when the bytes do not form code page 932 text.
std::string OutputBytes(std::string_view cp932, bool utf8);

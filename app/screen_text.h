// Text between the screen (Unicode) and the program's bytes (code page 932).
#pragma once

#include <QString>
#include <initializer_list>
#include <string>
#include <string_view>

#include "core/encoding.h"

// Bytes as the screen shows them; bytes that are no character show as U+FFFD.
QString ScreenText(std::string_view cp932);
// A text of the message table as the screen shows it, its %s and %d filled in order with `args`
// (as text::FormatMessage fills them).
QString ScreenText(std::string_view cp932, std::initializer_list<QString> args);

// What the user typed, as code page 932 bytes. A character the code page cannot hold (or a broken
// UTF-16 sequence) fails with a message naming it, rather than being stored as another character.
// With `exact`, so does a character the code page holds only in another's place, as the wave dash
// U+301C in the place of the full-width tilde U+FF5E: written out in UTF-8 it would come back as
// that other character, and such a name would never match what a browser sends. As Shift-JIS bytes
// the place is the character, and the bytes are what a Shift-JIS client sends.
std::string Cp932Text(const QString& text, bool exact = false);

// Conversions of the job itself, shared with the command line.
using core::Cp932FromUtf8Line;
using core::OutputBytes;

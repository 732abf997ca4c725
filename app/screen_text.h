// Text between the screen (Unicode) and the program's bytes (code page 932).
#pragma once

#include <QString>
#include <string>
#include <string_view>

// Bytes as the screen shows them; bytes that are no character show as U+FFFD.
QString ScreenText(std::string_view cp932);

// What the user typed, as code page 932 bytes. A character the code page cannot hold (or a broken
// UTF-16 sequence) fails with a message naming it, rather than being stored as another character.
std::string Cp932Text(const QString& text);

#pragma once
// Conversions between the program's one-byte Windows character set (the "ANSI" text of the
// naming tables) and the UTF-8 used by the file system, the terminal, the log and the screen.

#include <string>
#include <string_view>

namespace quarry {

// Windows-1252 bytes to UTF-8. The five bytes that Windows-1252 leaves undefined are kept as
// the C1 control characters of the same value, so no byte is ever lost.
std::string ansiToUtf8(std::string_view ansi);

// Code page 437 bytes (the DOS character set of short names) to UTF-8.
std::string oemToUtf8(std::string_view oem);

// The first count characters of UTF-8 text. Typed names are limited in characters, as a person
// counts them, so a multi-byte character is never cut in half.
std::string leadingCharacters(std::string_view utf8, size_t count);

// UTF-8 to Windows-1252. A character without a Windows-1252 form becomes 0, which the
// Macintosh name table treats as "not allowed here", so a typed name ends there.
std::string utf8ToAnsi(std::string_view utf8);

}  // namespace quarry

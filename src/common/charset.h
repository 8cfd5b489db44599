#pragma once
// The character tables between the Macintosh character set and the PC's: MacToAnsi for every
// Macintosh name shown or written to the PC as a long name, MacToDos (code page 437, upper
// case, 0 = dropped) for short names, and AnsiToMac for every name a person types.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarry {

using CharTable = std::array<uint8_t, 256>;

extern const CharTable MacToAnsi;
extern const CharTable MacToDos;
extern const CharTable AnsiToMac;

// out[i] = table[in[i]] up to the first NUL of in; out may be in. A NUL that the table yields
// ends the result, as it ends a C string.
void TranslateName(char* out, const char* in, const CharTable& table);
std::string TranslateName(std::string_view in, const CharTable& table);

// A Macintosh name as UTF-8 text for the screen, the terminal and the log.
std::string macNameToUtf8(std::string_view macName);

}  // namespace quarry

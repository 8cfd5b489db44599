#pragma once
// Macintosh name order: names compare by a weight per character, so letters compare without
// regard to case, accented letters sort just after their base letter and curly quotes just
// after the straight ones.

#include <cstdint>
#include <string>

namespace quarry {

uint16_t nameWeight(uint8_t c);

// Both zero-terminated.
int compareNames(const char* a, const char* b);
// Exactly n characters by weight, terminators included.
int compareNamesN(const char* a, const char* b, size_t n);
// Compares a searched name with the name of a catalog key (length at key offset 6, name at 7).
// Trailing spaces are removed from name in place. A "*" in name ends the compared prefix; a
// leading "*" matches every name.
int compareRecordName(std::string& name, const uint8_t* key);

}  // namespace quarry

#pragma once
// The order in which HFS catalogs keep their names. Every search and every insertion compares
// names here, so that Quarry looks for a record exactly where the Macintosh, hfsutils and
// genisoimage put it.

#include <cstdint>
#include <string>
#include <string_view>

#include "volume/volume_entry.h"

namespace quarry {


// The place of Macintosh Roman byte c in the catalog order. Bytes that the catalog takes for the
// same character (the two cases of a letter, the no-break space and the space) share a place.
uint8_t catalogRank(uint8_t c);

// Negative when a sorts before b, 0 when the catalog takes them for the same name, positive
// after: character by character by catalog rank, and a name that is the beginning of the other
// sorts first.
int compareNames(std::string_view a, std::string_view b);
// The same over at most the first n characters of each.
int compareNamesN(std::string_view a, std::string_view b, size_t n);
// Compares a searched name with the name of a catalog key (length at key offset 6, name at 7);
// the sign says where the searched name lies from the key's. Trailing spaces are removed from
// name in place and ignored in the key. In a pattern, a "*" ends the compared prefix, so the
// result is 0 for every name that begins with the characters before it; a leading "*" matches
// every name.
int compareRecordName(std::string& name, const uint8_t* key, NameMatch match = NameMatch::Pattern);

}  // namespace quarry

#include "hfs/name_order.h"

#include <algorithm>
#include <array>

#include "hfs/catalog_layout.h"

namespace quarry {
namespace {

// The place of every byte in the catalog order, as the Macintosh sorts its catalogs and as
// hfsutils and genisoimage write them (tests/hfs/catalog_order_test.cpp checks every pair
// against volumes hfsutils made). Letters with a case pair share a place; accented letters keep
// their own places near their base letter; the accented capitals 0xE5-0xF4 that have no
// lower-case partner in the original character set sort after everything else.
constexpr std::array<uint8_t, 256> kCatalogRank = {
      0,   1,   2,   3,   4,   5,   6,   7,   8,   9,  10,  11,  12,  13,  14,  15,  // 0x00
     16,  17,  18,  19,  20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31,  // 0x10
     32,  33,  34,  39,  40,  41,  42,  43,  46,  47,  48,  49,  50,  51,  52,  53,  // 0x20
     54,  55,  56,  57,  58,  59,  60,  61,  62,  63,  64,  65,  66,  67,  68,  69,  // 0x30
     70,  71,  81,  82,  84,  85,  90,  91,  92,  93,  98,  99, 100, 101, 102, 104,  // 0x40
    113, 114, 115, 116, 118, 119, 124, 125, 126, 127, 129, 130, 131, 132, 133, 134,  // 0x50
     77,  71,  81,  82,  84,  85,  90,  91,  92,  93,  98,  99, 100, 101, 102, 104,  // 0x60
    113, 114, 115, 116, 118, 119, 124, 125, 126, 127, 129, 135, 136, 137, 138, 139,  // 0x70
     73,  75,  83,  86, 103, 105, 120,  78,  72,  79,  73,  74,  75,  83,  86,  87,  // 0x80
     88,  89,  94,  95,  96,  97, 103, 109, 110, 111, 105, 106, 121, 122, 123, 120,  // 0x90
    140, 141, 142, 143, 144, 145, 146, 117, 147, 148, 149, 150, 151, 152,  76, 107,  // 0xA0
    153, 154, 155, 156, 157, 158, 159, 160, 161, 162, 163,  80, 112, 164,  76, 107,  // 0xB0
    165, 166, 167, 168, 169, 170, 171,  37,  38, 172,  32,  72,  74, 106, 108, 108,  // 0xC0
    173, 174,  35,  36,  44,  45, 175, 176, 128, 177, 178, 179, 180, 181, 182, 183,  // 0xD0
    184, 185, 186, 187, 188, 189, 190, 191, 192, 193, 194, 195, 196, 197, 198, 199,  // 0xE0
    200, 201, 202, 203, 204, 205, 206, 207, 208, 209, 210, 211, 212, 213, 214, 215,  // 0xF0
};

}  // namespace

uint8_t catalogRank(uint8_t c) { return kCatalogRank[c]; }

int compareNames(std::string_view a, std::string_view b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const int d = catalogRank(static_cast<uint8_t>(a[i])) - catalogRank(static_cast<uint8_t>(b[i]));
        if (d != 0) return d;
    }
    return (a.size() > b.size()) - (a.size() < b.size());
}

int compareNamesN(std::string_view a, std::string_view b, size_t n) {
    return compareNames(a.substr(0, std::min(n, a.size())), b.substr(0, std::min(n, b.size())));
}

int compareRecordName(std::string& name, const uint8_t* key, NameMatch match) {
    std::string_view stored(reinterpret_cast<const char*>(key + catkey::kName), catalogKeyNameLength(key));
    while (!stored.empty() && stored.back() == ' ') stored.remove_suffix(1);
    while (!name.empty() && name.back() == ' ') name.pop_back();

    const size_t star = match == NameMatch::Pattern ? name.find('*') : std::string::npos;
    if (star == std::string::npos) return compareNames(name, stored);
    if (star == 0) return 0;
    return compareNamesN(name, stored, star);
}

}  // namespace quarry

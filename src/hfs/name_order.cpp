#include "hfs/name_order.h"

#include <array>

#include "hfs/catalog_layout.h"

namespace quarry {
namespace {

struct WeightRun {
    uint8_t first;
    std::initializer_list<uint16_t> weights;
};

// The characters whose weight is not 16 times their value.
const WeightRun kExceptions[] = {
    {0x5B, {640}},  // [ sorts with (
    {0x5C, {0}},    // \ sorts with NUL
    {0x5D, {656}},  // ] sorts with )
    {0x60, {1046}},
    {0x80, {1042, 1044, 1073, 1105, 1249, 1265, 1361, 1047, 1041, 1048, 1042, 1043, 1044,
            1073, 1105, 1106, 1107, 1108, 1169, 1170, 1171, 1172,
            1249, 1269, 1270, 1271, 1265, 1266, 1362, 1363, 1364, 1361}},
    {0xAE, {1045, 1267}},
    {0xBB, {1049, 1272}},
    {0xBE, {1045, 1267}},
    {0xC7, {547, 548}},
    {0xCB, {1041, 1043, 1266, 1268, 1268}},
    {0xD2, {545, 546, 625, 626}},
    {0xD8, {1425}},
    {0xE5, {1048, 1107, 1047, 1108, 1106, 1169, 1171, 1172, 1170, 1269, 1271}},
    {0xF1, {1270, 1362, 1364, 1363}},
};

std::array<uint16_t, 256> makeWeights() {
    std::array<uint16_t, 256> w{};
    for (int b = 0; b < 256; ++b) w[b] = static_cast<uint16_t>(16 * b);
    for (int b = 'a'; b <= 'z'; ++b) w[b] = static_cast<uint16_t>(16 * (b - 0x20));
    for (const auto& run : kExceptions) {
        int b = run.first;
        for (uint16_t weight : run.weights) w[b++] = weight;
    }
    return w;
}

const std::array<uint16_t, 256> kWeights = makeWeights();

}  // namespace

uint16_t nameWeight(uint8_t c) { return kWeights[c]; }

int compareNames(const char* a, const char* b) {
    for (size_t i = 0;; ++i) {
        const int wa = nameWeight(static_cast<uint8_t>(a[i]));
        const int wb = nameWeight(static_cast<uint8_t>(b[i]));
        if (wa != wb) return wa - wb;
        const bool aEnded = a[i] == '\0' || a[i + 1] == '\0';
        const bool bEnded = b[i] == '\0' || b[i + 1] == '\0';
        if (aEnded && bEnded) return 0;
        if (aEnded) return -1;
        if (bEnded) return 1;
    }
}

int compareNamesN(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const int d = nameWeight(static_cast<uint8_t>(a[i])) - nameWeight(static_cast<uint8_t>(b[i]));
        if (d != 0) return d;
    }
    return 0;
}

int compareRecordName(std::string& name, const uint8_t* key) {
    char stored[kMaxNameLength + 1] = {};
    const size_t len = catalogKeyNameLength(key);
    for (size_t i = 0; i < len; ++i) stored[i] = static_cast<char>(key[catkey::kName + i]);
    size_t storedLen = len;
    while (storedLen > 0 && stored[storedLen - 1] == ' ') stored[--storedLen] = '\0';
    while (!name.empty() && name.back() == ' ') name.pop_back();

    const size_t star = name.find('*');
    if (star != std::string::npos) {
        if (star == 0) return 0;
        return compareNamesN(name.c_str(), stored, star);
    }
    return compareNames(name.c_str(), stored);
}

}  // namespace quarry

// Fuzz harness: a MacBinary header as the copy writes it, built from a catalog record and a
// name taken from the input, read back by a parser of its own that knows only the format.
//
// Input: one byte giving the name's length (any, so that names past 63 characters are made),
// the name, then the 102 bytes of the catalog file record (missing bytes are zero).

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "copy/fork_formats.h"
#include "hfs/byte_order.h"

namespace {

void expect(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quarry;
    if (size == 0) return 0;
    const size_t nameLength = std::min<size_t>(data[0], size - 1);
    std::array<uint8_t, 102> record{};
    const size_t rest = size - 1 - nameLength;
    std::memcpy(record.data(), data + 1 + nameLength, std::min(rest, record.size()));
    const uint8_t* rec = record.data();
    // The entry as the HFS volume decodes the record (filUsrWds, filFndrInfo, the lengths and
    // dates), with a name of any length.
    VolumeEntry file;
    file.macName.assign(reinterpret_cast<const char*>(data + 1), nameLength);
    std::memcpy(file.finderInfo.data(), rec + 4, 16);
    std::memcpy(file.extendedFinderInfo.data(), rec + 56, 16);
    file.data.logical = loadBE32(rec + 26);
    file.rsrc.logical = loadBE32(rec + 36);
    file.created.macSeconds = loadBE32(rec + 44);
    file.modified.macSeconds = loadBE32(rec + 48);

    const auto h = MacBinaryHeader(file);
    expect(h.size() == 128);
    // MacBinary I: bytes 0, 74 and 82 are zero, and so is everything from 99 on.
    expect(h[0] == 0 && h[74] == 0 && h[82] == 0);
    for (size_t i = 99; i < 128; ++i) expect(h[i] == 0);
    // The name: leading blanks dropped, at most 63 characters, zero padding after it.
    const size_t first = std::min(file.macName.find_first_not_of(' '), file.macName.size());
    const std::string name = file.macName.substr(first, 63);
    expect(h[1] == name.size());
    expect(std::memcmp(h.data() + 2, name.data(), name.size()) == 0);
    for (size_t i = 2 + name.size(); i < 65; ++i) expect(h[i] == 0);
    // Type, creator, the Finder flags' high byte and the window location from the Finder info.
    expect(std::memcmp(h.data() + 65, rec + 4, 8) == 0);
    expect(h[73] == rec[12]);
    expect(std::memcmp(h.data() + 75, rec + 14, 4) == 0);
    expect(h[79] == 0 && h[80] == 0 && h[81] == 0);  // folder ID and the protected flag: not kept
    // Fork lengths (filLgLen, filRLgLen) and the dates (filCrDat, filMdDat).
    expect(loadBE32(h.data() + 83) == loadBE32(rec + 26));
    expect(loadBE32(h.data() + 87) == loadBE32(rec + 36));
    expect(loadBE32(h.data() + 91) == loadBE32(rec + 44));
    expect(loadBE32(h.data() + 95) == loadBE32(rec + 48));
    return 0;
}

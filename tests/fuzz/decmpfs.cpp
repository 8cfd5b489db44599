// Fuzz harness: a compressed file as the HFS+ reader hands it over, the "com.apple.decmpfs"
// attribute and the resource fork.
//
// Input: two bytes giving the attribute's length (little-endian; at most 4096 bytes are taken,
// as an inline attribute record holds less than that), the attribute, then the resource fork.
// The first 8 chunks are read one by one, and a few windows across chunk ends; each read gives
// the bytes or a fault.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "hfsplus/decmpfs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quarry;
    if (size < 2) return 0;
    const size_t attributeLength = std::min<size_t>({size_t{data[0]} | size_t{data[1]} << 8, size - 2, 4096});
    const std::span<const uint8_t> attribute(data + 2, attributeLength);
    const std::span<const uint8_t> fork(data + 2 + attributeLength, size - 2 - attributeLength);
    ResourceForkSource source{fork.size(), [fork](uint64_t offset, std::span<uint8_t> out) -> Status {
                                  if (offset > fork.size() || out.size() > fork.size() - offset)
                                      __builtin_trap();  // the decoder must stay inside the fork's length
                                  std::memcpy(out.data(), fork.data() + offset, out.size());
                                  return Status::ok();
                              }};
    auto file = CompressedFile::open(attribute, source);
    if (!file) return 0;
    const size_t chunks = std::min<size_t>(file->chunkCount(), 8);
    for (size_t i = 0; i < chunks; ++i) (void)file->chunk(i);
    std::vector<uint8_t> window(300);
    for (uint64_t at : {uint64_t{0}, decmpfs::kChunkSize - 100, file->size() / 2, file->size() - std::min<uint64_t>(file->size(), 300)}) {
        if (at > file->size()) continue;
        const size_t length = static_cast<size_t>(std::min<uint64_t>(window.size(), file->size() - at));
        (void)file->read(at, std::span(window.data(), length));
    }
    return 0;
}

#pragma once
// DART images: the Disk Archive/Retrieval Tool that Apple used for its own floppies kept a disk
// as a small header and then the disk in chunks of 40 sectors, each chunk packed on its own
// ("fast": a run-length code of 16-bit words; "best": LZSS with an adaptive Huffman code) or
// stored as it is. A chunk holds its 40 sectors' 512 data bytes and then their 12-byte tags.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "common/result.h"
#include "device/containers/image_source.h"

namespace quarry {

// Whether the file's first bytes are a DART header whose kinds and chunk lengths fit together:
// a known packing, a known kind of disk of its size, and a length for each of its chunks that a
// chunk of that packing can have. The file's length is not asked to fit, so that a file cut
// short is still opened as DART and refused with its damage.
bool looksLikeDart(const uint8_t* head, size_t length);

// The disk's 512-byte sectors without their tags, read-only. A header that does not fit the file
// is refused; a chunk that does not unpack leaves its 40 sectors unreadable and is named in the
// warnings, and the rest of the disk is served.
Result<OpenedImage> openDart(std::shared_ptr<FileHandle> file, uint64_t fileSize);

// The two packings of a chunk. Each fills `out` exactly from `in`, or says why it cannot; it
// never reads or writes outside the spans.
Status unpackDartFast(std::span<const uint8_t> in, std::span<uint8_t> out);
Status unpackDartBest(std::span<const uint8_t> in, std::span<uint8_t> out);

}  // namespace quarry

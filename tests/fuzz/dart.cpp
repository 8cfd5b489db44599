// Fuzz harness: a DART image, as the file opened.
//
// Input: the file's bytes. A header that is not DART's, or does not fit the file, is refused;
// otherwise every chunk is unpacked at open, and every sector of the disk is then read, each
// either served or failing with its chunk's fault, never reading or writing outside a buffer.
// A file rarely keeps its chunk lengths adding up to its size under mutation, so the bytes are
// also unpacked as one chunk of each packing.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "device/containers/dart.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int fd = memfd_create("fuzz-dart", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0) __builtin_trap();
    for (size_t done = 0; done < size;) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) __builtin_trap();
        done += static_cast<size_t>(n);
    }
    std::vector<uint8_t> chunk(20960);
    (void)quarry::unpackDartFast(std::span(data, size), chunk);
    (void)quarry::unpackDartBest(std::span(data, size), chunk);
    if (!quarry::looksLikeDart(data, size)) return 0;
    auto file = std::make_shared<quarry::FileHandle>(dup(fd));
    quarry::Result<quarry::OpenedImage> image = quarry::openDart(file, size);
    if (!image) return 0;
    // At most a 1440K disk, whatever the header says.
    if (image->source->size() > 1440 * 1024) __builtin_trap();
    std::vector<uint8_t> sector(512);
    for (uint64_t at = 0; at < image->source->size(); at += sector.size()) (void)image->source->read(at, sector.size(), sector.data());
    return 0;
}

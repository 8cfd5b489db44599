// Fuzz harness: a PC file that PUT reads, recognised as MacBinary, AppleSingle, BinHex or an
// AppleDouble "._" file, or as none of them; every fork found is read to its end.
//
// Input: the file's bytes. It is read through a memory file, so the readers open it by path as
// they open any PC file.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/containers/fork_readers.h"

namespace {

void expect(bool condition) {
    if (!condition) __builtin_trap();
}

// Reads the fork whole: exactly its length, in chunks of at most 1 MB.
void readWhole(const quarry::ForkBytes& fork, size_t fileSize) {
    if (!fork.inMemory && fork.length > 0) expect(fork.offset <= fileSize && fork.length <= fileSize - fork.offset);
    uint64_t seen = 0;
    const quarry::Status read = quarry::ForEachForkChunk(fork, [&](const uint8_t*, size_t length) {
        expect(length > 0 && length <= (1u << 20));
        seen += length;
        return quarry::Status::ok();
    });
    expect(!read || seen == (fork.inMemory ? fork.decoded.size() : fork.length));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quarry;
    // BinHex's runs let a text stand for about a hundred times its size, all of it decoded into
    // memory; longer inputs would meet the fuzz run's memory limit and find nothing more.
    if (size > 65536) return 0;
    const int fd = memfd_create("forms", 0);
    if (fd < 0) return 0;
    size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, data + written, size - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (Result<std::optional<MacFileParts>> parts = ReadMacFile(path); parts && *parts) {
        expect((*parts)->macName.size() <= 255);
        readWhole((*parts)->data, size);
        readWhole((*parts)->rsrc, size);
    }
    // The same bytes as the "._" file of a pair whose data file is the input itself.
    if (Result<std::optional<MacFileParts>> pair = ReadAppleDouble(path, path); pair && *pair) {
        readWhole((*pair)->rsrc, size);
        expect((*pair)->data.length == size);
    }
    close(fd);
    return 0;
}

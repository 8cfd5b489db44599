// Fuzz harness: the first bytes of a medium, for the partition scan.
//
// Input: the medium itself (reads past its end are faults, as an image adapter's are). Every
// volume found must lie where the scan says: its start and length, and the volume inside a
// wrapper, inside the partition.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "device/partition_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quarry;
    const MediumRead read = [data, size](uint64_t offset, std::span<uint8_t> out) -> Status {
        if (offset > size || out.size() > size - offset) return Fault{"past the medium"};
        std::memcpy(out.data(), data + offset, out.size());
        return Status::ok();
    };
    auto found = scanPartitions(size, read);
    if (!found) return 0;
    for (const FoundVolume& v : *found) {
        if (v.kind == VolumeKind::WrappedHfsPlus &&
            (v.volumeStart < v.start || v.volumeLength > v.length || v.volumeStart - v.start > v.length - v.volumeLength))
            __builtin_trap();
        if (v.scheme == PartitionScheme::Bare && (v.start != 0 || v.length != size)) __builtin_trap();
    }
    return 0;
}

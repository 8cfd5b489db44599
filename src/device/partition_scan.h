#pragma once
// Finding the volumes on a medium. A disk or CD image holds either one volume from its first
// byte ("bare"), or a partition map that divides it: the Apple partition map of Macintosh disks
// and hybrid CDs, the GUID partition table of Intel Macs, or the PC's master boot record. Each
// partition is then recognised by its own signature, at byte 1024 of the partition for the HFS
// family and MFS, at byte 32 for an APFS container.
//
// The scan is a pure function of the medium's bytes, read through a callback, so that it serves
// the mount and the tests alike. Every count and offset read from a map is checked against the
// medium before it is used; a map with absurd counts is refused with a message.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"

namespace quarry {

enum class PartitionScheme {
    Bare,       // no map: the medium is one volume
    AppleMap,   // driver descriptor "ER" at byte 0, map entries "PM"
    Gpt,        // "EFI PART" header in the second sector (of 512 or 4096 bytes)
    Mbr,        // 0x55AA at byte 510, four entries at byte 446
};

enum class VolumeKind {
    Hfs,             // "BD": classic HFS
    WrappedHfsPlus,  // "BD" whose MDB embeds an HFS+ volume ("H+" at MDB offset 0x7C)
    HfsPlus,         // "H+", version 4
    Hfsx,            // "HX", version 5
    Mfs,             // 0xD2D7
    Apfs,            // "NXSB" at byte 32
    Other,           // a partition whose content is none of these
};

struct FoundVolume {
    PartitionScheme scheme = PartitionScheme::Bare;
    uint32_t index = 0;       // as the scheme numbers it: map entry 1.., GPT entry 1.., MBR 1-4; 0 when bare
    uint64_t start = 0;       // the partition's first byte on the medium
    uint64_t length = 0;      // its bytes
    std::string name;         // Apple map pmPartName, GPT name (UTF-8); empty for MBR and bare
    std::string type;         // Apple map pmParType ("Apple_HFS"), GPT type GUID text, MBR "0xAF"
    VolumeKind kind = VolumeKind::Other;
    // Where the volume itself lies: the partition, or for a wrapped HFS+ volume the HFS+ volume
    // inside the wrapper (its header at volumeStart + 1024).
    uint64_t volumeStart = 0;
    uint64_t volumeLength = 0;
    std::string note;         // what is odd about the entry, as a sentence; empty when nothing
};

// Reads `out.size()` bytes at a byte offset of the medium; a fault when they cannot be read.
using MediumRead = std::function<Status(uint64_t offset, std::span<uint8_t> out)>;

// The volumes of a medium of `mediumBytes` bytes, in the map's order (the map's own entries
// included: an Apple map lists itself and its drivers, which come back as kind Other). A bare
// medium gives one entry when it holds a volume of a known kind, none otherwise. A map that
// cannot be read, or whose counts or offsets lie past what the medium or the format allows, is
// a fault that names the map and the field.
Result<std::vector<FoundVolume>> scanPartitions(uint64_t mediumBytes, const MediumRead& read);

// What a partition holds, from its own signature: the kind, and for a wrapped HFS+ volume the
// embedded volume's place (volumeStart and volumeLength are set to the partition's otherwise).
// `volume` names the partition's start and length; the kind, volume place and note are filled in.
void recogniseVolume(FoundVolume& volume, const MediumRead& read);

const char* schemeName(PartitionScheme scheme);
const char* kindName(VolumeKind kind);

}  // namespace quarry

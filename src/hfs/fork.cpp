#include "hfs/fork.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "hfs/btree.h"

namespace quarry {
namespace {

// Whole 2048-byte blocks per transfer request.
constexpr uint32_t kBlocksPerRequest = 8;
constexpr uint32_t kSectorsPerCdBlock = kCdBlockSize / kSectorSize;

std::string sectorFault(uint32_t sector, uint16_t status) {
    return "read error at sector " + std::to_string(sector) + " (status " + std::to_string(status) + ")";
}

// Checks an extent against the volume's allocation blocks, so that a damaged record cannot send
// reads past the end of the volume.
Status checkExtent(const VolumeState& volume, uint16_t start, uint16_t count) {
    const uint32_t blocks = volume.mdb16(mdb::kAllocBlocks);
    if (uint32_t{start} + count > blocks)
        return Fault{"extent of " + std::to_string(count) + " blocks at block " + std::to_string(start) +
                     " lies past the end of the volume (" + std::to_string(blocks) + " blocks)"};
    return Status::ok();
}

}  // namespace

namespace {

// Appends byteCount bytes of the medium from 512-byte sector `sector` on, read through the drive.
Status readSectorsToFile(const VolumeContext& context, ByteSink& sink, uint32_t sector, uint32_t byteCount,
                         UnreadableSectors* zeroFill) {
    DeviceState& device = context.device;
    const VolumeState& volume = context.volume;
    uint32_t sectors = (byteCount + kSectorSize - 1) / kSectorSize;
    uint32_t wanted = byteCount;
    const bool showProgress = sectors > 5u * device.transferSectors;
    std::vector<uint8_t> buffer(std::max<size_t>(size_t{device.transferSectors} * kSectorSize,
                                                 size_t{kBlocksPerRequest} * kCdBlockSize));

    auto put = [&](const uint8_t* data, uint32_t available) -> Status {
        const uint32_t n = std::min(available, wanted);
        if (n > 0 && !sink.write(data, n)) return Fault{"cannot write: " + sink.error()};
        wanted -= n;
        return Status::ok();
    };
    auto readSingle = [&]() -> Status {
        const uint16_t status = volume.pastImageEnd(sector, 1) ? uint16_t{aspi::kError} : ReadSector(device, sector, buffer.data());
        if (status != 0) {
            context.ui.beep();
            if (!zeroFill) return Fault{sectorFault(sector, status)};
            std::fill_n(buffer.begin(), kSectorSize, uint8_t{0});
            zeroFill->sectors.push_back(sector);
        }
        Status written = put(buffer.data(), kSectorSize);
        ++sector;
        --sectors;
        return written;
    };

    while (sector % kSectorsPerCdBlock != 0 && sectors > 0) {
        if (Status s = readSingle(); !s) return s;
    }
    const uint32_t totalBlocks = sectors / kSectorsPerCdBlock;
    uint32_t block = sector / kSectorsPerCdBlock;
    uint32_t blocksLeft = totalBlocks;
    while (blocksLeft > 0) {
        context.ui.stepWaitCursor();
        if (showProgress) context.ui.paintProgressBar(blocksLeft, totalBlocks);
        const auto count = static_cast<uint16_t>(std::min(blocksLeft, kBlocksPerRequest));
        SectorRequest request{cmd::kRead6, device.hostAdapterId, device.targetId, block, count, buffer.data()};
        const uint16_t status = volume.pastImageEnd(uint64_t{block} * kSectorsPerCdBlock, uint64_t{count} * kSectorsPerCdBlock)
                                    ? uint16_t{aspi::kError}
                                    : TransferCdBlocks(device, request);
        block += count;
        blocksLeft -= count;
        if (status != 0) {
            // The run failed somewhere; read it again a sector at a time, so that the fault
            // names the first sector that is really unreadable, and only such sectors become
            // zeros.
            sector = (block - count) * kSectorsPerCdBlock;
            for (uint32_t i = 0; i < uint32_t{count} * kSectorsPerCdBlock; ++i) {
                if (Status s = readSingle(); !s) return s;
            }
            continue;
        }
        if (Status s = put(buffer.data(), uint32_t{count} * kCdBlockSize); !s) return s;
    }
    sector = block * kSectorsPerCdBlock;
    sectors %= kSectorsPerCdBlock;
    while (sectors > 0) {
        if (Status s = readSingle(); !s) return s;
    }
    return Status::ok();
}

// The kernel copies this much between two looks at Esc and the progress bar.
constexpr uint64_t kKernelCopyPiece = 16 * 1024 * 1024;

// Appends the run by the kernel's copy as far as the sink and the kernel take it, and returns how
// many bytes that was; the caller reads the rest.
Result<uint64_t> copyRunByKernel(const VolumeContext& context, ByteSink& sink, const MediumFile& medium, const ForkRun& run) {
    const bool showProgress = run.length > 5u * context.device.transferSectors * kSectorSize;
    uint64_t done = 0;
    while (done < run.length) {
        context.ui.stepWaitCursor();
        if (showProgress)
            context.ui.paintProgressBar(static_cast<uint32_t>((run.length - done + kCdBlockSize - 1) / kCdBlockSize),
                                        static_cast<uint32_t>((run.length + kCdBlockSize - 1) / kCdBlockSize));
        const uint64_t piece = std::min<uint64_t>(kKernelCopyPiece, run.length - done);
        Result<bool> copied = sink.copyFromFile(medium.fd, medium.start + run.mediumOffset + done, piece);
        if (!copied) return Fault{"cannot write: " + copied.fault()};
        if (!*copied) break;
        done += piece;
    }
    return done;
}

}  // namespace

Status readBlocksToFile(const VolumeContext& context, ByteSink& sink, uint32_t startBlock, uint32_t byteCount,
                        UnreadableSectors* zeroFill) {
    const VolumeState& volume = context.volume;
    // Runs are counted in 512-byte sectors whatever block size a driver descriptor announced:
    // sector numbers on this path are always 512-byte units.
    return readSectorsToFile(context, sink, static_cast<uint32_t>(volume.firstBlockSector) + startBlock * volume.sectorsPerBlock,
                             byteCount, zeroFill);
}

Result<std::vector<ForkRun>> forkRuns(const VolumeContext& context, const ExtentRecord& first, uint32_t fileID,
                                      uint32_t byteCount, uint8_t forkType) {
    const VolumeState& volume = context.volume;
    std::vector<ForkRun> runs;
    uint32_t remaining = byteCount;
    uint32_t blocks = 0;
    ExtentRecord record = first;
    while (remaining > 0) {
        const uint32_t blocksBefore = blocks;
        for (int i = 0; i < 3 && remaining > 0; ++i) {
            const uint16_t start = extentStart(record, i);
            const uint16_t count = extentCount(record, i);
            if (count == 0) break;
            if (Status s = checkExtent(volume, start, count); !s) return Fault{s.fault()};
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{count} * volume.allocBlockSize, remaining));
            const uint64_t sector = static_cast<uint64_t>(volume.firstBlockSector) + uint64_t{start} * volume.sectorsPerBlock;
            runs.push_back({sector * kSectorSize, uint64_t{byteCount} - remaining, n});
            remaining -= n;
            blocks += count;
        }
        if (remaining == 0) break;
        // A record that covers no block would be found again at the same position forever.
        if (blocks == blocksBefore) return Fault{"file " + std::to_string(fileID) + ": extent record covers no blocks"};
        auto next = findExtentRecord(context, fileID, blocks, forkType);
        if (!next) {
            if (!volume.extents.fault.empty()) return Fault{volume.extents.fault};
            break;  // the fork's extents end before its length: copied as far as they go
        }
        record = *next;
    }
    return runs;
}

Status readForkToFile(const VolumeContext& context, const ExtentRecord& first, ByteSink& sink, uint32_t fileID,
                      uint32_t byteCount, uint8_t forkType, UnreadableSectors* zeroFill) {
    Result<std::vector<ForkRun>> runs = forkRuns(context, first, fileID, byteCount, forkType);
    if (!runs) return Fault{runs.fault()};
    // A copy that writes zeros for what cannot be read goes through the drive, which tells it so.
    std::optional<MediumFile> medium = zeroFill ? std::nullopt : SelectedMediumFile(context.device);
    // A fork that runs past the end of a cut-short image goes through the drive whole, checked
    // before any of it is copied: what lies past the end is the image adapter's to refuse, as it
    // is for every other read, and the copy says so as it would without the kernel's help.
    if (medium && std::any_of(runs->begin(), runs->end(), [&](const ForkRun& r) { return r.mediumOffset + r.length > medium->size; }))
        medium.reset();
    for (const ForkRun& run : *runs) {
        uint64_t done = 0;
        if (medium) {
            Result<uint64_t> copied = copyRunByKernel(context, sink, *medium, run);
            if (!copied) return Fault{copied.fault()};
            done = *copied;
        }
        if (done == run.length) continue;
        // What the kernel did not copy is read a piece at a time; it stopped at a whole piece,
        // so the rest starts on a sector.
        if (Status s = readSectorsToFile(context, sink, static_cast<uint32_t>((run.mediumOffset + done) / kSectorSize),
                                         static_cast<uint32_t>(run.length - done), zeroFill);
            !s)
            return s;
    }
    return Status::ok();
}

std::optional<ExtentRecord> findExtentRecord(const VolumeContext& context, uint32_t fileID, uint32_t startBlock, uint8_t forkType) {
    VolumeState& volume = context.volume;
    BTreeFile& tree = volume.extents;
    startSearch(tree);
    // A tree whose load failed has no work file: it is loaded (and refused) again here.
    if (!tree.hasWorkFile()) {
        if (!copyExtentsTree(context)) return std::nullopt;
    }
    uint8_t* head = tree.header.data();
    if (loadBE32(head + header::kFreeNodes) > loadBE32(head + header::kTotalNodes)) storeBE32(head + header::kFreeNodes, 0);

    uint32_t n = loadBE32(head + header::kFirstLeaf);
    ChainGuard guard(tree.nodeCount());
    // Node 0 is the header: a first leaf of 0 means the tree holds no records.
    while (n != 0) {
        if (!guard.visit(n)) {
            treeFault(tree, "extents node " + std::to_string(tree.nodeNumber) + ": leaf chain loops back to node " + std::to_string(n));
            return std::nullopt;
        }
        const uint8_t* nd = readNode(n, tree);
        if (!nd) return std::nullopt;
        if (nodeType(nd) != node::kTypeLeaf) {
            treeFault(tree, "extents node " + std::to_string(n) + ": leaf chain reaches a node that is not a leaf");
            return std::nullopt;
        }
        const uint16_t count = nodeRecordCount(nd);
        for (uint16_t i = 0; i < count; ++i) {
            const uint8_t* key = nd + nodeRecordOffset(nd, i);
            if (loadBE32(key + extkey::kFileId) == fileID && loadBE16(key + extkey::kStartBlock) == startBlock &&
                key[extkey::kForkType] == forkType) {
                const ExtentRecord record = extentRecordAt(key + extkey::kRecordData);
                // A record that sends a fork past the end of the volume is damage of this tree,
                // named where it lies.
                for (int e = 0; e < 3 && extentCount(record, e) != 0; ++e) {
                    if (Status s = checkExtent(volume, extentStart(record, e), extentCount(record, e)); !s) {
                        treeFault(tree, "extents node " + std::to_string(n) + ": record " + std::to_string(i) + ": " + s.fault());
                        return std::nullopt;
                    }
                }
                return record;
            }
        }
        n = nodeForwardLink(nd);
    }
    return std::nullopt;
}

uint32_t forkSectorAt(const VolumeContext& context, uint32_t index, const ExtentRecord& first, uint32_t fileID, uint8_t forkType) {
    const VolumeState& volume = context.volume;
    if (volume.sectorsPerBlock == 0) return 0;
    uint32_t passed = 0;
    ExtentRecord record = first;
    // Each continuation record covers at least one block, so the lookups are bounded by the
    // number of allocation blocks on the volume.
    for (uint32_t guard = 0; guard <= volume.mdb16(mdb::kAllocBlocks); ++guard) {
        for (int i = 0; i < 3; ++i) {
            const uint32_t length = uint32_t{extentCount(record, i)} * volume.sectorsPerBlock;
            if (length > 0 && passed + length > index)
                return static_cast<uint32_t>(volume.firstBlockSector) + extentStart(record, i) * volume.sectorsPerBlock +
                       (index - passed);
            passed += length;
        }
        auto next = findExtentRecord(context, fileID, passed / volume.sectorsPerBlock, forkType);
        if (!next) return 0;
        record = *next;
    }
    return 0;
}

}  // namespace quarry

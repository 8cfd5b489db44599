#pragma once
// The journal of an HFS+ volume, replayed in memory. A Mac that stops before it has written a
// transaction home leaves the transaction in the journal, and the next Mac to mount the volume
// writes it then. Quarry never writes: it reads the transactions and shows the volume through
// them, as that Mac would see it, while the medium stays as it is.

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"
#include "hfsplus/medium.h"

namespace quarry::hfsplus {

// The journal's header, whose fields are in the byte order of the Mac that wrote it.
struct JournalHeader {
    uint64_t start = 0;          // the oldest transaction not yet written home, from the journal's beginning
    uint64_t end = 0;            // where the next would go; start == end: nothing pending
    uint64_t size = 0;           // bytes of the journal, its header block included
    uint32_t blockListSize = 0;  // bytes of each block list header
    uint32_t unit = 0;           // bytes of the header block, and the unit of home block numbers
};
// Reads the header from the journal's first bytes: its magic, byte order and checksum.
Result<JournalHeader> parseJournalHeader(std::span<const uint8_t> bytes);

// Every unit of the volume that the pending transactions write, in its newest version, keyed by
// its number (units of `unit` bytes from the volume's start).
struct PendingBlocks {
    uint32_t unit = 0;
    std::map<uint64_t, std::vector<uint8_t>> units;
    uint32_t blockLists = 0;
};
// Reads the transactions between the header's start and end. The journal lies at byte
// `journalOffset` of the volume, which begins at `volumeStart` of the medium. Any damage (a
// checksum that does not match, a block outside the volume, a list running past the journal)
// refuses the whole replay: half a transaction would show a volume no Mac ever saw.
Result<PendingBlocks> readPendingBlocks(Medium& medium, uint64_t volumeStart, uint64_t volumeBytes, uint64_t journalOffset,
                                        const JournalHeader& header);

// A medium seen through the journal: the pending units in place of what the medium holds there.
class JournalMedium : public Medium {
public:
    JournalMedium(Medium& base, uint64_t volumeStart, PendingBlocks pending)
        : base_(base), volumeStart_(volumeStart), pending_(std::move(pending)) {}
    Status read(uint64_t offset, std::span<uint8_t> out) override;
    uint64_t size() const override { return base_.size(); }
    uint32_t blockLists() const { return pending_.blockLists; }

private:
    Medium& base_;
    uint64_t volumeStart_;
    PendingBlocks pending_;
};

}  // namespace quarry::hfsplus

// Fuzz harness: the input is an HFS+ or HFSX volume (bare, or inside an HFS wrapper) from its
// first byte on, mounted by the HFS+ reader and walked as README.md says.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/image_input.h"
#include "hfsplus/journal.h"
#include "hfsplus/volume.h"
#include "hfsplus/volume_check.h"

namespace quarry {
namespace {

using fuzz::kMaxDepth, fuzz::kMaxEntries;
constexpr uint64_t kAttributeLimit = 1u << 20;

struct Walk {
    hfsplus::Volume& volume;
    int entries = 0;
    uint64_t readBudget = fuzz::kReadBudget;

    void readFork(hfsplus::ForkReader reader) {
        const uint64_t length = std::min(reader.length(), readBudget);
        if (length == 0) return;
        readBudget -= length;
        fuzz::DiscardSink sink;
        Status s = reader.copyTo(sink, 0, length);
        if (s && sink.written != length) __builtin_trap();
        if (!s && sink.written > length) __builtin_trap();
        (void)reader.runs();
    }

    void file(const hfsplus::CatalogRecord& r) {
        readFork(volume.fork(r, hfsplus::ForkKind::Data));
        readFork(volume.fork(r, hfsplus::ForkKind::Resource));
        (void)volume.resolveLink(r);
        (void)volume.symlinkTarget(r);
        Result<std::vector<hfsplus::Attribute>> attributes = volume.attributes(r.id);
        if (!attributes) return;
        for (const hfsplus::Attribute& a : *attributes) {
            Result<std::vector<uint8_t>> bytes = volume.attributeBytes(r.id, a, std::min(kAttributeLimit, readBudget));
            if (bytes) readBudget -= std::min<uint64_t>(readBudget, bytes->size());
        }
    }

    void folder(uint32_t id, int depth) {
        std::vector<hfsplus::CatalogRecord> here;
        (void)volume.forEachEntry(id, [&](const hfsplus::CatalogRecord& r) {
            here.push_back(r);
            return ++entries < kMaxEntries;
        });
        // Each entry's name finds an entry again, its first two characters and '*' one that they
        // match, and its ID the entry itself.
        for (size_t i = 0; i < here.size() && i < 8; ++i) {
            const hfsplus::CatalogRecord& r = here[i];
            Result<std::optional<hfsplus::CatalogRecord>> same = volume.lookup(id, r.name);
            if (same && !same->has_value()) __builtin_trap();
            const std::string pattern = r.name.substr(0, 2) + "*";
            Result<std::optional<hfsplus::CatalogRecord>> match = volume.lookup(id, pattern);
            if (match && match->has_value() &&
                !hfsplus::NamePattern(pattern, volume.comparison()).matches((*match)->storedName))
                __builtin_trap();
            (void)volume.record(r.id);
        }
        for (const hfsplus::CatalogRecord& r : here) {
            if (r.isFolder()) {
                if (depth < kMaxDepth) folder(r.id, depth + 1);
            } else {
                file(r);
            }
        }
    }
};

// A pending journal replays or is refused; replayed, the medium read through it differs from
// the medium only in the units its transactions write.
void replay(hfsplus::Medium& medium, const hfsplus::Volume& v) {
    const hfsplus::VolumeFigures& f = v.figures();
    if (!f.journalPending) return;
    const uint64_t start = v.geometry().start;
    std::vector<uint8_t> head(hfsplus::journal::kHeaderFixed);
    if (!medium.read(start + f.journalOffset, head)) return;
    Result<hfsplus::JournalHeader> header = hfsplus::parseJournalHeader(head);
    if (!header) return;
    Result<hfsplus::PendingBlocks> pending = hfsplus::readPendingBlocks(medium, start, f.volumeBytes, f.journalOffset, *header);
    if (!pending) return;
    const hfsplus::PendingBlocks units = *pending;
    hfsplus::JournalMedium through(medium, start, std::move(*pending));
    std::vector<uint8_t> plain(64 * 1024), replayed(plain.size());
    if (!medium.read(start, plain) || !through.read(start, replayed)) return;
    for (size_t at = 0; at < plain.size(); at += units.unit) {
        const auto unit = units.units.find(at / units.unit);
        const uint8_t* expected = unit == units.units.end() ? &plain[at] : unit->second.data();
        if (!std::equal(expected, expected + units.unit, &replayed[at])) __builtin_trap();
    }
}

}  // namespace
}  // namespace quarry

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quarry;
    test::RecordingUi ui;
    DeviceState device;
    ScsiBus bus;
    ScsiDeviceTable table;
    if (!fuzz::selectInput(data, size, device, bus, table, ui)) return 0;
    hfsplus::DeviceMedium medium(device);
    Result<std::unique_ptr<hfsplus::Volume>> volume = hfsplus::Volume::open(medium, 0);
    if (!volume) return 0;
    hfsplus::Volume& v = **volume;
    Walk walk{v};
    walk.folder(hfsplus::cnid::kRootFolder, 0);
    if (v.figures().totalBlocks <= (64u << 20)) (void)v.usedBlockCount();
    (void)v.blockInUse(v.figures().totalBlocks / 2);
    (void)hfsplus::checkVolume(medium, v);
    fuzz::expectEachOnce(v.damage());
    replay(medium, v);
    return 0;
}

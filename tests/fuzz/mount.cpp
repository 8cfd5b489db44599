// Fuzz harness: the input is a disk image, mounted as an image file named on the command line is;
// then everything a person can do to a volume without changing it is done to it (README.md).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/file_list.h"
#include "app/mount.h"
#include "app/navigation.h"
#include "app/session.h"
#include "dump/dump_model.h"
#include "fuzz/image_input.h"
#include "hfs/btree.h"
#include "hfs/volume_check.h"

namespace quarry {
namespace {

using fuzz::kMaxDepth, fuzz::kMaxEntries;
constexpr int kMaxDumps = 6;
constexpr size_t kPatternsPerFolder = 8;

struct Walk {
    Session& session;
    int entries = 0;
    int dumps = 0;
    uint64_t readBudget = fuzz::kReadBudget;

    void readFork(const VolumeEntry& file, ForkKind fork) {
        std::unique_ptr<ForkReader> reader = session.mounted->openFork(file, fork);
        // A fork past what is left of the budget is not read: a hostile length would make the
        // run take as long as the fork claims.
        const uint64_t length = reader->length();
        if (length == 0 || length > readBudget) return;
        fuzz::DiscardSink sink;
        (void)reader->copyTo(sink);
        // Never more than asked for; fewer when the fork's extents end before its length.
        if (sink.written > length) __builtin_trap();
        readBudget -= length;
    }

    void dump(const std::string& name) {
        DumpModel model;
        if (openDump(session, model, name) != DumpOpen::Shown) return;
        readFork(model.file, ForkKind::Data);
        readFork(model.file, ForkKind::Resource);
        if (++dumps > kMaxDumps) return;
        for (int command : {dumpcmd::kResource, dumpcmd::kData, dumpcmd::kHexadecimal, dumpcmd::kAsciiDos}) {
            dumpCommand(session, model, command);
            for (ScrollRequest r : {ScrollRequest::PageDown, ScrollRequest::LineDown, ScrollRequest::Bottom,
                                    ScrollRequest::LineUp, ScrollRequest::Top}) {
                scrollDump(session, model, r);
            }
            scrollDump(session, model, ScrollRequest::Thumb, model.scrollMaximum / 2);
            for (int line = 0; line < kDumpLineCount; ++line) dumpLineToUtf8(dumpLine(model, line));
        }
    }

    void folder(int depth) {
        BuildFileList(session, nullptr);
        const FileList& list = session.settings.list;
        std::vector<std::pair<std::string, bool>> here;
        for (uint16_t i = 0; i < list.entryCount && entries < kMaxEntries; ++i, ++entries)
            here.emplace_back(list.entries[i].name(), list.entries[i].isFolder());
        // The first names' first two characters as patterns: the walk starts where the index
        // leads and yields matches only.
        const bool hfs = session.mounted->format() == VolumeFormat::Hfs;
        for (size_t i = 0; hfs && i < here.size() && i < kPatternsPerFolder; ++i) {
            const std::string pattern = here[i].first.substr(0, 2) + "*";
            walkFolder(
                session.volume, session.dir.currentDirID,
                [&](const uint8_t* key) {
                    std::string p = pattern;
                    if (compareRecordName(p, key) != 0) __builtin_trap();
                    return true;
                },
                pattern);
        }
        for (const auto& [name, isFolder] : here) {
            if (session.ending) return;
            if (!isFolder) {
                dump(name);
            } else if (depth < kMaxDepth && enterDirectory(session, name, NameMatch::Exact)) {
                folder(depth + 1);
                changeToParent(session);
            }
        }
    }
};

}  // namespace
}  // namespace quarry

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quarry;
    test::RecordingUi ui;
    Session session{ui};
    ScsiBus bus;
    ScsiDeviceTable table;
    if (!fuzz::selectInput(data, size, session.device, bus, table, ui)) return 0;
    session.device.deviceBlockSize = 512;
    // An MFS volume shows its Desktop file's folders, which reads that file too; without one it
    // is the flat list all the same.
    session.settings.mfsFolders = true;
    initVolumeBuffers(session);
    if (mountVolume(session) != 1) return 0;

    Walk walk{session};
    walk.folder(0);
    // HFS's own check reads the session's trees; the other formats check themselves.
    if (session.mounted->format() == VolumeFormat::Hfs) checkVolume(session.volumeContext());
    else (void)session.mounted->check();
    fuzz::expectEachOnce(TakeMountNotices(session));
    // Nothing more at a second take.
    fuzz::expectEachOnce(TakeDamageReports(session));
    if (!TakeDamageReports(session).empty()) __builtin_trap();
    return 0;
}

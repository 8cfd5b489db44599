// Read-side benchmarks over real volumes made by bench/make_volumes.sh:
//   mount plus a listing of every folder of a volume with 20,000 files;
//   one 200 MB data fork read into a file;
//   lookups by name of 20,000 files with mixed-case, punctuated, accented names;
//   and, beside each, a plain sequential copy of the image file (what `cat` does);
// and the changing commands on a volume of 20,000 files: a folder of 1,000 files deleted in
// one change, and 1,000 folders made one change (one commit) each, as quarry-cli's MD lines do.
//
//   bench/make_volumes.sh /tmp/quarry-bench
//   build/bench/quarry_bench --volumes=/tmp/quarry-bench

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/mount.h"
#include "app/session.h"
#include "device/drive_scan.h"
#include "device/image_adapter.h"
#include "hfs/btree.h"
#include "hfs/fork.h"
#include "app/navigation.h"
#include "commands/volume_changes.h"

namespace quarry {
namespace {

std::string gVolumes = "/tmp/quarry-bench";

class SilentUi : public UiPort {
public:
    void setStatusText(const char*, const char*) override {}
    void showTimedMessage(const std::string&) override {}
    void showMessageBox(const std::string&) override {}
    bool ask(const std::string&, Question) override { return answer; }
    void fatalError(const std::string&) override {}
    void stepWaitCursor() override {}
    bool escapeAbortRequested() override { return false; }
    void paintProgressBar(uint32_t, uint32_t) override {}
    void beep() override {}
    void invalidateListRow(int) override {}
    void updateCommandStates() override {}
    void setMenuCheck(int, bool) override {}
    void setWindowTitle(const std::string&) override {}
    void postCommand(int) override {}
    void openHelp(const std::string&) override {}
    std::optional<std::string> askPcFileName(const std::string&) override { return std::nullopt; }
    bool chooseTargetDirectory() override { return true; }
    int chooseDrive(const std::vector<std::string>&) override { return 0; }

    bool answer = false;  // what every question is answered
};

struct Mounted {
    SilentUi ui;
    Session session{ui};
    ScsiBus bus;
    ScsiDeviceTable table;

    explicit Mounted(const std::string& image, ImageAccess access = ImageAccess::ReadOnly) {
        auto adapter = std::make_unique<ImageAdapter>();
        if (!adapter->addImage(image, access)) return;
        bus.adapters.push_back(std::move(adapter));
        session.device.bus = &bus;
        PrepareCdAccess(session.device);
        SelectCdromDrive(session.device, table, ui);
        initVolumeBuffers(session);
    }
};

void BM_MountAndListEveryFolder(benchmark::State& state) {
    const std::string image = gVolumes + "/many.iso";
    size_t entries = 0;
    for (auto _ : state) {
        Mounted m(image);
        if (mountVolume(m.session) != 1) {
            state.SkipWithError("cannot mount many.iso; run bench/make_volumes.sh");
            return;
        }
        std::vector<std::string> folders;
        const FileList& list = m.session.settings.list;
        for (uint16_t i = 0; i < list.entryCount; ++i)
            if (list.entries[i].isFolder()) folders.push_back(list.entries[i].name());
        entries = list.entryCount;
        for (const std::string& f : folders) {
            enterDirectory(m.session, f);
            BuildFileList(m.session, nullptr);
            entries += m.session.settings.list.entryCount;
            changeToParent(m.session);
        }
        benchmark::DoNotOptimize(entries);
    }
    state.counters["entries"] = static_cast<double>(entries);
}
BENCHMARK(BM_MountAndListEveryFolder)->Unit(benchmark::kMillisecond);

void BM_ReadLargeDataFork(benchmark::State& state) {
    Mounted m(gVolumes + "/large.iso");
    if (mountVolume(m.session) != 1 || !findCatalogRecord(m.session.volume, "large.bin", want::kFile, kRootDirId)) {
        state.SkipWithError("cannot find large.bin; run bench/make_volumes.sh");
        return;
    }
    const uint8_t* data = recordData(currentRecordKey(m.session.volume.catalog));
    const ExtentRecord extents = extentRecordAt(data + catrec::kDataExtents);
    const uint32_t fileID = loadBE32(data + catrec::kFileId);
    const uint32_t length = loadBE32(data + catrec::kDataLength);
    const std::string out = "/tmp/quarry-bench-fork.bin";
    for (auto _ : state) {
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        FdSink sink(fd);
        if (!readForkToFile(m.session.volumeContext(), extents, sink, fileID, length, kDataFork) || !sink.flush())
            state.SkipWithError("read failed");
        ::close(fd);
    }
    ::unlink(out.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * length);
}
BENCHMARK(BM_ReadLargeDataFork)->Unit(benchmark::kMillisecond)->UseRealTime();

// Every name of lookup-names.txt looked up the way the program looks up an entry by name, on
// one mount. A lookup counts as found when it stops at the record of exactly that name;
// "wrong" counts lookups that stopped at another record.
void BM_LookupByName(benchmark::State& state) {
    const std::string image = gVolumes + "/lookup.hfs";
    std::ifstream listFile(gVolumes + "/lookup-names.txt", std::ios::binary);
    if (::access(image.c_str(), R_OK) != 0 || !listFile) {
        state.SkipWithError("no lookup.hfs or lookup-names.txt; run bench/make_volumes.sh");
        return;
    }
    Mounted m(image);
    if (mountVolume(m.session) != 1) {
        state.SkipWithError("cannot mount lookup.hfs; run bench/make_volumes.sh");
        return;
    }
    VolumeState& volume = m.session.volume;
    auto storedName = [](const uint8_t* key) {
        return std::string(reinterpret_cast<const char*>(key + catkey::kName), catalogKeyNameLength(key));
    };

    // The folders of the root, by their exact names, from a walk of the root folder rather
    // than a lookup by name: the lookups measured must not decide which names are asked for.
    std::map<std::string, uint32_t> folderIds;
    const bool walked = walkFolder(volume, kRootDirId, [&](const uint8_t* key) {
        if (recordType(key) == catrec::kFolder) folderIds[storedName(key)] = loadBE32(recordData(key) + catrec::kDirId);
        return true;
    });
    if (!walked) {
        state.SkipWithError(("cannot list the root folder of lookup.hfs: " + volume.catalog.fault).c_str());
        return;
    }

    struct Lookup {
        std::string name;
        uint32_t parentID;
    };
    std::vector<Lookup> lookups;
    std::string line;
    while (std::getline(listFile, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            lookups.push_back({line, kRootDirId});
            continue;
        }
        const auto folder = folderIds.find(line.substr(0, colon));
        if (folder == folderIds.end()) {
            state.SkipWithError("lookup-names.txt names a folder lookup.hfs does not hold; run bench/make_volumes.sh");
            return;
        }
        lookups.push_back({line.substr(colon + 1), folder->second});
    }
    if (lookups.empty()) {
        state.SkipWithError("lookup-names.txt is empty; run bench/make_volumes.sh");
        return;
    }

    size_t found = 0;
    size_t wrong = 0;
    for (auto _ : state) {
        found = 0;
        wrong = 0;
        for (const Lookup& l : lookups) {
            if (!findCatalogRecord(volume, l.name, want::kAny, l.parentID)) continue;
            if (storedName(currentRecordKey(volume.catalog)) == l.name) ++found;
            else ++wrong;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(lookups.size()));
    state.counters["names"] = static_cast<double>(lookups.size());
    state.counters["found"] = static_cast<double>(found);
    state.counters["wrong"] = static_cast<double>(wrong);
    if (!volume.catalog.fault.empty()) state.SetLabel("catalog fault: " + volume.catalog.fault);
}
BENCHMARK(BM_LookupByName)->Unit(benchmark::kMillisecond);

// What `cat IMAGE > FILE` does: the floor any reader of the same bytes stands on.
void catImage(benchmark::State& state, const std::string& image) {
    std::vector<char> buffer(128 * 1024);
    const std::string out = "/tmp/quarry-bench-cat.bin";
    int64_t bytes = 0;
    for (auto _ : state) {
        const int in = ::open(image.c_str(), O_RDONLY);
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || fd < 0) {
            state.SkipWithError("cannot open the image; run bench/make_volumes.sh");
            return;
        }
        ssize_t n;
        while ((n = ::read(in, buffer.data(), buffer.size())) > 0) {
            if (::write(fd, buffer.data(), static_cast<size_t>(n)) != n) break;
            bytes += n;
        }
        ::close(in);
        ::close(fd);
    }
    ::unlink(out.c_str());
    state.SetBytesProcessed(bytes);
}
void BM_CatManyImage(benchmark::State& state) { catImage(state, gVolumes + "/many.iso"); }
void BM_CatLargeImage(benchmark::State& state) { catImage(state, gVolumes + "/large.iso"); }
BENCHMARK(BM_CatManyImage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CatLargeImage)->Unit(benchmark::kMillisecond)->UseRealTime();

// A fresh writable copy of write.hfs, mounted; the copy is made outside the timing.
bool mountWriteCopy(benchmark::State& state, std::unique_ptr<Mounted>& m) {
    state.PauseTiming();
    const std::string copy = "/tmp/quarry-bench-write.hfs";
    std::ifstream in(gVolumes + "/write.hfs", std::ios::binary);
    std::ofstream(copy, std::ios::binary | std::ios::trunc) << in.rdbuf();
    m = std::make_unique<Mounted>(copy, ImageAccess::ReadWrite);
    const bool ok = mountVolume(m->session) == 1;
    m->session.listOnScreen = false;
    state.ResumeTiming();
    if (!ok) state.SkipWithError("cannot mount write.hfs; run bench/make_volumes.sh");
    return ok;
}

void BM_DeleteFolderOfThousandFiles(benchmark::State& state) {
    for (auto _ : state) {
        std::unique_ptr<Mounted> m;
        if (!mountWriteCopy(state, m)) return;
        Session& s = m->session;
        m->ui.answer = true;  // "The directory is not empty."
        const bool done = ApplyVolumeChange(s, [&]() -> Status {
            Result<DeleteOutcome> r = DeleteEntries(s, "Thousand", NameMatch::Exact);
            return r ? Status::ok() : Status(Fault{r.fault()});
        });
        if (!done) state.SkipWithError("the deletion failed");
    }
}
BENCHMARK(BM_DeleteFolderOfThousandFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_MakeThousandFolders(benchmark::State& state) {
    for (auto _ : state) {
        std::unique_ptr<Mounted> m;
        if (!mountWriteCopy(state, m)) return;
        Session& s = m->session;
        for (int i = 1; i <= 1000; ++i) {
            if (!ApplyVolumeChange(s, [&] { return MakeDirectory(s, "Folder " + std::to_string(i)); })) {
                state.SkipWithError("a folder was not made");
                return;
            }
        }
    }
}
BENCHMARK(BM_MakeThousandFolders)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace quarry

int main(int argc, char** argv) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--volumes=", 10) == 0) quarry::gVolumes = argv[i] + 10;
        else rest.push_back(argv[i]);
    }
    int n = static_cast<int>(rest.size());
    benchmark::Initialize(&n, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

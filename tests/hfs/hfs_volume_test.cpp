// The HFS volume behind the seam: every entry it decodes, and the forks it opens, against what
// hfsutils finds on the same volumes.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <string>

#include "common/messages.h"
#include "support/hfs_oracle.h"
#include "support/memory_sink.h"
#include "support/mounted_image.h"

namespace quarry {
namespace {

using test::OracleEntry;

// Walks every folder below `folderID` (at hfsutils path `path`) and compares each entry with
// hls's, and the folder's ID lookup with the entry it came from; returns the files met.
void compareFolder(MountedVolume& volume, const std::string& image, uint32_t folderID, const std::string& path,
                   std::map<std::string, VolumeEntry>& files) {
    SCOPED_TRACE("folder " + path);
    std::vector<VolumeEntry> entries;
    ASSERT_TRUE(volume.visitFolder(folderID, [&](const VolumeEntry& e) {
        entries.push_back(e);
        return true;
    }));
    std::map<uint32_t, OracleEntry> theirs;
    for (const OracleEntry& o : test::hlsList(image, path)) theirs[o.catalogId] = o;
    ASSERT_EQ(entries.size(), theirs.size());
    for (const VolumeEntry& e : entries) {
        SCOPED_TRACE("entry " + e.macName);
        ASSERT_EQ(theirs.count(e.id), 1u);
        const OracleEntry& o = theirs[e.id];
        EXPECT_EQ(e.macName, o.name);
        EXPECT_EQ(e.key, o.name);
        EXPECT_EQ(e.parentID, folderID);
        EXPECT_EQ(e.isFolder(), o.isFolder);
        EXPECT_EQ((e.finderFlags() & 0x4000) != 0, o.invisible);
        const std::string child = (path == ":" ? ":" : path + ":") + o.name;
        if (o.isFolder) {
            EXPECT_EQ(e.valence, o.valence);
            const std::optional<VolumeEntry> again = volume.folderOfId(e.id);
            ASSERT_TRUE(again);
            EXPECT_EQ(again->key, e.key);
            EXPECT_EQ(again->parentID, folderID);
            compareFolder(volume, image, e.id, child, files);
        } else {
            EXPECT_EQ(e.locked, o.locked);
            EXPECT_EQ(std::string(e.type()), o.type);
            EXPECT_EQ(std::string(e.creator()), o.creator);
            EXPECT_EQ(e.data.logical, o.dataSize);
            EXPECT_EQ(e.rsrc.logical, o.rsrcSize);
            EXPECT_GE(e.data.physical, e.data.logical);
            files[child] = e;
        }
    }
}

class HfsVolumeMatchesHfsutils : public ::testing::TestWithParam<const char*> {};

// Each data fork is read three ways, whole, a 512-byte unit at a time, and as the image's bytes
// at its runs, and each way must give what hcopy gives.
TEST_P(HfsVolumeMatchesHfsutils, EntriesAndForks) {
    const std::string image = test::fixturePath(GetParam());
    test::MountedImage m(image);
    ASSERT_TRUE(m.session.mounted);
    MountedVolume& volume = *m.session.mounted;
    EXPECT_EQ(volume.format(), VolumeFormat::Hfs);
    EXPECT_EQ(volume.figures().macName, test::hmountVolumeName(image));
    std::map<std::string, VolumeEntry> files;
    compareFolder(volume, image, kRootDirId, ":", files);
    ASSERT_FALSE(files.empty());

    std::FILE* raw = std::fopen(image.c_str(), "rb");
    ASSERT_NE(raw, nullptr);
    int compared = 0;
    for (const auto& [path, file] : files) {
        if (file.data.logical == 0 || ++compared > 6) continue;
        SCOPED_TRACE(path);
        const std::string theirs = test::hcopyData(image, path);
        std::unique_ptr<ForkReader> fork = volume.openFork(file, ForkKind::Data);
        EXPECT_EQ(fork->length(), theirs.size());
        test::MemorySink whole;
        ASSERT_TRUE(fork->copyTo(whole));
        EXPECT_EQ(std::string(whole.bytes.begin(), whole.bytes.end()), theirs);

        std::string units;
        std::array<uint8_t, kForkUnitSize> unit{};
        for (uint64_t i = 0;; ++i) {
            Result<bool> read = fork->readUnit(i, unit.data());
            ASSERT_TRUE(read) << read.fault();
            if (!*read) break;
            units.append(reinterpret_cast<const char*>(unit.data()), unit.size());
        }
        EXPECT_EQ(units.size(), fork->physicalLength());
        EXPECT_EQ(units.substr(0, theirs.size()), theirs);

        Result<std::vector<ForkRun>> runs = fork->runs();
        ASSERT_TRUE(runs) << runs.fault();
        std::string atRuns;
        for (const ForkRun& run : *runs) {
            EXPECT_EQ(run.forkOffset, atRuns.size());
            std::string bytes(run.length, '\0');
            ASSERT_EQ(::fseeko(raw, static_cast<off_t>(run.mediumOffset), SEEK_SET), 0);
            ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), raw), bytes.size());
            atRuns += bytes;
        }
        EXPECT_EQ(atRuns, theirs);
    }
    std::fclose(raw);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, HfsVolumeMatchesHfsutils, ::testing::Values("basic.hfs", "fragmented.hfs"));

// A typed name is looked up by the catalog's own order (either case, "*" a wildcard); a name
// taken from the list exactly, "*" and all.
TEST(HfsVolume, FindsTypedNamesAndPatternsByTheCatalogOrder) {
    test::MountedImage m(test::fixturePath("basic.hfs"));
    MountedVolume& volume = *m.session.mounted;
    std::vector<VolumeEntry> root;
    ASSERT_TRUE(volume.visitFolder(kRootDirId, [&](const VolumeEntry& e) {
        root.push_back(e);
        return true;
    }));
    ASSERT_GE(root.size(), 2u);
    for (const VolumeEntry& e : root) {
        std::string upper = e.macName;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const std::optional<VolumeEntry> typed = volume.findEntry(kRootDirId, upper, NameMatch::Pattern);
        ASSERT_TRUE(typed) << upper;
        EXPECT_EQ(typed->id, e.id);
        const std::optional<VolumeEntry> exact = volume.findEntry(kRootDirId, e.key, NameMatch::Exact, e.kind);
        ASSERT_TRUE(exact);
        EXPECT_EQ(exact->id, e.id);
        EXPECT_FALSE(volume.findEntry(kRootDirId, e.key, NameMatch::Exact,
                                      e.isFolder() ? EntryKind::File : EntryKind::Folder));
    }
    const std::optional<VolumeEntry> first = volume.findEntry(kRootDirId, "*", NameMatch::Pattern);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->id, root.front().id);
    EXPECT_FALSE(volume.findEntry(kRootDirId, "*", NameMatch::Exact));
}

TEST(VolumeFormats, AFormatThatIsNotChangedIsRefusedByName) {
    EXPECT_EQ(refuseChangeOf(VolumeFormat::HfsPlus).fault(),
              "Quarry changes HFS volumes only; this HFS+ volume is not changed.");
    EXPECT_EQ(refuseChangeOf(VolumeFormat::Mfs).fault(), "Quarry changes HFS volumes only; this MFS volume is not changed.");
}

// An HFS date is the wall clock as stored, whatever the PC's zone; an HFS+ date is a UTC instant
// and shows as the PC's zone has it.
TEST(EntryDates, WallClockAsStoredUtcInTheLocalZone) {
    const char* before = std::getenv("TZ");
    const std::string saved = before ? before : "";
    ::setenv("TZ", "EST5", 1);
    ::tzset();
    constexpr uint32_t k2000 = 3029529600u;  // 2000-01-01 00:00 from 1904
    EXPECT_EQ((EntryDate{k2000, EntryDate::Clock::WallClock}).wallClock(), k2000);
    EXPECT_EQ((EntryDate{k2000, EntryDate::Clock::Utc}).wallClock(), k2000 - 5 * 3600);
    EXPECT_EQ((EntryDate{0, EntryDate::Clock::Utc}).wallClock(), 0u);
    if (before) ::setenv("TZ", saved.c_str(), 1); else ::unsetenv("TZ");
    ::tzset();
}

}  // namespace
}  // namespace quarry

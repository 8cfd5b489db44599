// The values of the attribute dialogs, checked against hls and the test builder's own reading
// of the volumes, and the dates the fixture script wrote.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "app/session.h"
#include "commands/attributes.h"
#include "copy/copy_engine.h"
#include "app/dialog_controls.h"
#include "app/navigation.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"

namespace quarry {
namespace {

using test::MountedImage;

// The file `name` of the current folder, as ShowFileAttributes hands it over.
CatalogEntry fileOf(MountedImage& m, const std::string& name) {
    CatalogEntry got;
    int shown = 0;
    EXPECT_EQ(ShowFileAttributes(m.session, name, [&](const CatalogEntry& e) {
                  got = e;
                  ++shown;
              }),
              0);
    EXPECT_EQ(shown, 1) << name;
    return got;
}

std::string extentsText(const std::vector<test::Extent>& extents, uint32_t sectorsPerBlock) {
    std::string out;
    for (size_t i = 0; i < 3; ++i) {
        const test::Extent e = i < extents.size() ? extents[i] : test::Extent{};
        if (i > 0) out += ", ";
        out += std::to_string(e.startBlock * sectorsPerBlock) + "/" + std::to_string(e.blockCount * sectorsPerBlock);
    }
    return out;
}

TEST(FileAttributes, ShowTheRecordsValues) {
    struct Case {
        const char* image;
        const char* folder;    // entered first, or nullptr
        const char* name;      // Macintosh characters
        const char* shown;     // the name as the dialog shows it
        const char* hfsPath;
        std::array<uint32_t, 5> created, modified;  // from the MacBinary headers of the fixtures
    };
    const Case cases[] = {
        {"basic.hfs", nullptr, "Big Forks", "Big Forks", ":Big Forks", {4, 3, 101, 5, 6}, {4, 3, 101, 6, 7}},
        {"basic.hfs", nullptr, "Puzzle", "Puzzle", ":Puzzle", {17, 5, 92, 9, 30}, {2, 11, 93, 14, 45}},
        {"basic.hfs", nullptr, "Old Timer", "Old Timer", ":Old Timer", {20, 7, 65, 12, 0}, {31, 12, 69, 23, 59}},
        {"basic.hfs", nullptr, "Resource Only", "Resource Only", ":Resource Only", {3, 2, 98, 4, 5}, {3, 2, 98, 4, 5}},
        {"hybrid.iso", "Apps", "Tool", "Tool", ":Apps:Tool", {9, 8, 96, 10, 11}, {2, 1, 97, 3, 4}},
        {"basic.hfs", nullptr, "Caf\x8e Menu", "Caf\xC3\xA9 Menu", ":Caf\x8e Menu", {}, {}},
        {"fragmented.hfs", nullptr, "Scattered Data", "Scattered Data", ":Scattered Data", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " " + c.hfsPath);
        const std::string image = test::fixturePath(c.image);
        const auto oracle = test::hlsList(image, c.hfsPath);
        ASSERT_EQ(oracle.size(), 1u);
        const test::OracleEntry& o = oracle.front();
        MountedImage m(image);
        ASSERT_EQ(m.mountResult, 1);
        if (c.folder) {
            ASSERT_TRUE(enterDirectory(m.session, c.folder));
        }
        const CatalogEntry file = fileOf(m, c.name);

        const FileAttributes a = fileAttributesOf(file);
        std::map<int, std::string> want = {{516, c.shown},
                                           {538, o.creator},
                                           {539, o.type},
                                           {536, std::to_string(o.dataSize)},
                                           {537, std::to_string(o.rsrcSize)}};
        // Dates the script set; the others carry the time the script ran.
        const bool fixedDates = c.created[1] != 0;
        for (int i = 0; i < 5 && fixedDates; ++i) {
            want[118 + i] = std::to_string(c.created[i]);
            want[123 + i] = std::to_string(c.modified[i]);
        }
        std::vector<int> order;
        for (const DialogField& f : a.fields()) {
            order.push_back(f.control);
            if (want.count(f.control)) {
                EXPECT_EQ(f.text, want[f.control]) << "control " << f.control;
            }
        }
        EXPECT_EQ(order, (std::vector<int>{516, 538, 539, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127, 536, 537}));

        // The "Advanced" sheet: file number, and the first extent record of each fork in sectors.
        test::Bytes bytes = test::readFile(image);
        const size_t volumeOffset = std::string(c.image) == "hybrid.iso" ? 16 * 512 : 0;
        test::HfsImage img(bytes, volumeOffset);
        const test::CatalogRecord rec = img.lookup(c.hfsPath);
        const uint32_t spb = img.mdb32(test::mdb::kDrAlBlkSiz) / 512;
        ASSERT_EQ(spb, m.session.volume.sectorsPerBlock);
        const AdvancedAttributes adv = advancedAttributesOf(file, m.session.volume.sectorsPerBlock);
        const std::vector<DialogField> fields = adv.fields();
        ASSERT_EQ(fields.size(), 4u);
        EXPECT_EQ(fields[0].control, 516);
        EXPECT_EQ(fields[0].text, c.shown);
        EXPECT_EQ(fields[1].control, 547);
        EXPECT_EQ(fields[1].text, std::to_string(o.catalogId));
        EXPECT_EQ(fields[2].control, 548);
        EXPECT_EQ(fields[2].text, extentsText(img.forkExtents(rec, test::Fork::Data), spb));
        EXPECT_EQ(fields[3].control, 549);
        EXPECT_EQ(fields[3].text, extentsText(img.forkExtents(rec, test::Fork::Resource), spb));
    }
}

TEST(FileAttributes, ExtentsCountInSectors) {
    // Ten allocation blocks from block 200 on a volume of four sectors per block.
    CatalogEntry file;
    file.type = catrec::kFile;
    storeBE16(file.data.data() + catrec::kDataExtents, 200);
    storeBE16(file.data.data() + catrec::kDataExtents + 2, 10);
    EXPECT_EQ(advancedAttributesOf(file, 4).dataExtents, "800/40, 0/0, 0/0");
    EXPECT_EQ(advancedAttributesOf(file, 4).rsrcExtents, "0/0, 0/0, 0/0");
    // A signature of NULs shows nothing; one with a NUL inside ends there.
    std::memcpy(file.data.data() + catrec::kFileCreator, "AB\0D", 4);
    const FileAttributes a = fileAttributesOf(file);
    EXPECT_EQ(a.type, "");
    EXPECT_EQ(a.creator, "AB");
}

TEST(FileAttributes, AFolderOrAMissingNameShowsNothing) {
    MountedImage m(test::fixturePath("basic.hfs"));
    for (const char* name : {"Docs", "Empty Folder", "No Such File"}) {
        int shown = 0;
        EXPECT_EQ(ShowFileAttributes(m.session, name, [&](const CatalogEntry&) { ++shown; }), 0) << name;
        EXPECT_EQ(shown, 0) << name;
    }
}

TEST(FileAttributes, ATypedNameIsAPatternAListNameIsExact) {
    struct Case {
        const char* name;
        NameMatch match;
        const char* shown;  // nullptr: nothing is shown
    };
    const Case cases[] = {
        // The first file in catalog order: Either/Or comes before Empty File; aardvark first of all.
        {"e*", NameMatch::Pattern, "Either/Or"},
        {"*", NameMatch::Pattern, "aardvark"},
        {"PUZ*", NameMatch::Pattern, "Puzzle"},
        // Files only: Docs and Empty Folder are folders.
        {"Do*", NameMatch::Pattern, nullptr},
        {"Empty F*", NameMatch::Pattern, "Empty File"},
        // From the list a "*" is part of the name.
        {"Why? [Draft] *", NameMatch::Exact, "Why? [Draft] *"},
        {"Why*", NameMatch::Exact, nullptr},
        {"*", NameMatch::Exact, nullptr},
    };
    MountedImage m(test::fixturePath("basic.hfs"));
    ASSERT_EQ(m.mountResult, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> shown;
        ShowFileAttributes(m.session, c.name, [&](const CatalogEntry& e) { shown.push_back(e.name); }, c.match);
        EXPECT_EQ(shown, c.shown ? std::vector<std::string>{c.shown} : std::vector<std::string>{});
    }
}

TEST(FileAttributes, TheSheetsPutTheDialogsTextsUnderTheirLabels) {
    MountedImage m(test::fixturePath("basic.hfs"));
    ASSERT_EQ(m.mountResult, 1);
    const CatalogEntry file = fileOf(m, "Big Forks");
    // Created 2001-03-04 05:06:07, modified 06:07:08 the same day; a date's five fields share a
    // line in the dialog's order.
    const std::vector<std::pair<std::string, std::string>> want = {
        {"Name", "Big Forks"},
        {"Creator", "hDmp"},
        {"Filetype", "BINA"},
        {"Creation Date", "4 3 101 5 6"},
        {"Last Mod. Date", "4 3 101 6 7"},
        {"Data fork", "5000"},
        {"Resource fork", "1500"},
    };
    std::vector<std::pair<std::string, std::string>> got;
    for (const SheetLine& l : fileAttributesOf(file).sheet()) got.emplace_back(l.label, l.value);
    EXPECT_EQ(got, want);

    const AdvancedAttributes adv = advancedAttributesOf(file, m.session.volume.sectorsPerBlock);
    const std::vector<SheetLine> advanced = adv.sheet();
    ASSERT_EQ(advanced.size(), 4u);
    EXPECT_STREQ(advanced[0].label, "Filename");
    EXPECT_EQ(advanced[0].value, "Big Forks");
    EXPECT_STREQ(advanced[1].label, "File #");
    EXPECT_EQ(advanced[1].value, std::to_string(adv.fileNumber));
    EXPECT_STREQ(advanced[2].label, "Data extents");
    EXPECT_EQ(advanced[2].value, adv.dataExtents);
    EXPECT_STREQ(advanced[3].label, "Ressource extents");
    EXPECT_EQ(advanced[3].value, adv.rsrcExtents);
}

}  // namespace
}  // namespace quarry

// The journal replayed in memory. journaled.hfsp (tests/fixtures/hfsplus_build.py) holds two
// block lists not yet written home, the first running on past the journal's end: quarry-cli shows
// the volume as they leave it (its manifest comparison is in mounted_test.cpp) and never writes
// the image. Damage to the journal leaves the volume as its blocks hold it, and says why.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "hfs/byte_order.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/temp_dir.h"

namespace quarry::test {
namespace {

uint64_t loadLE(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}
void storeLE(uint8_t* p, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The journal's checksum as Apple publishes it, to plant damage behind a header that still checks.
void resum(uint8_t* p, size_t bytes, size_t field) {
    storeLE(p + field, 0, 4);
    uint32_t sum = 0;
    for (size_t i = 0; i < bytes; ++i) sum = (sum << 8) ^ (sum + p[i]);
    storeLE(p + field, ~sum, 4);
}

TEST(HfsPlusJournal, PendingTransactionsAreShownAndDamageLeavesTheVolumeAsItsBlocksHoldIt) {
    std::string image = slurp(fixturePath("hfsplus/journaled.hfsp"));
    ASSERT_GT(image.size(), 4096u);
    auto* bytes = reinterpret_cast<uint8_t*>(image.data());
    const uint32_t blockSize = loadBE32(bytes + 1024 + 40);
    const uint8_t* info = bytes + uint64_t{loadBE32(bytes + 1024 + 12)} * blockSize;
    uint8_t* journal = bytes + (uint64_t{loadBE32(info + 36)} << 32 | loadBE32(info + 40));
    const uint64_t start = loadLE(journal + 8, 8);
    uint8_t* list = journal + start;
    const std::string atList = "journal block list at byte " + std::to_string(start) + ": ";

    struct Case {
        const char* what;
        std::function<void()> plant;
        std::string why;  // empty: replayed
    };
    const Case cases[] = {
        {"sound", [] {}, ""},
        {"header checksum", [&] { journal[24] ^= 1; }, "the journal header's checksum does not match"},
        {"list checksum", [&] { list[8] ^= 1; }, atList + "its checksum does not match"},
        {"block outside the volume", [&] { storeLE(list + 32, 0xFFFF0000u, 8); }, atList + "block 1 lies outside the volume"},
        {"list past the last transaction",
         [&] { storeLE(list + 4, 0x7FFFFFFF, 4), resum(list, 32, 8); }, atList + "it runs past the last transaction"},
        {"more blocks than the list holds",
         [&] { storeLE(list + 2, 0xFFFF, 2), resum(list, 32, 8); }, atList + "65535 blocks do not fit in the list"},
        {"a block that does not fit",
         [&] { storeLE(list + 40, 4097, 4); }, atList + "block 1 of 4097 bytes does not fit"},
    };
    const std::string sound = image;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        image = sound;
        c.plant();
        TempDir dir;
        const std::string path = dir.file("journaled.hfsp");
        std::ofstream(path, std::ios::binary) << image;
        ProcessResult r = runCli({"--to", dir.path(), path, "DIR", "COPY /D Journal*"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        if (c.why.empty()) {
            EXPECT_EQ(r.err, "Quarry - : The volume's journal holds changes not yet written to it: they are shown as the "
                             "Macintosh would write them, and the medium is not changed.\n");
            EXPECT_EQ(slurp(dir.file("Journal Note (replayed).txt")).substr(0, 31), "After the journal is replayed!!");
            // The check reads the volume as the journal leaves it, which is sound.
            r = runCli({"--check", path});
            EXPECT_EQ(r.exitCode, 0) << r.out;
            EXPECT_NE(r.err.find("note: journal: transactions not yet written to the volume are pending; the volume is "
                                 "checked as they leave it\n"), std::string::npos) << r.err;
        } else {
            EXPECT_EQ(r.err, "Quarry - : The volume's journal holds changes not yet written to it: what is shown may be older "
                             "than what the Macintosh last saw.\nQuarry - : The journal is not replayed: " + c.why + ".\n");
            EXPECT_EQ(slurp(dir.file("Journal Note.txt")).substr(0, 31), "Before the journal is replayed.");
        }
        EXPECT_EQ(slurp(path), image) << "the image was written";
    }
}

}  // namespace
}  // namespace quarry::test

// The tests' own tools checked where a mistake would silently weaken a real test: the media the
// builder wraps around a volume and its reading of catalogs and forks are compared with what
// hfsutils reads.

#include <gtest/gtest.h>

#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"

namespace quarry::test {
namespace {

std::vector<std::string> names(const std::vector<OracleEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.name);
    return out;
}

TEST(ImageBuilder, PartitionMapsHoldVolumesWhereHfsutilsFindsThem) {
    const Bytes basic = readFile(fixturePath("basic.hfs")), many = readFile(fixturePath("many.hfs"));
    TempDir dir;
    writeFile(dir.file("wrapped.img"), behindPartitionMap(basic, 96, 1024));
    EXPECT_EQ(hmountVolumeName(dir.file("wrapped.img")), "Test Vol");
    EXPECT_EQ(names(hlsList(dir.file("wrapped.img"), ":Docs")), names(hlsList(fixturePath("basic.hfs"), ":Docs")));

    const auto first = 64u, second = 64 + static_cast<uint32_t>(basic.size() / 512);
    Medium medium(8);
    medium.partitionMap({{"Extra", "Apple_Free", 4, 60}, {"First", "Apple_HFS", first, second - first},
                         {"Second", "Apple_HFS", second, static_cast<uint32_t>(many.size() / 512)}})
        .place(first, basic)
        .place(second, many)
        .driverDescriptor(1024, medium.sectorCount() / 2);
    writeFile(dir.file("two.img"), medium.bytes());
    EXPECT_EQ(hmountVolumeName(dir.file("two.img"), 2), "Many Files");
    EXPECT_EQ(names(hlsList(dir.file("two.img"), ":", 2)), names(hlsList(fixturePath("many.hfs"), ":")));
}

// The builder's reading of every catalog is compared with hls in listing_oracle_test.cpp.
TEST(HfsImage, ForksThroughOverflowExtentsMatchHcopy) {
    Bytes bytes = readFile(fixturePath("fragmented.hfs"));
    HfsImage image(bytes);
    for (const auto& [path, fork] : {std::pair{":Scattered Data", Fork::Data}, std::pair{":Scattered Resource", Fork::Resource}}) {
        const CatalogRecord file = image.lookup(path);
        EXPECT_GT(image.forkExtents(file, fork).size(), 3u) << path;
        const Bytes read = image.readFork(file, fork);
        const std::string image = fixturePath("fragmented.hfs");
        EXPECT_EQ(std::string(read.begin(), read.end()), fork == Fork::Data ? hcopyData(image, path) : hcopyResource(image, path));
    }
}

}  // namespace
}  // namespace quarry::test

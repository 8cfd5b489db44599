// Damaged volumes: each ends with a clear message naming the place and exit status 1 from
// quarry-cli, never with a crash, a hang or a listing made of garbage.

#include <gtest/gtest.h>

#include <functional>

#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using test::Bytes;
using test::HfsImage;
using test::Tree;

struct DamageCase {
    const char* what;
    const char* fixture;
    std::function<void(Bytes&)> damage;
    std::vector<std::string> lines;
    const char* message;  // expected in standard error
};

TEST(DamagedVolume, EndsWithAMessageAndStatusOne) {
    const DamageCase cases[] = {
        {"leaf chain loops back to the folder's first leaf", "many.hfs",
         [](Bytes& b) {
             HfsImage img(b);
             // A leaf whose records all belong to the folder leads back to the folder's first.
             std::vector<uint32_t> leaves;
             for (const auto& kid : img.children(img.lookup(":Big Folder").id))
                 if (leaves.empty() || leaves.back() != kid.node) leaves.push_back(kid.node);
             ASSERT_GE(leaves.size(), 3u);
             img.setForwardLink(Tree::Catalog, leaves[leaves.size() - 2], leaves.front());
         },
         {"CD \"Big Folder\"", "DIR"}, "leaf chain loops back to node"},
        {"record offset outside the node", "basic.hfs",
         [](Bytes& b) { HfsImage(b).setRecordOffset(Tree::Catalog, HfsImage(b).lookup(":Docs").node, 1, 600); },
         {"DIR", "CD Docs", "DIR"}, "record 1 offset 600 outside the node"},
        {"record count larger than the node", "basic.hfs",
         [](Bytes& b) { HfsImage(b).setRecordCount(Tree::Catalog, HfsImage(b).lookup(":Puzzle").node, 300); }, {"DIR"},
         "record count 300 exceeds what the node can hold"},
        {"index node pointing at itself", "many.hfs",
         [](Bytes& b) {
             HfsImage img(b);
             const uint32_t root = img.header32(Tree::Catalog, test::btheader::kRoot);
             for (const auto& rec : img.catalogRecords(root)) test::writeBe(b, rec.dataOffset, 4, root);
         },
         {"DIR"}, "index leads back to node"},
        {"catalog extent past the end of the volume", "basic.hfs",
         [](Bytes& b) { HfsImage(b).setMdb16(test::mdb::kDrCTExtRec, 0xFF00); }, {"DIR"}, "lies past the end of the volume"},
        {"catalog without a first extent", "basic.hfs", [](Bytes& b) { HfsImage(b).setMdb16(test::mdb::kDrCTExtRec + 2, 0); },
         {"DIR"}, "Error reading data. Restart the program."},
        {"catalog larger than the volume", "basic.hfs",
         [](Bytes& b) { HfsImage(b).setMdb32(test::mdb::kDrCTFlSize, 0xFFFFFE00u); }, {"DIR"}, "larger than the volume"},
        {"root node past the end of the tree", "basic.hfs",
         [](Bytes& b) { HfsImage(b).setHeader32(Tree::Catalog, test::btheader::kRoot, 5000); }, {"DIR"},
         "root or first leaf lies past the end of the tree"},
        {"header node of another type", "basic.hfs",
         [](Bytes& b) { test::writeBe(b, HfsImage(b).nodeOffset(Tree::Catalog, 0) + test::node::kType, 1, test::node::kLeafNode); },
         {"DIR"}, "catalog node 0: not a header node"},
        {"allocation block size of zero", "basic.hfs", [](Bytes& b) { HfsImage(b).setMdb32(test::mdb::kDrAlBlkSiz, 0); },
         {"DIR"}, "allocation block size 0 is not a multiple of 512"},
        {"name longer than its key", "basic.hfs",
         [](Bytes& b) { test::writeBe(b, HfsImage(b).lookup(":Locked").offset + test::catkey::kNameLength, 1, 40); }, {"DIR"},
         "does not fit its key"},
        {"unknown record type", "basic.hfs", [](Bytes& b) { test::writeBe(b, HfsImage(b).lookup(":Hidden").dataOffset, 1, 9); },
         {"DIR"}, "unknown record type 9"},
    };
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = test::readFile(test::fixturePath(c.fixture));
        c.damage(bytes);
        test::TempDir dir;
        test::writeFile(dir.file("damaged.img"), bytes);
        std::vector<std::string> args = {dir.file("damaged.img")};
        args.insert(args.end(), c.lines.begin(), c.lines.end());
        const test::ProcessResult r = test::runCli(args);
        ASSERT_TRUE(r.started);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << "stderr: " << r.err;
        EXPECT_EQ(r.err.rfind("Quarry - : ", 0), 0u) << r.err;
    }
}

}  // namespace
}  // namespace quarry

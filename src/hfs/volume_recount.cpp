#include "hfs/volume_recount.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "hfs/btree.h"
#include "hfs/chain_guard.h"
#include "hfs/fork.h"
#include "hfs/tree_edit.h"
#include "hfs/volume_edit.h"

namespace quarry {
namespace {

constexpr uint32_t kBadBlocksFileId = 5;

// Calls visit with every record key of the tree in memory, leaf by leaf.
Status eachRecord(const BTreeFile& tree, const std::function<void(const uint8_t* key)>& visit) {
    ChainGuard guard(tree.nodeCount());
    for (uint32_t n = loadBE32(tree.header.data() + header::kFirstLeaf); n != 0;) {
        const uint8_t* nd = viewNode(tree, n);
        if (!nd || !guard.visit(n) || nodeType(nd) != node::kTypeLeaf)
            return Fault{std::string(tree.isCatalog ? "catalog" : "extents") + " tree: the leaf chain reaches node " + std::to_string(n) +
                         ", which is no leaf of the tree"};
        for (uint16_t i = 0; i < nodeRecordCount(nd); ++i) visit(nd + nodeRecordOffset(nd, i));
        n = nodeForwardLink(nd);
    }
    return Status::ok();
}

uint32_t recordBlocks(const uint8_t* extents) {
    uint32_t blocks = 0;
    for (int i = 0; i < 3; ++i) blocks += loadBE16(extents + 4 * i + 2);
    return blocks;
}


// Who holds an extent record: a tree's own first extents in the MDB (tree "MDB", fork the
// tree's name), or a file's fork in the catalog or the extents tree.
struct ExtentOwner {
    const char* tree;
    uint32_t id;
    const char* fork;
};

// Calls fn for every extent record that may hold blocks: the trees' first extents in the MDB,
// both forks of every file in the catalog, every record of the extents tree.
Status eachExtentRecord(const VolumeContext& context, const std::function<void(const ExtentOwner&, const uint8_t*)>& fn) {
    VolumeState& volume = context.volume;
    if (Status s = beginExtentsEdit(context); !s) return s;
    if (Status s = beginTreeEdit(volume.catalog); !s) return s;
    fn({"MDB", kCatalogFileId, "catalog"}, volume.mdbCopy.data() + mdb::kCatalogExtents);
    fn({"MDB", kExtentsFileId, "extents tree"}, volume.mdbCopy.data() + mdb::kExtentsExtents);
    if (Status s = eachRecord(volume.catalog, [&](const uint8_t* key) {
            const uint8_t* data = recordData(key);
            if (data[0] != catrec::kFile) return;
            fn({"catalog", loadBE32(data + catrec::kFileId), "data"}, data + catrec::kDataExtents);
            fn({"catalog", loadBE32(data + catrec::kFileId), "resource"}, data + catrec::kRsrcExtents);
        });
        !s)
        return s;
    return eachRecord(volume.extents, [&](const uint8_t* key) {
        fn({"extents tree", loadBE32(key + extkey::kFileId), key[extkey::kForkType] == kDataFork ? "data" : "resource"},
           key + extkey::kRecordData);
    });
}

// Each block of an extent record that lies in the volume.
template <class Fn>
void eachBlock(const VolumeState& volume, const uint8_t* extents, Fn fn) {
    for (int i = 0; i < 3; ++i) {
        const uint32_t start = loadBE16(extents + 4 * i), count = loadBE16(extents + 4 * i + 2);
        for (uint32_t b = start; b < start + count && b < volume.mdb16(mdb::kAllocBlocks); ++b) fn(b);
    }
}

}  // namespace

Result<std::string> claimedFreeBlock(const VolumeContext& context) {
    VolumeState& volume = context.volume;
    std::string damage;
    Status walked = eachExtentRecord(context, [&](const ExtentOwner& owner, const uint8_t* extents) {
        std::optional<uint32_t> free;
        eachBlock(volume, extents, [&](uint32_t b) {
            if (!free && !blockTaken(volume, b)) free = b;
        });
        if (!free || !damage.empty()) return;
        damage = std::string(owner.tree) == "MDB"
                     ? std::string("MDB: the ") + owner.fork + "'s block " + std::to_string(*free) + " is free in the bitmap"
                     : std::string(owner.tree) + ": file " + std::to_string(owner.id) + ": its " + owner.fork + " fork's block " +
                           std::to_string(*free) + " is free in the bitmap";
    });
    if (!walked) return Fault{walked.fault()};
    return damage;
}

Result<std::string> sharedBlockOf(const VolumeContext& context, const uint8_t* fileRecord) {
    VolumeState& volume = context.volume;
    if (volume.sharedBlocks.empty()) {
        // How many claim each block, counted up to two.
        std::vector<uint8_t> claims(size_t{volume.mdb16(mdb::kAllocBlocks)} + 1, 0);
        Status walked = eachExtentRecord(context, [&](const ExtentOwner&, const uint8_t* extents) {
            eachBlock(volume, extents, [&](uint32_t b) { claims[b] = static_cast<uint8_t>(std::min(claims[b] + 1, 2)); });
        });
        if (!walked) return Fault{walked.fault()};
        for (uint8_t& c : claims) c = c > 1;
        volume.sharedBlocks = std::move(claims);
    }
    const uint32_t id = loadBE32(fileRecord + catrec::kFileId);
    std::string found;
    auto look = [&](const char* fork, const uint8_t* extents) {
        eachBlock(volume, extents, [&](uint32_t b) {
            if (found.empty() && volume.sharedBlocks[b])
                found = "file " + std::to_string(id) + ": its " + fork + " fork's block " + std::to_string(b) +
                        " belongs to another file or a tree too";
        });
    };
    look("data", fileRecord + catrec::kDataExtents);
    look("resource", fileRecord + catrec::kRsrcExtents);
    Status walked = eachRecord(volume.extents, [&](const uint8_t* key) {
        if (loadBE32(key + extkey::kFileId) == id) look(key[extkey::kForkType] == kDataFork ? "data" : "resource", key + extkey::kRecordData);
    });
    if (!walked) return Fault{walked.fault()};
    return found;
}

Status recountVolume(const VolumeContext& context) {
    VolumeState& volume = context.volume;
    if (Status s = loadVolumeBitmap(context); !s) return s;
    if (Status s = beginExtentsEdit(context); !s) return s;
    if (Status s = beginTreeEdit(volume.catalog); !s) return s;

    uint32_t files = 0, folders = 0, rootFiles = 0, rootFolders = 0;
    std::set<uint32_t> fileIds;
    std::vector<const uint8_t*> owned;  // extent records (three extents each) that hold blocks
    Status walked = eachRecord(volume.catalog, [&](const uint8_t* key) {
        const uint8_t* data = recordData(key);
        const bool inRoot = catalogKeyParent(key) == kRootDirId;
        if (data[0] == catrec::kFolder && loadBE32(data + catrec::kDirId) != kRootDirId) {
            ++folders;
            rootFolders += inRoot;
        } else if (data[0] == catrec::kFile) {
            ++files;
            rootFiles += inRoot;
            fileIds.insert(loadBE32(data + catrec::kFileId));
            owned.push_back(data + catrec::kDataExtents);
            owned.push_back(data + catrec::kRsrcExtents);
        }
    });
    if (!walked) return walked;

    // Extents records of forks that no longer exist: a delete cut between its two trees.
    std::set<std::pair<uint32_t, uint8_t>> orphans;
    uint32_t catalogOverflowBlocks = 0;
    walked = eachRecord(volume.extents, [&](const uint8_t* key) {
        const uint32_t id = loadBE32(key + extkey::kFileId);
        const bool volumeFile = id == kExtentsFileId || id == kCatalogFileId || id == kBadBlocksFileId;
        if (!volumeFile && !fileIds.count(id)) orphans.insert({id, key[extkey::kForkType]});
        if (id == kCatalogFileId && key[extkey::kForkType] == kDataFork) catalogOverflowBlocks += recordBlocks(key + extkey::kRecordData);
    });
    if (!walked) return walked;
    for (const auto& [id, fork] : orphans)
        if (Result<uint32_t> freed = removeExtentRecords(context, id, fork); !freed) return Fault{freed.fault()};

    // The bitmap again, from every extent that holds blocks now.
    std::fill(volume.bitmap.begin(), volume.bitmap.end(), 0);
    auto mark = [&](const uint8_t* extents) {
        for (int i = 0; i < 3; ++i) {
            const uint32_t start = loadBE16(extents + 4 * i), count = loadBE16(extents + 4 * i + 2);
            for (uint32_t b = start; b < start + count && b < volume.mdb16(mdb::kAllocBlocks); ++b)
                volume.bitmap[b / 8] |= static_cast<uint8_t>(0x80 >> (b % 8));
        }
    };
    for (const uint8_t* extents : owned) mark(extents);
    mark(volume.mdbCopy.data() + mdb::kExtentsExtents);
    mark(volume.mdbCopy.data() + mdb::kCatalogExtents);
    walked = eachRecord(volume.extents, [&](const uint8_t* key) { mark(key + extkey::kRecordData); });
    if (!walked) return walked;
    uint32_t freeCount = 0;
    for (uint32_t b = 0; b < volume.mdb16(mdb::kAllocBlocks); ++b) freeCount += (volume.bitmap[b / 8] & (0x80 >> (b % 8))) == 0;

    // A catalog whose new extent reached the extents tree before the MDB gave it its size.
    const uint32_t catalogBytes =
        (recordBlocks(volume.mdbCopy.data() + mdb::kCatalogExtents) + catalogOverflowBlocks) * volume.allocBlockSize;
    if (catalogBytes > volume.catalog.treeSize) {
        addTreeNodes(volume.catalog, (catalogBytes - volume.catalog.treeSize) / kNodeSize);
        storeBE32(volume.mdbCopy.data() + mdb::kCatalogSize, volume.catalog.treeSize);
    }
    // A tree file that grew before its header counted the new nodes.
    addTreeNodes(volume.catalog, 0);
    addTreeNodes(volume.extents, 0);

    uint8_t* m = volume.mdbCopy.data();
    storeBE16(m + mdb::kFreeBlocks, static_cast<uint16_t>(freeCount));
    storeBE32(m + mdb::kFileCount, files);
    storeBE32(m + mdb::kFolderCount, folders);
    storeBE16(m + mdb::kRootFiles, static_cast<uint16_t>(rootFiles));
    storeBE16(m + mdb::kRootFolders, static_cast<uint16_t>(rootFolders));
    return Status::ok();
}

}  // namespace quarry

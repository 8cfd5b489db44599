#include "hfsplus/volume_check.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

namespace quarry::hfsplus {
namespace {

// Problems of one kind are reported once per run of blocks or per record, and the list is cut
// short, so that a badly damaged volume still gives a readable answer.
inline constexpr size_t kMaxProblems = 500;
// The header node's records: the header, 128 bytes for the tree's owner, the node map.
inline constexpr size_t kHeaderMapRecord = 2;
// BSD owner flag of a compressed file (UF_COMPRESSED), and the decmpfs header: the magic 'cmpf',
// the compression type and the uncompressed size, little-endian as the kernel wrote them.
inline constexpr uint8_t kCompressedFlag = 0x20;
inline constexpr uint32_t kDecmpfsMagic = 0x636D7066;  // 'cmpf'
inline constexpr size_t kDecmpfsHeaderSize = 16;

// Apple's case-folding table for HFS+ names, as ranges: units from `first` to `last` (every
// `step`-th one) fold to themselves plus `delta`. Units the table maps to 0 (joiners, direction
// marks, the byte order mark) are ignored and listed apart; U+0000 folds to 0xFFFF. The table
// folds only letters without a canonical decomposition (stored names are decomposed, so É is
// E and a combining accent, and a precomposed É stays apart from é), and nothing past Unicode
// 2.0's letters: that is why it differs from today's Unicode case folding.
struct FoldRange {
    char16_t first, last;
    uint8_t step;
    int32_t delta;
};
constexpr FoldRange kFoldRanges[] = {
    {0x0041, 0x005A, 1, 0x20}, {0x00C6, 0x00C6, 1, 0x20}, {0x00D0, 0x00D0, 1, 0x20}, {0x00D8, 0x00D8, 1, 0x20},
    {0x00DE, 0x00DE, 1, 0x20},
    {0x0110, 0x0110, 1, 1}, {0x0126, 0x0126, 1, 1}, {0x0132, 0x0132, 1, 1}, {0x013F, 0x013F, 1, 1},
    {0x0141, 0x0141, 1, 1}, {0x014A, 0x014A, 1, 1}, {0x0152, 0x0152, 1, 1}, {0x0166, 0x0166, 1, 1},
    {0x0181, 0x0181, 1, 0xD2}, {0x0182, 0x0184, 2, 1}, {0x0186, 0x0186, 1, 0xCE}, {0x0187, 0x0187, 1, 1},
    {0x0189, 0x018A, 1, 0xCD}, {0x018B, 0x018B, 1, 1}, {0x018E, 0x018E, 1, 0x4F}, {0x018F, 0x018F, 1, 0xCA},
    {0x0190, 0x0190, 1, 0xCB}, {0x0191, 0x0191, 1, 1}, {0x0193, 0x0193, 1, 0xCD}, {0x0194, 0x0194, 1, 0xCF},
    {0x0196, 0x0196, 1, 0xD3}, {0x0197, 0x0197, 1, 0xD1}, {0x0198, 0x0198, 1, 1}, {0x019C, 0x019C, 1, 0xD3},
    {0x019D, 0x019D, 1, 0xD5}, {0x019F, 0x019F, 1, 0xD6}, {0x01A2, 0x01A4, 2, 1}, {0x01A7, 0x01A7, 1, 1},
    {0x01A9, 0x01A9, 1, 0xDA}, {0x01AC, 0x01AC, 1, 1}, {0x01AE, 0x01AE, 1, 0xDA}, {0x01B1, 0x01B2, 1, 0xD9},
    {0x01B3, 0x01B5, 2, 1}, {0x01B7, 0x01B7, 1, 0xDB}, {0x01B8, 0x01B8, 1, 1}, {0x01BC, 0x01BC, 1, 1},
    {0x01C4, 0x01C4, 1, 2}, {0x01C5, 0x01C5, 1, 1}, {0x01C7, 0x01C7, 1, 2}, {0x01C8, 0x01C8, 1, 1},
    {0x01CA, 0x01CA, 1, 2}, {0x01CB, 0x01CB, 1, 1}, {0x01E4, 0x01E4, 1, 1}, {0x01F1, 0x01F1, 1, 2},
    {0x01F2, 0x01F2, 1, 1},
    {0x0391, 0x03A1, 1, 0x20}, {0x03A3, 0x03A9, 1, 0x20}, {0x03E2, 0x03EE, 2, 1},
    {0x0402, 0x0402, 1, 0x50}, {0x0404, 0x0406, 1, 0x50}, {0x0408, 0x040B, 1, 0x50}, {0x040F, 0x040F, 1, 0x50},
    {0x0410, 0x0418, 1, 0x20}, {0x041A, 0x042F, 1, 0x20}, {0x0460, 0x0474, 2, 1}, {0x0478, 0x0480, 2, 1},
    {0x0490, 0x04BE, 2, 1},
    {0x04C3, 0x04C7, 4, 1}, {0x04CB, 0x04CB, 1, 1},
    {0x0531, 0x0556, 1, 0x30}, {0x10A0, 0x10C5, 1, 0x30}, {0x2160, 0x216F, 1, 0x10}, {0xFF21, 0xFF3A, 1, 0x20},
};

bool ignoredUnit(char16_t c) {
    return (c >= 0x200C && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x206A && c <= 0x206F) || c == 0xFEFF;
}

uint32_t foldUnit(char16_t c) {
    if (c == 0) return 0xFFFF;
    for (const FoldRange& r : kFoldRanges)
        if (c >= r.first && c <= r.last && (c - r.first) % r.step == 0) return static_cast<uint32_t>(c + r.delta);
    return c;
}

uint32_t be32(std::span<const uint8_t> s, size_t at) { return at + 4 <= s.size() ? loadBE32(s.data() + at) : 0; }
uint16_t be16(std::span<const uint8_t> s, size_t at) { return at + 2 <= s.size() ? loadBE16(s.data() + at) : 0; }

std::u16string unitsAt(std::span<const uint8_t> s, size_t lengthAt, size_t nameAt) {
    std::u16string out;
    const size_t n = be16(s, lengthAt);
    for (size_t i = 0; i < n && nameAt + 2 * i + 2 <= s.size(); ++i) out.push_back(static_cast<char16_t>(be16(s, nameAt + 2 * i)));
    return out;
}

template <class T>
int order(T a, T b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

enum class TreeKind { Catalog, Extents, Attributes };

// Negative, 0 or positive as key a sorts before, with or after key b in its tree.
int compareKeys(TreeKind kind, NameComparison comparison, std::span<const uint8_t> a, std::span<const uint8_t> b) {
    switch (kind) {
    case TreeKind::Catalog:
        if (int c = order(be32(a, catkey::kParentId), be32(b, catkey::kParentId))) return c;
        return compareNames(unitsAt(a, catkey::kNameLength, catkey::kName), unitsAt(b, catkey::kNameLength, catkey::kName),
                            comparison);
    case TreeKind::Extents:
        if (int c = order(be32(a, extkey::kFileId), be32(b, extkey::kFileId))) return c;
        if (int c = order(a.size() > extkey::kForkType ? a[extkey::kForkType] : 0, b.size() > extkey::kForkType ? b[extkey::kForkType] : 0)) return c;
        return order(be32(a, extkey::kStartBlock), be32(b, extkey::kStartBlock));
    case TreeKind::Attributes:
        if (int c = order(be32(a, attrkey::kFileId), be32(b, attrkey::kFileId))) return c;
        if (int c = compareNames(unitsAt(a, attrkey::kNameLength, attrkey::kName), unitsAt(b, attrkey::kNameLength, attrkey::kName),
                                 NameComparison::Binary))
            return c;
        return order(be32(a, attrkey::kStartBlock), be32(b, attrkey::kStartBlock));
    }
    return 0;
}

std::string blockRange(uint32_t first, uint32_t count) {
    return count == 1 ? "allocation block " + std::to_string(first)
                      : "allocation blocks " + std::to_string(first) + "-" + std::to_string(first + count - 1);
}

struct FolderInfo {
    uint32_t parent = 0;
    std::u16string name;
    uint32_t valence = 0;
    uint32_t entries = 0;
};

// A fork as the check sees it: who owns it, its fork data, and its runs as found.
struct ForkInfo {
    std::string owner;
    ForkData data;
    uint32_t fileId = 0;       // whose overflow records continue it (0: none can)
    uint8_t forkType = kDataForkType;
};

using OverflowKey = std::pair<uint32_t, uint8_t>;  // file ID, fork type

class Checker {
public:
    Checker(Medium& medium, Volume& volume) : medium_(medium), volume_(volume), figures_(volume.figures()) {}

    VolumeCheckResult run() {
        checkHeaders();
        if (BTree* extents = volume_.extentsTree()) checkTree(*extents, TreeKind::Extents);
        else problem("extents tree cannot be opened");
        checkTree(volume_.catalog(), TreeKind::Catalog);
        if (BTree* attributes = volume_.attributesTree()) checkTree(*attributes, TreeKind::Attributes);
        else if (!header_.empty() && loadBE64(&header_[vh::kAttributesFile + forkdata::kLogicalSize]) != 0)
            problem("attributes tree cannot be opened");
        checkCatalog();
        checkLinks();
        checkAllocation();
        if (figures_.journalReplayed)
            note("journal: transactions not yet written to the volume are pending; the volume is checked as they leave it");
        else if (figures_.journalPending) note("journal: transactions not yet written to the volume are pending");
        else if (!figures_.journalNote.empty()) note("journal: " + figures_.journalNote);
        return std::move(result_);
    }

private:
    void problem(std::string text) {
        if (result_.problems.size() < kMaxProblems) result_.problems.push_back(std::move(text));
    }
    bool locked() const { return figures_.softwareLocked; }
    // What is harmless on a volume nothing writes to again (a CD a mastering tool wrote once)
    // is a note there and a problem elsewhere, as the classic check has it.
    void note(std::string text) {
        if (result_.notes.size() < kMaxProblems) result_.notes.push_back(std::move(text));
    }
    void lockedNote(std::string text) {
        if (locked()) note("locked volume: " + text);
        else problem(std::move(text));
    }

    std::vector<uint8_t> headerAt(uint64_t offset) {
        std::vector<uint8_t> h(vh::kSize);
        if (Status s = medium_.read(offset, h); !s) return {};
        return h;
    }

    // The volume header and its alternate, 1024 bytes before the volume's end.
    void checkHeaders() {
        const uint64_t start = figures_.location.volumeStart;
        header_ = headerAt(start + vh::kOffset);
        if (header_.empty()) {
            problem("volume header cannot be read");
            return;
        }
        const uint16_t signature = loadBE16(&header_[vh::kSignature]);
        const uint16_t version = loadBE16(&header_[vh::kVersion]);
        if (signature != vh::kPlusSignature && signature != vh::kHfsxSignature) problem("volume header: unknown signature");
        else if (version != (signature == vh::kPlusSignature ? vh::kPlusVersion : vh::kHfsxVersion))
            problem("volume header: version " + std::to_string(version) + " does not go with its signature");
        const uint32_t blockSize = figures_.blockSize;
        if (blockSize < 512 || (blockSize & (blockSize - 1)) != 0)
            problem("volume header: block size " + std::to_string(blockSize) + " is not a power of two of at least 512");
        if (figures_.freeBlocks > figures_.totalBlocks)
            problem("volume header: " + std::to_string(figures_.freeBlocks) + " free blocks of " + std::to_string(figures_.totalBlocks));
        if (const uint64_t size = medium_.size(); size != 0 && figures_.volumeBytes > size - std::min(size, start))
            problem("volume header: " + std::to_string(figures_.totalBlocks) + " blocks run past the medium's end");
        if (figures_.volumeBytes < 2 * vh::kOffset) return;
        const uint64_t alternateAt = start + figures_.volumeBytes - vh::kOffset;
        std::vector<uint8_t> alternate = headerAt(alternateAt);
        const std::string where = "alternate volume header at byte " + std::to_string(alternateAt);
        if (alternate.empty()) {
            problem(where + ": cannot be read");
            return;
        }
        // What formatting fixed must agree; the rest (counts, dates, the trees' sizes) may lag
        // behind, as the alternate is rewritten only when the volume's size changes.
        struct Field {
            const char* name;
            size_t offset, size;
        };
        static constexpr Field kAgree[] = {
            {"signature", vh::kSignature, 2}, {"version", vh::kVersion, 2}, {"creation date", vh::kCreateDate, 4},
            {"block size", vh::kBlockSize, 4}, {"block count", vh::kTotalBlocks, 4},
        };
        for (const Field& f : kAgree)
            if (!std::equal(&header_[f.offset], &header_[f.offset] + f.size, &alternate[f.offset]))
                problem(where + ": " + f.name + " differs from the volume header's");
    }

    // One tree, level by level from the root: nodes, heights, sibling links, key order along
    // each level, index keys against their children's first keys, the header's figures and map.
    void checkTree(BTree& tree, TreeKind kind) {
        const BTreeHeader& h = tree.header();
        const std::string& name = tree.name();
        auto nodeProblem = [&](uint32_t n, const std::string& text) { problem(name + " node " + std::to_string(n) + ": " + text); };
        const NameComparison comparison = kind == TreeKind::Catalog ? volume_.comparison() : NameComparison::Binary;
        if (kind == TreeKind::Catalog && figures_.hfsx && h.keyCompareType != btheader::kCaseFolding &&
            h.keyCompareType != btheader::kBinaryCompare)
            problem(name + " header: unknown key comparison " + std::to_string(h.keyCompareType));
        if (h.freeNodes > h.totalNodes)
            problem(name + " header: " + std::to_string(h.freeNodes) + " free nodes of " + std::to_string(h.totalNodes));
        // The reader serves only the nodes the fork holds; a header that counts more is damaged.
        if (h.totalNodes > tree.nodeCount())
            problem(name + " header: counts " + std::to_string(h.totalNodes) + " nodes, the tree's fork holds " +
                    std::to_string(tree.nodeCount()));
        for (auto [what, n] : std::initializer_list<std::pair<const char*, uint32_t>>{{"root", h.root}, {"first leaf", h.firstLeaf}, {"last leaf", h.lastLeaf}})
            if (n >= h.totalNodes) problem(name + " header: " + what + " " + std::to_string(n) + " lies past the tree's " +
                                           std::to_string(h.totalNodes) + " nodes");
        if ((h.depth == 0) != (h.root == 0) || (h.depth == 0 && (h.firstLeaf || h.lastLeaf || h.leafRecords)))
            problem(name + " header: depth " + std::to_string(h.depth) + " does not go with root " + std::to_string(h.root));

        std::set<uint32_t> reached{0};
        uint32_t leafRecords = 0;
        std::vector<uint32_t> level;
        if (h.depth != 0 && h.root < tree.nodeCount()) level.push_back(h.root);
        std::map<uint32_t, std::vector<uint8_t>> expectedFirstKey;  // child -> its index key
        bool whole = true;
        for (int height = h.depth; !level.empty(); --height) {
            if (height == 0) {
                nodeProblem(level.front(), "below the leaves");
                whole = false;
                break;
            }
            std::vector<uint32_t> below;
            std::optional<std::vector<uint8_t>> previousKey;
            std::map<uint32_t, std::vector<uint8_t>> nextExpected;
            for (size_t i = 0; i < level.size(); ++i) {
                const uint32_t n = level[i];
                if (!reached.insert(n).second) {
                    nodeProblem(n, "reached twice in the tree");
                    whole = false;
                    continue;
                }
                Result<Node> node = tree.readNode(n);
                if (!node) {
                    problem(node.fault());
                    whole = false;
                    continue;
                }
                const int8_t wantKind = height == 1 ? btnode::kLeaf : btnode::kIndex;
                if (node->kind != wantKind || node->height != height) {
                    nodeProblem(n, std::string("a ") + (node->kind == btnode::kLeaf ? "leaf" : "node of kind " + std::to_string(node->kind)) +
                                       " of height " + std::to_string(node->height) + " where the tree has " +
                                       (height == 1 ? "a leaf" : "an index node") + " of height " + std::to_string(height));
                    whole = false;
                    continue;
                }
                const uint32_t wantBack = i > 0 ? level[i - 1] : 0, wantForward = i + 1 < level.size() ? level[i + 1] : 0;
                if (node->bLink != wantBack || node->fLink != wantForward)
                    nodeProblem(n, "sibling links " + std::to_string(node->bLink) + "/" + std::to_string(node->fLink) +
                                       ", its level has " + std::to_string(wantBack) + "/" + std::to_string(wantForward));
                if (node->records.empty()) nodeProblem(n, "holds no records");
                if (auto expected = expectedFirstKey.find(n); expected != expectedFirstKey.end() && !node->records.empty() &&
                                                              compareKeys(kind, comparison, expected->second, node->key(0)) != 0)
                    nodeProblem(n, "its first key differs from the index key that leads to it");
                for (size_t r = 0; r < node->records.size(); ++r) {
                    std::span<const uint8_t> key = node->key(r);
                    if (previousKey && compareKeys(kind, comparison, *previousKey, key) >= 0) {
                        nodeProblem(n, "keys out of order at record " + std::to_string(r));
                    }
                    previousKey.emplace(key.begin(), key.end());
                    if (height > 1) {
                        const uint32_t child = loadBE32(node->data(r).data());
                        below.push_back(child);
                        nextExpected[child].assign(key.begin(), key.end());
                    } else {
                        ++leafRecords;
                        leafRecord(kind, n, r, key, node->data(r));
                    }
                }
            }
            if (height == 1 && !level.empty() && (level.front() != h.firstLeaf || level.back() != h.lastLeaf))
                problem(name + " header: leaves " + std::to_string(h.firstLeaf) + "-" + std::to_string(h.lastLeaf) +
                        ", the tree's leaf level runs " + std::to_string(level.front()) + "-" + std::to_string(level.back()));
            level = std::move(below);
            expectedFirstKey = std::move(nextExpected);
        }
        if (whole && leafRecords != h.leafRecords)
            problem(name + " header: " + std::to_string(h.leafRecords) + " leaf records, the leaves hold " + std::to_string(leafRecords));
        if (!whole) incomplete_.insert(kind);
        checkNodeMap(tree, kind, reached);
    }

    // The node map in the header node and the map nodes that continue it, against the nodes
    // the tree reached.
    void checkNodeMap(BTree& tree, TreeKind kind, const std::set<uint32_t>& reached) {
        const BTreeHeader& h = tree.header();
        std::vector<uint8_t> map;
        std::set<uint32_t> mapNodes;
        std::set<uint32_t> seen;
        uint32_t n = 0;
        do {
            if (!seen.insert(n).second || n >= tree.nodeCount()) {
                problem(tree.name() + " node map: map node chain breaks at node " + std::to_string(n));
                return;
            }
            Result<Node> node = tree.readNode(n);
            if (!node) {
                problem(node.fault());
                return;
            }
            const size_t record = n == 0 ? kHeaderMapRecord : 0;
            const std::vector<uint8_t>& b = node->bytes;
            if (loadBE16(&b[btnode::kNumRecords]) <= record || (n != 0 && node->kind != btnode::kMap)) {
                problem(tree.name() + " node " + std::to_string(n) + ": not a map node");
                return;
            }
            const uint16_t from = loadBE16(&b[b.size() - 2 - 2 * record]), to = loadBE16(&b[b.size() - 4 - 2 * record]);
            map.insert(map.end(), b.begin() + from, b.begin() + to);
            if (n != 0) mapNodes.insert(n);
            n = node->fLink;
        } while (n != 0);
        auto marked = [&](uint32_t node) { return node / 8 < map.size() && (map[node / 8] & (0x80 >> (node % 8))) != 0; };
        uint32_t used = 0, leaked = 0;
        // Only the nodes the fork holds: a header may claim four billion.
        for (uint32_t node = 0; node < tree.nodeCount(); ++node) {
            const bool isUsed = reached.count(node) || mapNodes.count(node);
            if (marked(node)) {
                ++used;
                if (!isUsed) ++leaked;
            } else if (isUsed) {
                problem(tree.name() + " node " + std::to_string(node) + ": in use but free in the node map");
            }
        }
        if (tree.nodeCount() > map.size() * 8) problem(tree.name() + " node map: too short for " + std::to_string(h.totalNodes) + " nodes");
        if (h.totalNodes == tree.nodeCount() && used + h.freeNodes != h.totalNodes)
            problem(tree.name() + " header: " + std::to_string(h.freeNodes) + " free nodes, the node map has " +
                    std::to_string(h.totalNodes - std::min(used, h.totalNodes)));
        if (leaked != 0 && !incomplete_.count(kind))
            note(tree.name() + ": " + std::to_string(leaked) + " node(s) marked in use that the tree does not reach");
    }

    void leafRecord(TreeKind kind, uint32_t node, size_t record, std::span<const uint8_t> key, std::span<const uint8_t> data) {
        const std::string where = std::string(kind == TreeKind::Catalog ? "catalog" : kind == TreeKind::Extents ? "extents" : "attributes") +
                                  " node " + std::to_string(node) + " record " + std::to_string(record);
        if (kind == TreeKind::Extents) {
            if (data.size() < kExtentRecordSize || key.size() < extkey::kSize) {
                problem(where + ": too short for an extent record");
                return;
            }
            overflow_[{be32(key, extkey::kFileId), key[extkey::kForkType]}].emplace_back(be32(key, extkey::kStartBlock), extentRecordAt(data.data()));
            return;
        }
        if (kind == TreeKind::Attributes) {
            const uint32_t id = be32(key, attrkey::kFileId);
            const std::string owner = "attribute " + utf16ToUtf8(unitsAt(key, attrkey::kNameLength, attrkey::kName)) + " of ID " + std::to_string(id);
            const uint32_t type = be32(data, attrrec::kType);
            if (type == attrrec::kForkData && data.size() >= attrrec::kFork + forkdata::kSize)
                attributeForks_[owner] = {owner, forkDataAt(data.data() + attrrec::kFork), 0, 0};
            else if (type == attrrec::kExtents && data.size() >= attrrec::kExtentRecord + kExtentRecordSize)
                attributeExtents_[owner].emplace_back(be32(key, attrkey::kStartBlock), extentRecordAt(data.data() + attrrec::kExtentRecord));
            else if (type != attrrec::kInlineData)
                problem(where + ": unknown attribute record type " + std::to_string(type));
            return;
        }
        Result<CatalogKey> k = decodeCatalogKey(key);
        if (!k) {
            problem(where + ": " + k.fault());
            return;
        }
        const uint16_t type = catalogRecordType(data);
        if (type == catrec::kFolderThread || type == catrec::kFileThread) {
            Result<CatalogThread> t = decodeCatalogThread(data);
            if (!t) problem(where + ": " + t.fault());
            else if (!k->name.empty()) problem(where + ": thread record with a name in its key");
            else if (!threads_.emplace(k->parentId, *t).second) problem(where + ": second thread for ID " + std::to_string(k->parentId));
            return;
        }
        if (type != catrec::kFolder && type != catrec::kFile) {
            problem(where + ": unknown record type " + std::to_string(type));
            return;
        }
        Result<CatalogRecord> r = decodeCatalogRecord(*k, data);
        if (!r) {
            problem(where + ": " + r.fault());
            return;
        }
        if (folders_.count(r->id) || files_.count(r->id)) problem(where + ": ID " + std::to_string(r->id) + " is used twice");
        if (r->isFolder()) folders_[r->id] = {r->parentId, r->storedName, r->valence, 0};
        else files_.emplace(r->id, std::move(*r));
    }

    void checkCatalog() {
        if (incomplete_.count(TreeKind::Catalog)) {
            problem("catalog: threads, counts and valences not checked, the tree cannot be read whole");
            return;
        }
        auto what = [](bool folder, uint32_t id) { return std::string("catalog: ") + (folder ? "folder " : "file ") + std::to_string(id); };
        auto checkThread = [&](bool folder, uint32_t id, uint32_t parent, const std::u16string& name) {
            auto t = threads_.find(id);
            if (t == threads_.end()) return problem(what(folder, id) + " has no thread");
            if (t->second.folder != folder) problem(what(folder, id) + ": its thread is of the other kind");
            if (t->second.parentId != parent)
                problem(what(folder, id) + ": its thread names parent " + std::to_string(t->second.parentId) + ", its record lies in " +
                        std::to_string(parent));
            if (t->second.name != name) problem(what(folder, id) + ": its thread names it otherwise");
        };
        for (const auto& [id, f] : folders_) checkThread(true, id, f.parent, f.name);
        for (const auto& [id, f] : files_) checkThread(false, id, f.parentId, f.storedName);
        for (const auto& [id, t] : threads_)
            if (!folders_.count(id) && !files_.count(id)) problem(what(t.folder, id) + ": a thread without its record");
        if (!folders_.count(cnid::kRootFolder)) problem("catalog: no root folder");
        uint32_t highest = 0;
        for (auto& [id, f] : folders_) {
            highest = std::max(highest, id);
            if (auto parent = folders_.find(f.parent); parent != folders_.end()) ++parent->second.entries;
            else if (id != cnid::kRootFolder) problem(what(true, id) + ": its parent " + std::to_string(f.parent) + " is no folder");
        }
        for (const auto& [id, f] : files_) {
            highest = std::max(highest, id);
            if (auto parent = folders_.find(f.parentId); parent != folders_.end()) ++parent->second.entries;
            else problem(what(false, id) + ": its parent " + std::to_string(f.parentId) + " is no folder");
        }
        for (const auto& [id, f] : folders_)
            if (f.valence != f.entries)
                problem(what(true, id) + " has valence " + std::to_string(f.valence) + " but holds " + std::to_string(f.entries));
        // The header counts neither the root folder nor, being a catalog ID, anything below 16.
        const uint32_t folderCount = static_cast<uint32_t>(folders_.size()) - (folders_.count(cnid::kRootFolder) ? 1 : 0);
        if (figures_.folderCount != folderCount)
            problem("volume header: " + std::to_string(figures_.folderCount) + " folders, the catalog holds " + std::to_string(folderCount));
        if (figures_.fileCount != files_.size())
            problem("volume header: " + std::to_string(figures_.fileCount) + " files, the catalog holds " + std::to_string(files_.size()));
        if (highest >= figures_.nextCatalogId)
            problem("volume header: next catalog ID " + std::to_string(figures_.nextCatalogId) + " is not above ID " + std::to_string(highest));
    }

    // Hard links against their iNode and dir_ targets, and the decmpfs headers of compressed files.
    void checkLinks() {
        std::map<std::u16string, std::pair<uint32_t, uint32_t>> links;  // target name -> (links found, private folder)
        for (const auto& [id, f] : files_) {
            if (f.isHardLink() || f.isFolderLink()) {
                const std::string target = (f.isHardLink() ? "iNode" : "dir_") + std::to_string(f.bsd.special);
                auto& [count, folder] = links[utf8ToUtf16(target)];
                ++count;
                folder = f.isHardLink() ? volume_.privateDataFolder() : volume_.privateDirectoryFolder();
            }
            if (f.bsd.ownerFlags & kCompressedFlag) checkDecmpfs(f);
        }
        for (const auto& [target, found] : links) {
            const std::string name = utf16ToUtf8(target);
            Result<std::optional<CatalogRecord>> r = found.second ? volume_.child(found.second, target) : Result<std::optional<CatalogRecord>>(std::nullopt);
            if (!r) {
                problem("hard link target " + name + ": " + r.fault());
            } else if (!*r) {
                problem("hard link target " + name + ": not in its private folder, " + std::to_string(found.first) + " link(s) lead to it");
            } else if ((*r)->bsd.special != found.first) {
                problem("hard link target " + name + ": link count " + std::to_string((*r)->bsd.special) + ", " +
                        std::to_string(found.first) + " link(s) lead to it");
            }
        }
    }

    void checkDecmpfs(const CatalogRecord& f) {
        const std::string what = "compressed file " + std::to_string(f.id);
        Result<std::optional<Attribute>> a = volume_.attribute(f.id, u"com.apple.decmpfs");
        if (!a) return problem(what + ": " + a.fault());
        if (!*a) return problem(what + ": no com.apple.decmpfs attribute");
        Result<std::vector<uint8_t>> bytes = volume_.attributeBytes(f.id, **a, 1u << 24);
        if (!bytes) return problem(what + ": " + bytes.fault());
        const std::vector<uint8_t>& b = *bytes;
        auto le32 = [&](size_t at) { return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24; };
        if (b.size() < kDecmpfsHeaderSize) return problem(what + ": decmpfs header of " + std::to_string(b.size()) + " bytes");
        if (le32(0) != kDecmpfsMagic) return problem(what + ": decmpfs header without its magic");
        const uint32_t type = le32(4);
        // Odd types keep the compressed bytes in the attribute, even ones in the resource fork.
        static constexpr uint32_t kKnown[] = {1, 3, 4, 7, 8, 9, 10, 11, 12, 13, 14};
        if (std::find(std::begin(kKnown), std::end(kKnown), type) == std::end(kKnown))
            return problem(what + ": unknown decmpfs type " + std::to_string(type));
        if (f.dataFork.logicalSize != 0) problem(what + ": data fork of " + std::to_string(f.dataFork.logicalSize) + " bytes");
        if (type % 2 == 0 && f.resourceFork.logicalSize == 0) problem(what + ": decmpfs type " + std::to_string(type) + " without a resource fork");
        if (type % 2 == 1 && type != 1 && b.size() == kDecmpfsHeaderSize) problem(what + ": decmpfs type " + std::to_string(type) + " without its data");
    }

    // Every fork's extents, continued by its overflow records, claimed in a map of the volume's
    // blocks; then that map against the allocation file.
    void checkAllocation() {
        if (incomplete_.count(TreeKind::Extents)) {
            problem("allocation not checked, the extents tree cannot be read whole");
            return;
        }
        if (header_.empty() || figures_.blockSize == 0) return;
        const uint32_t total = figures_.totalBlocks;
        // A map of the volume's blocks is made only for a volume the medium holds (said above
        // otherwise), so that a header's block count cannot ask for more memory than the image.
        if (const uint64_t size = medium_.size(); size == 0 || figures_.volumeBytes > size - std::min(size, figures_.location.volumeStart)) {
            problem("allocation not checked, the volume's size is not known to fit the medium");
            return;
        }
        std::vector<ForkInfo> forks;
        const std::pair<const char*, std::pair<size_t, uint32_t>> special[] = {
            {"allocation file", {vh::kAllocationFile, cnid::kAllocationFile}}, {"extents tree", {vh::kExtentsFile, 0}},
            {"catalog tree", {vh::kCatalogFile, cnid::kCatalogFile}}, {"attributes tree", {vh::kAttributesFile, cnid::kAttributesFile}},
            {"startup file", {vh::kStartupFile, cnid::kStartupFile}}};
        for (const auto& [owner, place] : special)
            forks.push_back({owner, forkDataAt(&header_[place.first]), place.second, kDataForkType});
        for (const auto& [id, f] : files_) {
            forks.push_back({"file " + std::to_string(id) + " data fork", f.dataFork, id, kDataForkType});
            forks.push_back({"file " + std::to_string(id) + " resource fork", f.resourceFork, id, kResourceForkType});
        }
        for (auto& [owner, fork] : attributeForks_) forks.push_back(fork);

        std::vector<int32_t> owner(total, -1);
        std::vector<Extent> bitmapRuns;
        for (size_t i = 0; i < forks.size(); ++i) {
            std::vector<Extent> runs = claimFork(forks[i], static_cast<int32_t>(i), owner, forks);
            if (i == 0) bitmapRuns = runs;
        }
        for (const auto& [key, records] : overflow_)
            problem("extents: " + std::to_string(records.size()) + " record(s) of file " + std::to_string(key.first) +
                    (key.second == kResourceForkType ? " resource fork" : " data fork") + ", which does not exist");
        for (const auto& [name, records] : attributeExtents_)
            problem("attributes: " + std::to_string(records.size()) + " extent record(s) of " + name + ", which has no fork");

        // The volume header's own blocks (its first 1536 bytes) and the alternate's (its last 1024).
        const uint32_t bs = figures_.blockSize;
        std::vector<bool> reserved(total, false);
        for (uint32_t b = 0; b < total && uint64_t{b} * bs < vh::kOffset + vh::kSize; ++b) reserved[b] = true;
        for (uint32_t b = static_cast<uint32_t>((figures_.volumeBytes - vh::kOffset) / bs); b < total; ++b) reserved[b] = true;

        std::vector<uint8_t> bitmap;
        const uint64_t bitmapBytes = (uint64_t{total} + 7) / 8;
        for (const Extent& e : bitmapRuns) {
            if (bitmap.size() >= bitmapBytes) break;
            std::vector<uint8_t> bytes(std::min<uint64_t>(uint64_t{e.blockCount} * bs, bitmapBytes - bitmap.size()));
            if (Status s = medium_.read(volume_.geometry().blockOffset(e.startBlock), bytes); !s) {
                problem("allocation file: " + s.fault());
                return;
            }
            bitmap.insert(bitmap.end(), bytes.begin(), bytes.end());
        }
        if (bitmap.size() * 8 < total) {
            problem("allocation file: " + std::to_string(bitmap.size() * 8) + " bits for " + std::to_string(total) + " blocks");
            return;
        }
        auto marked = [&](uint32_t b) { return (bitmap[b / 8] & (0x80 >> (b % 8))) != 0; };
        uint32_t clear = 0, leaked = 0;
        for (uint32_t b = 0; b < total; ++b) {
            if (!marked(b)) ++clear;
            else if (owner[b] < 0 && !reserved[b]) ++leaked;
        }
        for (uint32_t b = 0; b < total;) {
            if (marked(b) || (owner[b] < 0 && !reserved[b])) {
                ++b;
                continue;
            }
            uint32_t run = 1;
            while (b + run < total && !marked(b + run) && owner[b + run] == owner[b] && (owner[b] >= 0 || reserved[b + run])) ++run;
            const std::string who = owner[b] >= 0 ? forks[static_cast<size_t>(owner[b])].owner : "the volume header";
            lockedNote("allocation file: " + blockRange(b, run) + " of " + who + (run == 1 ? " is" : " are") + " free in the map");
            b += run;
        }
        if (leaked != 0) note("allocation file: " + std::to_string(leaked) + " block(s) marked in use that no fork holds");
        if (clear != figures_.freeBlocks)
            lockedNote("volume header: " + std::to_string(figures_.freeBlocks) + " free blocks, the allocation file has " +
                       std::to_string(clear) + " clear");
    }

    // Claims a fork's blocks in `owner` and returns its extents, overflow records included.
    std::vector<Extent> claimFork(const ForkInfo& fork, int32_t index, std::vector<int32_t>& owner, const std::vector<ForkInfo>& forks) {
        std::vector<Extent> runs;
        uint64_t blocks = 0;
        auto take = [&](const ExtentRecord& record) {
            for (const Extent& e : record)
                if (e.blockCount != 0) {
                    runs.push_back(e);
                    blocks += e.blockCount;
                }
        };
        take(fork.data.extents);
        std::vector<std::pair<uint32_t, ExtentRecord>> more;
        if (fork.fileId != 0) {
            if (auto found = overflow_.find({fork.fileId, fork.forkType}); found != overflow_.end()) {
                more = std::move(found->second);
                overflow_.erase(found);
            }
        } else if (auto found = attributeExtents_.find(fork.owner); found != attributeExtents_.end()) {
            more = std::move(found->second);
            attributeExtents_.erase(found);
        }
        std::sort(more.begin(), more.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [start, record] : more) {
            if (start != blocks)
                problem(fork.owner + ": overflow record starts at fork block " + std::to_string(start) + ", its extents before it hold " +
                        std::to_string(blocks));
            take(record);
        }
        if (blocks != fork.data.totalBlocks)
            problem(fork.owner + ": " + std::to_string(fork.data.totalBlocks) + " blocks in its fork data, its extents hold " + std::to_string(blocks));
        if (fork.data.logicalSize > blocks * figures_.blockSize)
            problem(fork.owner + ": " + std::to_string(fork.data.logicalSize) + " bytes do not fit in its " + std::to_string(blocks) + " blocks");
        const uint32_t total = figures_.totalBlocks;
        size_t shared = 0;
        for (const Extent& e : runs) {
            if (e.startBlock >= total || e.blockCount > total - e.startBlock) {
                problem(fork.owner + ": " + blockRange(e.startBlock, e.blockCount) + " run past the volume's " + std::to_string(total) + " blocks");
                continue;
            }
            for (uint32_t b = e.startBlock; b < e.startBlock + e.blockCount; ++b) {
                if (owner[b] >= 0 && owner[b] != index) {
                    if (shared++ == 0)
                        problem(fork.owner + ": " + blockRange(b, 1) + " also belongs to " + forks[static_cast<size_t>(owner[b])].owner);
                    continue;
                }
                owner[b] = index;
            }
        }
        return runs;
    }

    Medium& medium_;
    Volume& volume_;
    const VolumeFigures& figures_;
    VolumeCheckResult result_;
    std::vector<uint8_t> header_;
    std::set<TreeKind> incomplete_;
    std::map<uint32_t, FolderInfo> folders_;
    std::map<uint32_t, CatalogRecord> files_;
    std::map<uint32_t, CatalogThread> threads_;
    std::map<OverflowKey, std::vector<std::pair<uint32_t, ExtentRecord>>> overflow_;
    std::map<std::string, ForkInfo> attributeForks_;
    std::map<std::string, std::vector<std::pair<uint32_t, ExtentRecord>>> attributeExtents_;
};

}  // namespace

int compareNames(std::u16string_view a, std::u16string_view b, NameComparison comparison) {
    if (comparison == NameComparison::Binary) {
        const int c = a.compare(b);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    size_t i = 0, j = 0;
    // Each side's next folded unit, ignorable ones passed over; 0 at the end, below every unit.
    auto next = [](std::u16string_view s, size_t& at) -> uint32_t {
        while (at < s.size()) {
            const char16_t c = s[at++];
            if (!ignoredUnit(c)) return foldUnit(c);
        }
        return 0;
    };
    for (;;) {
        const uint32_t x = next(a, i), y = next(b, j);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

VolumeCheckResult checkVolume(Medium& medium, Volume& volume) { return Checker(medium, volume).run(); }

}  // namespace quarry::hfsplus

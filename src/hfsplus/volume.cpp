#include "hfsplus/volume.h"

#include <algorithm>
#include <bit>
#include <set>

namespace quarry::hfsplus {
namespace {

// The names of the root's private folders: hard-linked files' iNodes, hard-linked folders.
const std::u16string kPrivateDataName = std::u16string(4, u'\0') + u"HFS+ Private Data";
const std::u16string kPrivateDirectoryName = u".HFS+ Private Directory Data\r";

// A symbolic link's target is a path; Mac OS keeps it within PATH_MAX.
constexpr uint64_t kMaxSymlinkTarget = 4096;
// Links are followed at most this far: an iNode that is itself a link is damage, and a chain of
// them must not go on for ever.
constexpr int kMaxLinkSteps = 8;

std::string forkName(uint32_t id, uint8_t forkType) {
    return "file " + std::to_string(id) + (forkType == kResourceForkType ? ", resource fork" : ", data fork");
}

// Orders catalog keys against (parent, empty name): the thread record, which begins a folder's
// records, or the first record of the folder when its thread is missing.
KeyOrder catalogStart(uint32_t parent) {
    return [parent](std::span<const uint8_t> key) {
        const uint32_t p = catalogKeyParent(key);
        if (p != parent) return p < parent ? -1 : 1;
        return key.size() >= catkey::kName && loadBE16(key.data() + catkey::kNameLength) == 0 ? 0 : 1;
    };
}

}  // namespace

Result<VolumeLocation> locateVolume(Medium& medium, uint64_t start) {
    std::vector<uint8_t> sector(vh::kSize);
    if (Status s = medium.read(start + vh::kOffset, sector); !s) return Fault{"volume header: " + s.fault()};
    VolumeLocation where{start, false, start};
    const uint16_t signature = loadBE16(&sector[vh::kSignature]);
    if (signature == wrapper::kMdbSignature) {
        if (loadBE16(&sector[wrapper::kEmbedSignature]) != vh::kPlusSignature)
            return Fault{"the HFS volume at byte " + std::to_string(start) + " holds no HFS+ volume"};
        const uint32_t blockSize = loadBE32(&sector[wrapper::kAllocBlockSize]);
        const uint16_t allocStart = loadBE16(&sector[wrapper::kAllocStart]);
        const uint16_t embedStart = loadBE16(&sector[wrapper::kEmbedExtent]);
        if (blockSize == 0 || blockSize % 512 != 0)
            return Fault{"HFS wrapper: allocation block size " + std::to_string(blockSize) + " is not a multiple of 512"};
        where.wrapped = true;
        where.volumeStart = start + uint64_t{allocStart} * 512 + uint64_t{embedStart} * blockSize;
        if (Status s = medium.read(where.volumeStart + vh::kOffset, sector); !s) return Fault{"embedded volume header: " + s.fault()};
        if (loadBE16(&sector[vh::kSignature]) != vh::kPlusSignature)
            return Fault{"HFS wrapper: no HFS+ volume header at byte " + std::to_string(where.volumeStart + vh::kOffset)};
        return where;
    }
    if (signature != vh::kPlusSignature && signature != vh::kHfsxSignature)
        return Fault{"no HFS+ volume header at byte " + std::to_string(start + vh::kOffset)};
    return where;
}

void Volume::note(std::string text) {
    if (std::find(damage_.begin(), damage_.end(), text) == damage_.end()) damage_.push_back(std::move(text));
}

std::vector<std::string> Volume::damage() const {
    std::vector<std::string> all = damage_;
    for (const BTree* tree : {extents_.get(), catalog_.get(), attributes_.get()})
        if (tree)
            for (const std::string& d : tree->damage())
                if (std::find(all.begin(), all.end(), d) == all.end()) all.push_back(d);
    return all;
}

Result<std::unique_ptr<Volume>> Volume::open(Medium& medium, uint64_t start) {
    Result<VolumeLocation> where = locateVolume(medium, start);
    if (!where) return Fault{where.fault()};
    std::unique_ptr<Volume> volume(new Volume(medium));
    Volume& v = *volume;
    v.header_.resize(vh::kSize);
    if (Status s = medium.read(where->volumeStart + vh::kOffset, v.header_); !s) return Fault{"volume header: " + s.fault()};
    const uint8_t* h = v.header_.data();
    VolumeFigures& f = v.figures_;
    f.location = *where;
    const uint16_t signature = loadBE16(h + vh::kSignature);
    f.version = loadBE16(h + vh::kVersion);
    f.hfsx = signature == vh::kHfsxSignature;
    if ((f.hfsx && f.version != vh::kHfsxVersion) || (!f.hfsx && f.version != vh::kPlusVersion))
        return Fault{"volume header: version " + std::to_string(f.version) + " of " + (f.hfsx ? "HFSX" : "HFS+") +
                     " is not one this program reads"};
    f.attributes = loadBE32(h + vh::kAttributes);
    f.lastMountedVersion = loadBE32(h + vh::kLastMountedVersion);
    f.createdLocal = loadBE32(h + vh::kCreateDate);
    f.modified = macInstant(loadBE32(h + vh::kModifyDate));
    f.backedUp = macInstant(loadBE32(h + vh::kBackupDate));
    f.checked = macInstant(loadBE32(h + vh::kCheckedDate));
    f.fileCount = loadBE32(h + vh::kFileCount);
    f.folderCount = loadBE32(h + vh::kFolderCount);
    f.blockSize = loadBE32(h + vh::kBlockSize);
    f.totalBlocks = loadBE32(h + vh::kTotalBlocks);
    f.freeBlocks = loadBE32(h + vh::kFreeBlocks);
    f.nextCatalogId = loadBE32(h + vh::kNextCatalogId);
    f.writeCount = loadBE32(h + vh::kWriteCount);
    f.encodingsBitmap = loadBE64(h + vh::kEncodingsBitmap);
    f.journaled = (f.attributes & vh::kJournaledBit) != 0;
    f.softwareLocked = (f.attributes & vh::kSoftwareLockBit) != 0;
    f.cleanlyUnmounted = (f.attributes & vh::kUnmountedBit) != 0;
    // Every address on the volume is computed from the block size: one that is no power of two
    // from 512 on is no volume at all.
    if (f.blockSize < 512 || !std::has_single_bit(f.blockSize))
        return Fault{"volume header: block size " + std::to_string(f.blockSize) + " is not a power of two from 512 on"};
    if (f.totalBlocks == 0) return Fault{"volume header: the volume has no blocks"};
    f.volumeBytes = uint64_t{f.totalBlocks} * f.blockSize;
    v.geometry_ = {where->volumeStart, f.blockSize, f.totalBlocks};
    if (f.freeBlocks > f.totalBlocks)
        v.note("volume header: " + std::to_string(f.freeBlocks) + " free blocks of " + std::to_string(f.totalBlocks));
    if (medium.size() != 0 && v.geometry_.endOffset() > medium.size())
        v.note("the volume ends at byte " + std::to_string(v.geometry_.endOffset()) + ", past the end of the medium at byte " +
               std::to_string(medium.size()));

    // The extents tree keeps its own extents in the header: it has no overflow of its own.
    Result<std::unique_ptr<BTree>> extents =
        BTree::open("extents", ForkReader(medium, v.geometry_, forkDataAt(h + vh::kExtentsFile), "extents file"));
    if (extents) v.extents_ = std::move(*extents);
    else {
        v.extentsFault_ = extents.fault();
        v.note(extents.fault());
    }
    Result<std::unique_ptr<BTree>> catalog =
        BTree::open("catalog", ForkReader(medium, v.geometry_, forkDataAt(h + vh::kCatalogFile), "catalog file",
                                          v.overflowFor(cnid::kCatalogFile, kDataForkType)));
    if (!catalog) return Fault{catalog.fault()};
    v.catalog_ = std::move(*catalog);
    f.caseSensitive = f.hfsx && v.catalog_->header().keyCompareType == btheader::kBinaryCompare;

    const ForkData attributesFork = forkDataAt(h + vh::kAttributesFile);
    if (attributesFork.logicalSize != 0) {
        Result<std::unique_ptr<BTree>> attrs =
            BTree::open("attributes", ForkReader(medium, v.geometry_, attributesFork, "attributes file",
                                                 v.overflowFor(cnid::kAttributesFile, kDataForkType)));
        if (attrs) v.attributes_ = std::move(*attrs);
        else {
            v.attributesFault_ = attrs.fault();
            v.note(attrs.fault());
        }
    }

    // The volume's name is the root folder's, which its thread record holds.
    Result<LeafCursor> root = v.catalog_->seek(catalogStart(cnid::kRootFolder));
    if (root && !root->atEnd() && catalogKeyParent(root->key()) == cnid::kRootFolder) {
        if (Result<CatalogThread> thread = decodeCatalogThread(root->data()); thread)
            v.name_ = toNfc(utf16ToUtf8(thread->name));
        else
            v.note(v.catalog_->fault(root->node().number, "record " + std::to_string(root->index()) + ": " + thread.fault()).what);
    } else if (root) {
        v.note("catalog: the root folder has no thread record");
    }

    // The private folders are found by name among the root's entries.
    Status walked = v.walk(cnid::kRootFolder, true, [&](const CatalogRecord& r) {
        if (r.isFolder() && r.storedName == kPrivateDataName) v.privateData_ = r.id;
        if (r.isFolder() && r.storedName == kPrivateDirectoryName) v.privateDirs_ = r.id;
        return true;
    });
    if (!walked) v.note(walked.fault());
    v.readJournalState();
    return volume;
}

void Volume::readJournalState() {
    VolumeFigures& f = figures_;
    const uint32_t infoBlock = loadBE32(header_.data() + vh::kJournalInfoBlock);
    if (!f.journaled) return;
    if (infoBlock >= f.totalBlocks) {
        f.journalNote = "the journal info block " + std::to_string(infoBlock) + " lies past the end of the volume";
        note(f.journalNote);
        return;
    }
    std::vector<uint8_t> info(journal::kInfoEnd);
    if (Status s = medium_.read(geometry_.blockOffset(infoBlock), info); !s) {
        f.journalNote = "journal info block: " + s.fault();
        note(f.journalNote);
        return;
    }
    const uint32_t flags = loadBE32(&info[journal::kInfoFlags]);
    if ((flags & journal::kOnOtherDevice) != 0 || (flags & journal::kInFileSystem) == 0) {
        f.journalNote = "the journal lies on another device";
        return;
    }
    const uint64_t offset = loadBE64(&info[journal::kInfoOffset]);
    if (offset >= f.volumeBytes) {
        f.journalNote = "the journal at byte " + std::to_string(offset) + " lies past the end of the volume";
        note(f.journalNote);
        return;
    }
    std::vector<uint8_t> head(journal::kHeaderSize);
    if (Status s = medium_.read(geometry_.start + offset, head); !s) {
        f.journalNote = "journal header: " + s.fault();
        note(f.journalNote);
        return;
    }
    // The journal's header is written in the byte order of the Mac that wrote it; its endian
    // field says which.
    const bool big = loadBE32(&head[journal::kHeaderEndianAt]) == journal::kHeaderEndian;
    const bool little = loadLE32(&head[journal::kHeaderEndianAt]) == journal::kHeaderEndian;
    const uint32_t magic = big ? loadBE32(&head[journal::kHeaderMagicAt]) : loadLE32(&head[journal::kHeaderMagicAt]);
    if ((!big && !little) || magic != journal::kHeaderMagic) {
        f.journalNote = "the journal header at byte " + std::to_string(offset) + " of the volume is not one";
        note(f.journalNote);
        return;
    }
    f.journalOffset = offset;
    const uint64_t begin = big ? loadBE64(&head[journal::kHeaderStart]) : loadLE64(&head[journal::kHeaderStart]);
    const uint64_t end = big ? loadBE64(&head[journal::kHeaderEnd]) : loadLE64(&head[journal::kHeaderEnd]);
    f.journalPending = begin != end;
}

OverflowLookup Volume::overflowFor(uint32_t fileId, uint8_t forkType) {
    return [this, fileId, forkType](uint32_t startBlock) { return findExtents(fileId, forkType, startBlock); };
}

Result<std::optional<ExtentRecord>> Volume::findExtents(uint32_t fileId, uint8_t forkType, uint32_t startBlock) {
    if (!extents_) return Fault{extentsFault_.empty() ? "no extents tree" : extentsFault_};
    auto field = [](std::span<const uint8_t> key, size_t at, size_t size) -> uint64_t {
        if (key.size() < extkey::kSize) return 0;
        return size == 1 ? key[at] : loadBE32(key.data() + at);
    };
    // Extents keys sort by file ID, then fork type, then start block.
    const auto order = [&](std::span<const uint8_t> key) {
        const std::array<uint64_t, 3> have{field(key, extkey::kFileId, 4), field(key, extkey::kForkType, 1),
                                           field(key, extkey::kStartBlock, 4)};
        const std::array<uint64_t, 3> want{fileId, forkType, startBlock};
        return have < want ? -1 : have > want ? 1 : 0;
    };
    Result<LeafCursor> at = extents_->seek(order);
    if (!at) return Fault{at.fault()};
    if (at->atEnd() || order(at->key()) != 0) return std::optional<ExtentRecord>();
    if (at->key().size() < extkey::kSize || at->data().size() < kExtentRecordSize)
        return extents_->fault(at->node().number, "record " + std::to_string(at->index()) + " too short for an extent record");
    const ExtentRecord record = extentRecordAt(at->data().data());
    // A record that sends a fork past the end of the volume is damage of this tree, named where
    // it lies.
    for (const Extent& e : record)
        if (uint64_t{e.startBlock} + e.blockCount > geometry_.totalBlocks)
            return extents_->fault(at->node().number, "record " + std::to_string(at->index()) + ": extent of " +
                                                          std::to_string(e.blockCount) + " blocks at block " +
                                                          std::to_string(e.startBlock) + " lies past the end of the volume");
    return std::optional<ExtentRecord>(record);
}

Status Volume::walk(uint32_t folderId, bool includePrivate, const std::function<bool(const CatalogRecord&)>& visit) {
    Result<LeafCursor> at = catalog_->seek(catalogStart(folderId));
    if (!at) return Fault{at.fault()};
    LeafCursor& c = *at;
    for (; !c.atEnd(); ) {
        const uint32_t parent = catalogKeyParent(c.key());
        if (parent > folderId) break;
        if (parent == folderId) {
            const uint16_t type = catalogRecordType(c.data());
            const std::string where = "record " + std::to_string(c.index()) + ": ";
            if (type == catrec::kFolder || type == catrec::kFile) {
                Result<CatalogKey> key = decodeCatalogKey(c.key());
                Result<CatalogRecord> record = key ? decodeCatalogRecord(*key, c.data()) : Result<CatalogRecord>(Fault{key.fault()});
                if (!record) {
                    (void)catalog_->fault(c.node().number, where + record.fault());
                } else {
                    const bool hidden = !includePrivate && folderId == cnid::kRootFolder && record->isFolder() &&
                                        (record->id == privateData_ || record->id == privateDirs_) && record->id != 0;
                    if (!hidden && !visit(*record)) return Status::ok();
                }
            } else if (type != catrec::kFolderThread && type != catrec::kFileThread) {
                (void)catalog_->fault(c.node().number, where + "unknown record type " + std::to_string(type));
            }
        }
        if (Status s = c.next(); !s) return s;
    }
    return Status::ok();
}

Status Volume::forEachEntry(uint32_t folderId, const std::function<bool(const CatalogRecord&)>& visit) {
    return walk(folderId, false, visit);
}

Result<std::vector<CatalogRecord>> Volume::entries(uint32_t folderId) {
    std::vector<CatalogRecord> all;
    Status s = walk(folderId, false, [&](const CatalogRecord& r) {
        all.push_back(r);
        return true;
    });
    if (!s) return Fault{s.fault()};
    return all;
}

Result<std::optional<CatalogRecord>> Volume::lookup(uint32_t folderId, std::string_view typed) {
    const NamePattern pattern(typed, comparison());
    std::optional<CatalogRecord> found;
    Status s = walk(folderId, false, [&](const CatalogRecord& r) {
        if (!pattern.matches(r.storedName)) return true;
        found = r;
        return false;
    });
    if (!s) return Fault{s.fault()};
    return found;
}

Result<std::optional<CatalogRecord>> Volume::child(uint32_t folderId, std::u16string_view storedName) {
    std::optional<CatalogRecord> found;
    Status s = walk(folderId, true, [&](const CatalogRecord& r) {
        if (r.storedName != storedName) return true;
        found = r;
        return false;
    });
    if (!s) return Fault{s.fault()};
    return found;
}

Result<CatalogRecord> Volume::record(uint32_t id) {
    Result<LeafCursor> at = catalog_->seek(catalogStart(id));
    if (!at) return Fault{at.fault()};
    if (at->atEnd() || catalogKeyParent(at->key()) != id || catalogStart(id)(at->key()) != 0)
        return Fault{"catalog: no thread record for ID " + std::to_string(id)};
    Result<CatalogThread> thread = decodeCatalogThread(at->data());
    if (!thread) return catalog_->fault(at->node().number, "record " + std::to_string(at->index()) + ": " + thread.fault());
    Result<std::optional<CatalogRecord>> found = child(thread->parentId, thread->name);
    if (!found) return Fault{found.fault()};
    if (!found->has_value() || (*found)->id != id)
        return catalog_->fault("thread of ID " + std::to_string(id) + " names an entry of folder " +
                               std::to_string(thread->parentId) + " that is not there");
    return **found;
}

Result<CatalogRecord> Volume::resolveLink(const CatalogRecord& link) {
    CatalogRecord at = link;
    std::set<uint32_t> seen{link.id};
    for (int step = 0; step < kMaxLinkSteps; ++step) {
        uint32_t folder = 0;
        std::string target;
        if (at.isHardLink()) {
            folder = privateData_;
            target = "iNode" + std::to_string(at.bsd.special);
        } else if (at.isFolderLink()) {
            folder = privateDirs_;
            target = "dir_" + std::to_string(at.bsd.special);
        } else {
            return at;
        }
        const std::string what = "the link \"" + link.name + "\" (ID " + std::to_string(link.id) + ")";
        if (folder == 0) return Fault{what + " leads to " + target + ", but the volume has no private folder for it"};
        Result<std::optional<CatalogRecord>> found = child(folder, utf8ToUtf16(target));
        if (!found) return Fault{found.fault()};
        if (!found->has_value()) return Fault{what + " leads to " + target + ", which is not there"};
        at = **found;
        if (!seen.insert(at.id).second) return Fault{what + " leads round in a circle"};
    }
    return Fault{"the link \"" + link.name + "\" leads through more than " + std::to_string(kMaxLinkSteps) + " links"};
}

Result<std::string> Volume::symlinkTarget(const CatalogRecord& link) {
    if (!link.isSymlink()) return Fault{"\"" + link.name + "\" is not a symbolic link"};
    if (link.dataFork.logicalSize > kMaxSymlinkTarget)
        return Fault{"the symbolic link \"" + link.name + "\" has a target of " + std::to_string(link.dataFork.logicalSize) +
                     " bytes, more than a path can hold"};
    std::string target(static_cast<size_t>(link.dataFork.logicalSize), '\0');
    ForkReader reader = fork(link, ForkKind::Data);
    if (Status s = reader.read(0, std::span(reinterpret_cast<uint8_t*>(target.data()), target.size())); !s) return Fault{s.fault()};
    return target;
}

ForkReader Volume::fork(const CatalogRecord& file, ForkKind kind) {
    const uint8_t type = kind == ForkKind::Data ? kDataForkType : kResourceForkType;
    return ForkReader(medium_, geometry_, kind == ForkKind::Data ? file.dataFork : file.resourceFork, forkName(file.id, type),
                      overflowFor(file.id, type));
}

Status Volume::walkAttributes(uint32_t id, const std::function<bool(std::span<const uint8_t>, std::span<const uint8_t>,
                                                                     const Node&, size_t)>& visit) {
    if (!attributes_) return attributesFault_.empty() ? Status::ok() : Status(Fault{attributesFault_});
    auto fileOf = [](std::span<const uint8_t> key) -> uint32_t {
        return key.size() < attrkey::kName ? 0 : loadBE32(key.data() + attrkey::kFileId);
    };
    // Every record of a file sorts after (file, empty name, block 0); its records are then read
    // in order, so that nothing depends on how the attribute names are ordered.
    Result<LeafCursor> at = attributes_->seek([&](std::span<const uint8_t> key) {
        const uint32_t file = fileOf(key);
        if (file != id) return file < id ? -1 : 1;
        const bool first = loadBE16(key.data() + attrkey::kNameLength) == 0 && loadBE32(key.data() + attrkey::kStartBlock) == 0;
        return first ? 0 : 1;
    });
    if (!at) return Fault{at.fault()};
    for (LeafCursor& c = *at; !c.atEnd();) {
        const uint32_t file = fileOf(c.key());
        if (file > id) break;
        if (file == id && !visit(c.key(), c.data(), c.node(), c.index())) break;
        if (Status s = c.next(); !s) return s;
    }
    return Status::ok();
}

Result<std::vector<Attribute>> Volume::attributes(uint32_t id) {
    std::vector<Attribute> all;
    Status s = walkAttributes(id, [&](std::span<const uint8_t> key, std::span<const uint8_t> data, const Node& node, size_t index) {
        const std::string where = "record " + std::to_string(index) + ": ";
        const size_t units = loadBE16(key.data() + attrkey::kNameLength);
        if (units > attrkey::kMaxNameUnits || attrkey::kName + 2 * units > key.size()) {
            (void)attributes_->fault(node.number, where + "name does not fit its key");
            return true;
        }
        Attribute a;
        a.name.resize(units);
        for (size_t i = 0; i < units; ++i) a.name[i] = static_cast<char16_t>(loadBE16(key.data() + attrkey::kName + 2 * i));
        const uint32_t type = data.size() >= 4 ? loadBE32(data.data()) : 0;
        if (type == attrrec::kInlineData) {
            const uint32_t size = data.size() >= attrrec::kInlineData_ ? loadBE32(data.data() + attrrec::kInlineSize) : UINT32_MAX;
            if (size > data.size() - std::min(data.size(), attrrec::kInlineData_)) {
                (void)attributes_->fault(node.number, where + "inline data longer than its record");
                return true;
            }
            a.inlineData.assign(data.begin() + attrrec::kInlineData_, data.begin() + attrrec::kInlineData_ + size);
        } else if (type == attrrec::kForkData) {
            if (data.size() < attrrec::kFork + forkdata::kSize) {
                (void)attributes_->fault(node.number, where + "fork record too short");
                return true;
            }
            a.fork = forkDataAt(data.data() + attrrec::kFork);
        } else if (type == attrrec::kExtents) {
            return true;  // continues a fork attribute; read through attributeFork
        } else {
            (void)attributes_->fault(node.number, where + "unknown attribute record type " + std::to_string(type));
            return true;
        }
        all.push_back(std::move(a));
        return true;
    });
    if (!s) return Fault{s.fault()};
    return all;
}

Result<std::optional<Attribute>> Volume::attribute(uint32_t id, std::u16string_view name) {
    Result<std::vector<Attribute>> all = attributes(id);
    if (!all) return Fault{all.fault()};
    for (Attribute& a : *all)
        if (a.name == name) return std::optional<Attribute>(std::move(a));
    return std::optional<Attribute>();
}

Result<std::optional<ExtentRecord>> Volume::findAttributeExtents(uint32_t id, std::u16string_view name, uint32_t startBlock) {
    std::optional<ExtentRecord> found;
    Status s = walkAttributes(id, [&](std::span<const uint8_t> key, std::span<const uint8_t> data, const Node&, size_t) {
        const size_t units = loadBE16(key.data() + attrkey::kNameLength);
        if (units != name.size() || attrkey::kName + 2 * units > key.size()) return true;
        for (size_t i = 0; i < units; ++i)
            if (loadBE16(key.data() + attrkey::kName + 2 * i) != name[i]) return true;
        if (loadBE32(key.data() + attrkey::kStartBlock) != startBlock) return true;
        if (data.size() < attrrec::kExtentRecord + kExtentRecordSize || loadBE32(data.data()) != attrrec::kExtents) return true;
        found = extentRecordAt(data.data() + attrrec::kExtentRecord);
        return false;
    });
    if (!s) return Fault{s.fault()};
    return found;
}

Result<std::vector<uint8_t>> Volume::attributeBytes(uint32_t id, const Attribute& attribute, uint64_t limit) {
    if (!attribute.fork) {
        if (attribute.inlineData.size() > limit) return Fault{"attribute of " + std::to_string(attribute.inlineData.size()) + " bytes is larger than " + std::to_string(limit)};
        return attribute.inlineData;
    }
    if (attribute.fork->logicalSize > limit)
        return Fault{"attribute of " + std::to_string(attribute.fork->logicalSize) + " bytes is larger than " + std::to_string(limit)};
    std::vector<uint8_t> bytes(static_cast<size_t>(attribute.fork->logicalSize));
    if (Status s = attributeFork(id, attribute).read(0, bytes); !s) return Fault{s.fault()};
    return bytes;
}

ForkReader Volume::attributeFork(uint32_t id, const Attribute& attribute) {
    const std::string what = "attribute " + utf16ToUtf8(attribute.name) + " of ID " + std::to_string(id);
    const ForkData fork = attribute.fork.value_or(ForkData{});
    std::u16string name = attribute.name;
    return ForkReader(medium_, geometry_, fork, what, [this, id, name](uint32_t startBlock) {
        return findAttributeExtents(id, name, startBlock);
    });
}

Result<bool> Volume::blockInUse(uint32_t block) {
    if (block >= figures_.totalBlocks) return Fault{"block " + std::to_string(block) + " lies past the end of the volume"};
    ForkReader bitmap(medium_, geometry_, forkDataAt(header_.data() + vh::kAllocationFile), "allocation file",
                      overflowFor(cnid::kAllocationFile, kDataForkType));
    uint8_t byte = 0;
    if (Status s = bitmap.read(block / 8, std::span(&byte, 1)); !s) return Fault{s.fault()};
    // The first block of each byte is its top bit.
    return (byte & (0x80 >> (block % 8))) != 0;
}

Result<uint64_t> Volume::usedBlockCount() {
    ForkReader bitmap(medium_, geometry_, forkDataAt(header_.data() + vh::kAllocationFile), "allocation file",
                      overflowFor(cnid::kAllocationFile, kDataForkType));
    const uint64_t bytes = (uint64_t{figures_.totalBlocks} + 7) / 8;
    if (bitmap.length() < bytes)
        return Fault{"allocation file of " + std::to_string(bitmap.length()) + " bytes is shorter than the " +
                     std::to_string(bytes) + " bytes its " + std::to_string(figures_.totalBlocks) + " blocks need"};
    uint64_t used = 0;
    std::vector<uint8_t> piece(64 * 1024);
    for (uint64_t done = 0; done < bytes;) {
        const auto n = static_cast<size_t>(std::min<uint64_t>(piece.size(), bytes - done));
        if (Status s = bitmap.read(done, std::span(piece.data(), n)); !s) return Fault{s.fault()};
        for (size_t i = 0; i < n; ++i) {
            uint8_t b = piece[i];
            // Bits past the last block do not count.
            if (done + i == bytes - 1 && figures_.totalBlocks % 8 != 0) b &= static_cast<uint8_t>(0xFF00 >> (figures_.totalBlocks % 8));
            used += static_cast<uint64_t>(std::popcount(b));
        }
        done += n;
    }
    return used;
}

}  // namespace quarry::hfsplus

#include "hfsplus/hfsplus_volume.h"
#include "hfsplus/volume_check.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "common/charset.h"
#include "common/messages.h"
#include "hfsplus/decmpfs.h"

namespace quarry {
namespace {

using hfsplus::CatalogRecord;

// BSD owner flag UF_COMPRESSED: the file's bytes are in its com.apple.decmpfs attribute or, past
// that attribute's header, in its resource fork.
constexpr uint8_t kCompressedFlag = 0x20;
const std::u16string kDecmpfsName = u"com.apple.decmpfs";
// A decmpfs attribute is small (its header and at most a few KiB of inline data); one past this
// is damage, not a file.
constexpr uint64_t kMaxDecmpfsBytes = 16 * 1024 * 1024;
// Folders deeper than this are not followed up when a folder link is checked for a loop.
constexpr int kMaxDepth = 4096;

// What an entry's formatRecord holds for this format: whose forks it reads (a hard link reads its
// iNode's), whether they are compressed, and both fork records.
struct ForkSource {
    uint32_t ownerId = 0;
    bool compressed = false;
    hfsplus::ForkData data, resource;
};
static_assert(std::is_trivially_copyable_v<ForkSource>);

std::vector<uint8_t> packSource(const ForkSource& source) {
    std::vector<uint8_t> bytes(sizeof source);
    std::memcpy(bytes.data(), &source, sizeof source);
    return bytes;
}

std::optional<ForkSource> unpackSource(const std::vector<uint8_t>& bytes) {
    if (bytes.size() != sizeof(ForkSource)) return std::nullopt;
    ForkSource source;
    std::memcpy(&source, bytes.data(), sizeof source);
    return source;
}

// An entry's key: its stored UTF-16 name, big-endian as on the volume.
std::string keyOf(std::u16string_view name) {
    std::string key;
    key.reserve(name.size() * 2);
    for (char16_t c : name) {
        key.push_back(static_cast<char>(c >> 8));
        key.push_back(static_cast<char>(c & 0xFF));
    }
    return key;
}

std::u16string nameOfKey(std::string_view key) {
    std::u16string name;
    for (size_t i = 0; i + 1 < key.size(); i += 2)
        name.push_back(static_cast<char16_t>((uint8_t(key[i]) << 8) | uint8_t(key[i + 1])));
    return name;
}

EntryDate utcDate(hfsplus::MacInstant t) {
    const int64_t seconds = t.time_since_epoch().count() + int64_t{hfsplus::kMacEpochToUnix};
    return {static_cast<uint32_t>(std::clamp<int64_t>(seconds, 0, UINT32_MAX)), EntryDate::Clock::Utc};
}

// A fork that cannot be read at all: every call says why.
class RefusedForkReader : public ForkReader {
public:
    RefusedForkReader(uint64_t length, std::string why) : length_(length), why_(std::move(why)) {}
    uint64_t length() const override { return length_; }
    uint64_t physicalLength() const override { return 0; }
    Status copyTo(ByteSink&, UnreadableSectors*) override { return Fault{why_}; }
    Result<bool> readUnit(uint64_t, uint8_t*) override { return Fault{why_}; }
    Result<std::vector<ForkRun>> runs() override { return Fault{why_}; }
    Result<std::vector<ForkRun>> allocatedRuns() override { return Fault{why_}; }

private:
    uint64_t length_;
    std::string why_;
};

std::vector<ForkRun> forkRunsOf(const std::vector<hfsplus::MediumRun>& runs) {
    std::vector<ForkRun> out;
    out.reserve(runs.size());
    for (const hfsplus::MediumRun& r : runs) out.push_back({r.mediumOffset, r.forkOffset, r.length});
    return out;
}

// A fork stored plainly in allocation blocks.
class PlainForkReader : public ForkReader {
public:
    PlainForkReader(hfsplus::Medium& medium, hfsplus::ForkReader fork, hfsplus::ForkReader allocated)
        : medium_(medium), fork_(std::move(fork)), allocated_(std::move(allocated)) {}

    uint64_t length() const override { return fork_.length(); }
    uint64_t physicalLength() const override { return allocated_.length(); }

    Status copyTo(ByteSink& sink, UnreadableSectors* zeroFill) override {
        Result<std::vector<hfsplus::MediumRun>> found = fork_.runs();
        if (!found) return Fault{found.fault()};
        constexpr uint64_t kPiece = 256 * 1024;
        std::vector<uint8_t> buffer(static_cast<size_t>(std::min(kPiece, std::max<uint64_t>(length(), 1))));
        for (const hfsplus::MediumRun& run : *found) {
            for (uint64_t done = 0; done < run.length;) {
                const auto n = static_cast<size_t>(std::min(kPiece, run.length - done));
                const std::span piece(buffer.data(), n);
                if (Status s = medium_.read(run.mediumOffset + done, piece); !s) {
                    if (!zeroFill) return Fault{fork_.what() + ": " + s.fault()};
                    hfsplus::readSectorBySector(medium_, run.mediumOffset + done, piece, *zeroFill);
                }
                if (!sink.write(buffer.data(), n)) return Fault{"cannot write: " + sink.error()};
                done += n;
            }
        }
        return Status::ok();
    }

    Result<bool> readUnit(uint64_t index, uint8_t* out) override {
        if (index >= allocated_.length() / kForkUnitSize) return false;
        if (Status s = allocated_.read(index * kForkUnitSize, std::span(out, kForkUnitSize)); !s) return Fault{s.fault()};
        return true;
    }

    Result<std::vector<ForkRun>> runs() override {
        Result<std::vector<hfsplus::MediumRun>> found = fork_.runs();
        if (!found) return Fault{found.fault()};
        return forkRunsOf(*found);
    }
    Result<std::vector<ForkRun>> allocatedRuns() override {
        Result<std::vector<hfsplus::MediumRun>> found = allocated_.runs();
        if (!found) return Fault{found.fault()};
        return forkRunsOf(*found);
    }

private:
    hfsplus::Medium& medium_;
    hfsplus::ForkReader fork_;
    hfsplus::ForkReader allocated_;
};

// A compressed file's data fork: its bytes decoded a chunk at a time. It lies in no runs of
// the medium as the PC sees it.
class CompressedForkReader : public ForkReader {
public:
    CompressedForkReader(CompressedFile file, std::string name) : file_(std::move(file)), name_(std::move(name)) {}

    uint64_t length() const override { return file_.size(); }
    uint64_t physicalLength() const override { return file_.size(); }

    Status copyTo(ByteSink& sink, UnreadableSectors*) override {
        for (size_t i = 0; i < file_.chunkCount(); ++i) {
            Result<std::span<const uint8_t>> chunk = file_.chunk(i);
            if (!chunk) return Fault{"File " + name_ + ": " + chunk.fault()};
            if (!chunk->empty() && !sink.write(chunk->data(), chunk->size())) return Fault{"cannot write: " + sink.error()};
        }
        return Status::ok();
    }

    Result<bool> readUnit(uint64_t index, uint8_t* out) override {
        const uint64_t size = file_.size();
        if (index >= (size + kForkUnitSize - 1) / kForkUnitSize) return false;
        const uint64_t at = index * kForkUnitSize;
        const auto n = static_cast<size_t>(std::min<uint64_t>(kForkUnitSize, size - at));
        std::memset(out, 0, kForkUnitSize);
        if (Status s = file_.read(at, std::span(out, n)); !s) return Fault{"File " + name_ + ": " + s.fault()};
        return true;
    }

    Result<std::vector<ForkRun>> runs() override { return std::vector<ForkRun>{}; }
    Result<std::vector<ForkRun>> allocatedRuns() override { return std::vector<ForkRun>{}; }

private:
    CompressedFile file_;
    std::string name_;
};

}  // namespace

Result<std::unique_ptr<HfsPlusVolume>> HfsPlusVolume::open(std::unique_ptr<hfsplus::Medium> medium, uint64_t start) {
    Result<std::unique_ptr<hfsplus::Volume>> volume = hfsplus::Volume::open(*medium, start);
    if (!volume) return Fault{volume.fault()};
    std::unique_ptr<HfsPlusVolume> opened(new HfsPlusVolume(std::move(medium), std::move(*volume)));
    opened->replayJournal(start);
    return opened;
}

void HfsPlusVolume::replayJournal(uint64_t start) {
    const hfsplus::VolumeFigures& f = volume_->figures();
    if (!f.journalPending) return;
    const uint64_t volumeStart = volume_->geometry().start;
    std::vector<uint8_t> head(hfsplus::journal::kHeaderFixed);
    if (Status s = medium_->read(volumeStart + f.journalOffset, head); !s) {
        journalFault_ = "journal header: " + s.fault();
        return;
    }
    Result<hfsplus::JournalHeader> header = hfsplus::parseJournalHeader(head);
    if (!header) {
        journalFault_ = header.fault();
        return;
    }
    Result<hfsplus::PendingBlocks> pending =
        hfsplus::readPendingBlocks(*medium_, volumeStart, f.volumeBytes, f.journalOffset, *header);
    if (!pending) {
        journalFault_ = pending.fault();
        return;
    }
    auto replayed = std::make_unique<hfsplus::JournalMedium>(*medium_, volumeStart, std::move(*pending));
    Result<std::unique_ptr<hfsplus::Volume>> through = hfsplus::Volume::open(*replayed, start);
    if (!through) {
        journalFault_ = "the volume as its journal leaves it does not open: " + through.fault();
        return;
    }
    (*through)->noteJournalReplayed();
    volume_ = std::move(*through);
    replayed_ = std::move(replayed);
}

VolumeFormat HfsPlusVolume::format() const { return volume_->figures().hfsx ? VolumeFormat::Hfsx : VolumeFormat::HfsPlus; }

VolumeFigures HfsPlusVolume::figures() const {
    const hfsplus::VolumeFigures& v = volume_->figures();
    VolumeFigures f;
    f.name = volume_->name();
    f.macName = hfsplus::toMacEncoding(f.name, 0);
    // The header's creation date alone is the local time of the Mac that made the volume.
    f.created = {v.createdLocal, EntryDate::Clock::WallClock};
    f.modified = utcDate(v.modified);
    f.blockSize = v.blockSize;
    f.sectorsPerBlock = v.blockSize / 512;
    f.totalBlocks = v.totalBlocks;
    f.freeBlocks = v.freeBlocks;
    f.fileCount = v.fileCount;
    f.folderCount = v.folderCount;
    f.nextCatalogId = v.nextCatalogId;
    const uint64_t start = v.location.volumeStart;
    f.headerSector = (start + 1024) / 512;
    f.firstBlockSector = start / 512;
    auto& reader = *volume_;
    const hfsplus::ForkData& catalog = reader.catalog().fork().forkData();
    f.catalogSector = (start + uint64_t{catalog.extents[0].startBlock} * v.blockSize) / 512;
    f.catalogBytes = catalog.logicalSize;
    if (hfsplus::BTree* extents = reader.extentsTree()) {
        const hfsplus::ForkData& e = extents->fork().forkData();
        f.extentsSector = (start + uint64_t{e.extents[0].startBlock} * v.blockSize) / 512;
        f.extentsBytes = e.logicalSize;
    }
    f.locked = true;  // Quarry never changes it
    f.journaled = v.journaled;
    f.caseSensitive = v.caseSensitive;
    return f;
}

bool HfsPlusVolume::isAncestor(uint32_t candidate, uint32_t folderID) {
    uint32_t at = folderID;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        if (at == candidate) return true;
        if (at <= kRootDirId) return false;
        const std::optional<uint32_t> up = parentOf(at);
        if (!up) return false;
        at = *up;
    }
    // A chain of parents this long is itself a loop.
    return true;
}

std::optional<VolumeEntry> HfsPlusVolume::entryOf(const CatalogRecord& record, uint32_t folderID) {
    // A link reads as what it leads to; any other record is its own target, and is not copied.
    std::optional<CatalogRecord> resolved;
    if (record.isHardLink() || record.isFolderLink()) {
        Result<CatalogRecord> link = volume_->resolveLink(record);
        if (!link) {
            linkFaults_.push_back(link.fault());
            return std::nullopt;
        }
        resolved = std::move(*link);
    }
    const CatalogRecord& target = resolved ? *resolved : record;
    VolumeEntry e;
    e.name = record.name;
    e.macName = record.macName;
    e.key = keyOf(record.storedName);
    e.parentID = record.parentId;
    e.id = target.id;
    e.textEncoding = record.textEncoding;
    e.finderInfo = target.finderInfo;
    e.extendedFinderInfo = target.extendedFinderInfo;
    e.created = utcDate(target.created);
    e.modified = utcDate(target.contentModified);
    e.backedUp = utcDate(target.backedUp);
    e.locked = target.locked();
    e.posix = PosixFields{target.bsd.ownerId, target.bsd.groupId, target.bsd.fileMode};
    if (target.isFolder()) {
        e.kind = EntryKind::Folder;
        e.valence = target.valence;
        if (record.isFolderLink()) {
            // Mac OS never links a folder into itself; a volume that does would make every walk
            // of its folders endless.
            if (target.id == folderID || isAncestor(target.id, folderID)) {
                linkFaults_.push_back("the folder link \"" + record.name + "\" (ID " + std::to_string(record.id) +
                                      ") leads to a folder that holds it; it is not followed");
                return std::nullopt;
            }
            linkedFolders_[target.id] = e;
        }
        return e;
    }
    e.id = record.id;
    e.kind = record.isSymlink() ? EntryKind::SymbolicLink : EntryKind::File;
    if (record.isSymlink()) {
        if (Result<std::string> link = volume_->symlinkTarget(record); link) e.linkTarget = *link;
        else linkFaults_.push_back(link.fault());
    }
    const uint64_t blockSize = volume_->figures().blockSize;
    e.data = {target.dataFork.logicalSize, uint64_t{target.dataFork.totalBlocks} * blockSize};
    e.rsrc = {target.resourceFork.logicalSize, uint64_t{target.resourceFork.totalBlocks} * blockSize};
    ForkSource source{target.id, (target.bsd.ownerFlags & kCompressedFlag) != 0 && !target.isFolder(), target.dataFork,
                      target.resourceFork};
    if (source.compressed) {
        // The length a compressed file shows is the one its attribute's header gives; its
        // resource fork, when it holds the compressed chunks, is no fork of the file's own.
        Result<std::optional<hfsplus::Attribute>> attr = volume_->attribute(target.id, kDecmpfsName);
        if (attr && attr->has_value()) {
            Result<std::vector<uint8_t>> bytes = volume_->attributeBytes(target.id, **attr, kMaxDecmpfsBytes);
            Result<DecmpfsHeader> header = bytes ? parseDecmpfsHeader(*bytes) : Result<DecmpfsHeader>(Fault{bytes.fault()});
            if (header) {
                e.data = {header->uncompressedSize, header->uncompressedSize};
                if (header->type % 2 == 0) e.rsrc = {};
            }
        }
    }
    e.formatRecord = packSource(source);
    return e;
}

bool HfsPlusVolume::visitFolder(uint32_t folderID, const EntryVisitor& visit, std::string_view pattern, NameMatch match) {
    lastFault_.clear();
    const hfsplus::NamePattern typed(match == NameMatch::Pattern ? std::string(pattern) : std::string("*"),
                                     volume_->comparison());
    const std::u16string exact = match == NameMatch::Exact ? nameOfKey(pattern) : std::u16string();
    Status walked = volume_->forEachEntry(folderID, [&](const CatalogRecord& record) {
        const bool matches = match == NameMatch::Exact ? record.storedName == exact : typed.matches(record.storedName);
        if (!matches) return true;
        std::optional<VolumeEntry> entry = entryOf(record, folderID);
        return !entry || visit(*entry);
    });
    if (!walked) lastFault_ = walked.fault();
    return static_cast<bool>(walked);
}

std::optional<VolumeEntry> HfsPlusVolume::findEntry(uint32_t folderID, std::string_view name, NameMatch match,
                                                    std::optional<EntryKind> kind) {
    std::optional<VolumeEntry> found;
    visitFolder(
        folderID,
        [&](const VolumeEntry& e) {
            const bool fits = !kind || e.kind == *kind || (*kind == EntryKind::File && e.kind == EntryKind::SymbolicLink);
            if (fits) found = e;
            return !fits;
        },
        name, match);
    return found;
}

std::optional<uint32_t> HfsPlusVolume::parentOf(uint32_t folderID) {
    if (auto linked = linkedFolders_.find(folderID); linked != linkedFolders_.end()) return linked->second.parentID;
    Result<CatalogRecord> record = volume_->record(folderID);
    if (!record) {
        lastFault_ = record.fault();
        return std::nullopt;
    }
    return record->parentId;
}

std::optional<VolumeEntry> HfsPlusVolume::folderOfId(uint32_t folderID) {
    if (auto linked = linkedFolders_.find(folderID); linked != linkedFolders_.end()) return linked->second;
    Result<CatalogRecord> record = volume_->record(folderID);
    if (!record || !record->isFolder()) {
        if (!record) lastFault_ = record.fault();
        return std::nullopt;
    }
    return entryOf(*record, record->parentId);
}

std::unique_ptr<ForkReader> HfsPlusVolume::openFork(const VolumeEntry& file, ForkKind fork) {
    const std::optional<ForkSource> source = unpackSource(file.formatRecord);
    if (!source) return std::make_unique<RefusedForkReader>(0, "\"" + file.name + "\" is no file of this volume");
    CatalogRecord owner;
    owner.id = source->ownerId;
    owner.dataFork = source->data;
    owner.resourceFork = source->resource;
    const uint32_t blockSize = volume_->figures().blockSize;
    auto plain = [&](hfsplus::ForkKind kind) {
        CatalogRecord whole = owner;
        // The same fork read to the end of its last block, for the dump and the byte runs.
        for (hfsplus::ForkData* f : {&whole.dataFork, &whole.resourceFork}) f->logicalSize = uint64_t{f->totalBlocks} * blockSize;
        return std::make_unique<PlainForkReader>(reading(), volume_->fork(owner, kind), volume_->fork(whole, kind));
    };
    if (!source->compressed) return plain(fork == ForkKind::Resource ? hfsplus::ForkKind::Resource : hfsplus::ForkKind::Data);

    Result<std::optional<hfsplus::Attribute>> attr = volume_->attribute(owner.id, kDecmpfsName);
    if (!attr || !attr->has_value())
        return std::make_unique<RefusedForkReader>(file.fork(fork).logical, "File " + file.name + ": " +
                                                   (attr ? std::string("its compression attribute is missing") : attr.fault()));
    Result<std::vector<uint8_t>> bytes = volume_->attributeBytes(owner.id, **attr, kMaxDecmpfsBytes);
    if (!bytes) return std::make_unique<RefusedForkReader>(file.fork(fork).logical, "File " + file.name + ": " + bytes.fault());
    Result<DecmpfsHeader> header = parseDecmpfsHeader(*bytes);
    if (fork == ForkKind::Resource) {
        // The resource fork holds the compressed chunks for the even types: the file has none.
        if (header && header->type % 2 == 0) return std::make_unique<RefusedForkReader>(0, "no resource fork");
        return plain(hfsplus::ForkKind::Resource);
    }
    auto rsrc = std::make_shared<hfsplus::ForkReader>(volume_->fork(owner, hfsplus::ForkKind::Resource));
    ResourceForkSource chunks{rsrc->length(), [rsrc](uint64_t offset, std::span<uint8_t> out) { return rsrc->read(offset, out); }};
    Result<CompressedFile> opened = CompressedFile::open(*bytes, std::move(chunks));
    if (!opened) {
        const std::string why = opened.fault();
        // "uses LZFSE compression, ..." reads on from the file's name.
        if (why.rfind("uses ", 0) == 0 && why.find("LZFSE") != std::string::npos)
            return std::make_unique<RefusedForkReader>(file.data.logical, messageWith(Msg::CompressionNotRead, file.name));
        return std::make_unique<RefusedForkReader>(file.data.logical, "File " + file.name + ": " + why);
    }
    return std::make_unique<CompressedForkReader>(std::move(*opened), file.name);
}

VolumeCheckResult HfsPlusVolume::check() { return hfsplus::checkVolume(reading(), *volume_); }

std::vector<std::string> HfsPlusVolume::takeNotices() {
    std::vector<std::string> notices;
    if (!journalTold_) {
        journalTold_ = true;
        if (volume_->figures().journalReplayed) notices.emplace_back(messageText(Msg::JournalReplayed));
        else if (volume_->figures().journalPending) {
            notices.emplace_back(messageText(Msg::JournalPending));
            if (!journalFault_.empty()) notices.push_back("The journal is not replayed: " + journalFault_ + ".");
        }
    }
    return notices;
}

std::vector<std::string> HfsPlusVolume::takeDamage() {
    std::vector<std::string> notices;
    std::vector<std::string> damage = volume_->damage();
    damage.insert(damage.end(), linkFaults_.begin(), linkFaults_.end());
    for (std::string& d : damage) {
        if (std::find(told_.begin(), told_.end(), d) != told_.end()) continue;
        told_.push_back(d);
        notices.push_back(std::string(messageText(Msg::VolumeDamaged)) + " " + d);
    }
    return notices;
}

}  // namespace quarry

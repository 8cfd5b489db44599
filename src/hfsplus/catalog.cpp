#include "hfsplus/catalog.h"

#include "hfsplus/names.h"

namespace quarry::hfsplus {
namespace {

std::u16string unitsAt(const uint8_t* p, size_t count) {
    std::u16string s(count, u'\0');
    for (size_t i = 0; i < count; ++i) s[i] = static_cast<char16_t>(loadBE16(p + 2 * i));
    return s;
}

}  // namespace

uint32_t catalogKeyParent(std::span<const uint8_t> key) {
    return key.size() < catkey::kParentId + 4 ? 0 : loadBE32(key.data() + catkey::kParentId);
}

Result<CatalogKey> decodeCatalogKey(std::span<const uint8_t> key) {
    if (key.size() < catkey::kName) return Fault{"catalog key of " + std::to_string(key.size()) + " bytes is too short"};
    const size_t units = loadBE16(key.data() + catkey::kNameLength);
    if (units > catkey::kMaxNameUnits || catkey::kName + 2 * units > key.size())
        return Fault{"name of " + std::to_string(units) + " characters does not fit its key"};
    return CatalogKey{loadBE32(key.data() + catkey::kParentId), unitsAt(key.data() + catkey::kName, units)};
}

Result<CatalogThread> decodeCatalogThread(std::span<const uint8_t> data) {
    const uint16_t type = catalogRecordType(data);
    if (type != catrec::kFolderThread && type != catrec::kFileThread) return Fault{"not a thread record"};
    if (data.size() < catrec::kThreadName) return Fault{"thread record too short"};
    const size_t units = loadBE16(data.data() + catrec::kThreadNameLength);
    if (units > catkey::kMaxNameUnits || catrec::kThreadName + 2 * units > data.size())
        return Fault{"thread record too short for its name of " + std::to_string(units) + " characters"};
    return CatalogThread{type == catrec::kFolderThread, loadBE32(data.data() + catrec::kThreadParent),
                         unitsAt(data.data() + catrec::kThreadName, units)};
}

Result<CatalogRecord> decodeCatalogRecord(const CatalogKey& key, std::span<const uint8_t> data) {
    const uint16_t type = catalogRecordType(data);
    if (type != catrec::kFolder && type != catrec::kFile) return Fault{"record type " + std::to_string(type) + " is no folder or file"};
    const size_t need = type == catrec::kFolder ? catrec::kFolderSize : catrec::kFileSize;
    if (data.size() < need) return Fault{"record of type " + std::to_string(type) + " too short (" + std::to_string(data.size()) + " bytes)"};
    const uint8_t* p = data.data();
    CatalogRecord r;
    r.kind = type == catrec::kFolder ? EntryKind::Folder : EntryKind::File;
    r.parentId = key.parentId;
    r.storedName = key.name;
    r.flags = loadBE16(p + catrec::kFlags);
    r.valence = type == catrec::kFolder ? loadBE32(p + catrec::kValence) : 0;
    r.id = loadBE32(p + catrec::kId);
    r.created = macInstant(loadBE32(p + catrec::kCreateDate));
    r.contentModified = macInstant(loadBE32(p + catrec::kContentModDate));
    r.attributesModified = macInstant(loadBE32(p + catrec::kAttributeModDate));
    r.accessed = macInstant(loadBE32(p + catrec::kAccessDate));
    r.backedUp = macInstant(loadBE32(p + catrec::kBackupDate));
    const uint8_t* b = p + catrec::kBsdInfo;
    r.bsd = {loadBE32(b + bsd::kOwner), loadBE32(b + bsd::kGroup), b[bsd::kAdminFlags], b[bsd::kOwnerFlags],
             loadBE16(b + bsd::kMode), loadBE32(b + bsd::kSpecial)};
    std::copy_n(p + catrec::kFinderInfo, 16, r.finderInfo.begin());
    std::copy_n(p + catrec::kExtendedFinderInfo, 16, r.extendedFinderInfo.begin());
    r.textEncoding = loadBE32(p + catrec::kTextEncoding);
    if (type == catrec::kFile) {
        r.dataFork = forkDataAt(p + catrec::kDataFork);
        r.resourceFork = forkDataAt(p + catrec::kResourceFork);
    }
    r.name = toNfc(utf16ToUtf8(r.storedName));
    r.macName = toMacEncoding(r.name, r.textEncoding);
    return r;
}

}  // namespace quarry::hfsplus

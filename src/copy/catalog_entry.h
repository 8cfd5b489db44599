#pragma once
// A catalog record copied out of the node buffer, so that it outlives later searches: what the
// copy engine, the fork formats, the dump and the attribute sheets read of a file or a folder.

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "hfs/btree.h"
#include "hfs/byte_order.h"
#include "hfs/catalog_layout.h"

namespace quarry {

struct CatalogEntry {
    std::string name;  // Macintosh characters, as stored
    uint8_t type = 0;  // catrec::kFolder or catrec::kFile
    std::array<uint8_t, catrec::kFileSize> data{};

    static CatalogEntry fromKey(const uint8_t* key) {
        CatalogEntry e;
        e.name.assign(reinterpret_cast<const char*>(key + catkey::kName), catalogKeyNameLength(key));
        const uint8_t* d = recordData(key);
        e.type = d[0];
        std::memcpy(e.data.data(), d, e.type == catrec::kFile ? catrec::kFileSize : catrec::kFolderSize);
        return e;
    }
    uint32_t data32(size_t off) const { return loadBE32(data.data() + off); }
};

}  // namespace quarry

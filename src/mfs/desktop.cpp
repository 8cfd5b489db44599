#include "mfs/desktop.h"

#include "hfs/byte_order.h"

namespace quarry::mfs {
namespace {

// The resource fork's header and map, as the Resource Manager lays them out.
namespace rsrc {
inline constexpr uint32_t kHeaderLength = 16;  // data offset, map offset, data length, map length
inline constexpr uint32_t kMapTypeList = 24;   // offset of the type list from the map's start
inline constexpr uint32_t kMapNameList = 26;   // offset of the name list from the map's start
inline constexpr uint32_t kTypeEntry = 8;      // type, count - 1, offset of its references
inline constexpr uint32_t kReference = 12;     // ID, name offset, attributes + data offset, handle
inline constexpr uint16_t kNoName = 0xFFFF;
}  // namespace rsrc

constexpr uint32_t kFobj = 0x464F424A;  // 'FOBJ'

std::string at(uint64_t offset) { return "the Desktop file's resource fork: byte " + std::to_string(offset); }

}  // namespace

Result<std::vector<DesktopFolder>> desktopFolders(std::span<const uint8_t> fork) {
    BeReader header(fork);
    const uint32_t dataOffset = header.be32(0);
    const uint32_t mapOffset = header.be32(4);
    const uint32_t dataLength = header.be32(8);
    const uint32_t mapLength = header.be32(12);
    if (!header.ok()) return Fault{"the Desktop file's resource fork is shorter than its header"};
    if (dataOffset > fork.size() || dataLength > fork.size() - dataOffset || mapOffset > fork.size() ||
        mapLength > fork.size() - mapOffset || mapLength < rsrc::kMapNameList + 2)
        return Fault{"the Desktop file's resource map or data lie outside its resource fork"};
    const std::span<const uint8_t> map = fork.subspan(mapOffset, mapLength);
    const std::span<const uint8_t> data = fork.subspan(dataOffset, dataLength);
    BeReader m(map);
    const uint32_t typeList = m.be16(rsrc::kMapTypeList);
    const uint32_t nameList = m.be16(rsrc::kMapNameList);
    const uint32_t types = uint32_t{m.be16(typeList)} + 1;
    if (!m.ok()) return Fault{at(mapOffset) + ": the type list lies outside the resource map"};
    // A count of 0xFFFF is the Resource Manager's "no types" (-1, plus one).
    const uint32_t typeCount = types & 0xFFFF;

    std::vector<DesktopFolder> folders;
    for (uint32_t t = 0; t < typeCount; ++t) {
        const size_t entry = typeList + 2 + size_t{t} * rsrc::kTypeEntry;
        const uint32_t type = m.be32(entry);
        const uint32_t count = uint32_t{m.be16(entry + 4)} + 1;
        const uint32_t refs = typeList + m.be16(entry + 6);
        if (!m.ok()) return Fault{at(mapOffset + entry) + ": the type list runs past the resource map"};
        if (type != kFobj) continue;
        for (uint32_t r = 0; r < count; ++r) {
            const size_t ref = refs + size_t{r} * rsrc::kReference;
            DesktopFolder folder;
            folder.number = static_cast<int16_t>(m.be16(ref));
            const uint16_t nameAt = m.be16(ref + 2);
            const uint32_t dataAt = m.be32(ref + 4) & 0xFFFFFF;
            if (!m.ok()) return Fault{at(mapOffset + ref) + ": an 'FOBJ' reference runs past the resource map"};
            if (nameAt != rsrc::kNoName) {
                const size_t name = size_t{nameList} + nameAt;
                const size_t length = m.u8(name);
                if (!m.ok() || length > map.size() - name - 1)
                    return Fault{at(mapOffset + ref) + ": the name of 'FOBJ' " + std::to_string(folder.number) +
                                 " lies outside the resource map"};
                folder.name.assign(reinterpret_cast<const char*>(map.data() + name + 1), length);
            }
            BeReader d(data);
            const uint32_t length = d.be32(dataAt);
            if (!d.ok() || length > data.size() - dataAt - 4 || length < fobj::kMinLength)
                return Fault{at(uint64_t{dataOffset} + dataAt) + ": 'FOBJ' " + std::to_string(folder.number) +
                             " is cut short or lies outside the resource data"};
            folder.parent = static_cast<int16_t>(d.be16(dataAt + 4 + fobj::kParent));
            folders.push_back(std::move(folder));
        }
    }
    return folders;
}

}  // namespace quarry::mfs

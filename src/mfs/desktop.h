#pragma once
// The folders of an MFS volume. The volume itself has none: the Finder kept the folders a person
// saw as 'FOBJ' resources of the volume's "Desktop" file, one per folder, whose ID is the folder's
// number (the number a file's FInfo names in fdFldr) and whose name is the folder's name.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"

namespace quarry::mfs {

// An 'FOBJ' resource begins like the last eight bytes of a file's FInfo: its flags, the place of
// its icon, and the folder that holds it.
namespace fobj {
inline constexpr uint32_t kFlags = 0;
inline constexpr uint32_t kLocation = 2;
inline constexpr uint32_t kParent = 6;
inline constexpr uint32_t kMinLength = 8;
}  // namespace fobj

// fdFldr's folders that are places of the Finder rather than folders of the Desktop file.
inline constexpr int16_t kVolumeWindow = 0;
inline constexpr int16_t kDesktopFolder = -2;
inline constexpr int16_t kTrashFolder = -3;

struct DesktopFolder {
    int16_t number = 0;  // the resource's ID
    int16_t parent = 0;  // as fdFldr: 0 the volume's window
    std::string name;    // Macintosh Roman, the resource's name
};

// The 'FOBJ' resources of a resource fork; a fault naming the place when the fork's map or a
// resource lies outside it.
Result<std::vector<DesktopFolder>> desktopFolders(std::span<const uint8_t> fork);

}  // namespace quarry::mfs

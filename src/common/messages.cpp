#include "common/messages.h"

#include <array>
#include <cstddef>

namespace quarry {
namespace {

constexpr std::array<const char*, static_cast<size_t>(Msg::Count)> kMessageTable = {
    "This media can't be read.",
    "This CD-ROM is not a Macintosh HFS volume.",
    "This is a MS-DOS formatted volume.",
    "Not enough free space for temporary files.",
    "Error reading data. Restart the program.",
    "Analyzing the volume...",
    "Please wait",
    "Copying catalog...",
    "Copying extensions...",
    "No local CD-ROM drive.",
    "Error initializing the ASPI manager.",
    "Allocation request for zero bytes. Aborting.",
    "Not enough memory. Aborting.",
    "You hit the Esc key. Do you really want to abort?",
    "No selected file or folder. Please select an item to copy toward the PC",
    "Write functions are not yet validated for media with 1024 bytes/sector.",
    "Select a menu or press F1 for help...",
    "This volume is damaged:",
    "No such folder:",
    "Updating disk managing structures on disc...",
    "Not enough space on the volume.",
    "Error trying to extend catalog.",
    "Write-protected media.",
    "A directory exists already with this name.",
    "Deleting several files/directories?",
    "The directory is not empty.",
    "Delete directory",
    "Renaming with a wildcard on one side only?",
    "An entry exists already with this name.",
    "The volume could not be written:",
    "This folder could not be copied whole:",
    "Unreadable sector written as zeros:",
    "The volume is locked; it is not changed.",
    "Quarry changes HFS volumes only; this %s volume is not changed.",
    "The volume's journal holds changes not yet written to it: what is shown may be older than what the Macintosh last saw.",
    "This is an APFS volume, which Quarry does not read.",
    "File %s uses LZFSE compression, which Quarry does not read",
    "The medium also holds %s.",
    "The medium holds no HFS or HFS+ volume at partition %s.",
    "The volume's journal holds changes not yet written to it: they are shown as the Macintosh would write them, and the medium is not changed.",
    "The volume was not closed cleanly; its counts and free space were repaired.",
};

}  // namespace

const char* messageText(Msg id) { return kMessageTable[static_cast<size_t>(id)]; }

std::string messageWith(Msg id, std::string_view parameter) {
    std::string text = messageText(id);
    if (const size_t at = text.find("%s"); at != std::string::npos) text.replace(at, 2, parameter);
    return text;
}

}  // namespace quarry

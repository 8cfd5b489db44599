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
};

}  // namespace

const char* messageText(Msg id) { return kMessageTable[static_cast<size_t>(id)]; }

}  // namespace quarry

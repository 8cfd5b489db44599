#pragma once
// Copies Macintosh files and folders to the PC's current directory, or to an output port: the
// data fork, the resource fork, or a binary copy holding both forks and the Finder information
// (MacBinary and the other forms of fork_formats.h).

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "common/result.h"
#include "volume/volume_entry.h"

namespace quarry {

struct CopyContext;
struct UnreadableSectors;
class ByteSink;

namespace copyresult {
inline constexpr uint16_t kDone = 0;
inline constexpr uint16_t kAborted = 1;
inline constexpr uint16_t kNothing = 0xFFFF;  // nothing matched, or no room for the file
}  // namespace copyresult

// Copies the entries of folder dirID whose names match pattern (Macintosh characters; without
// "*" it names one entry). An exact name (a list entry's) names one entry, "*" and all.
uint16_t CopyMacEntries(const CopyContext& context, uint32_t dirID, const std::string& pattern,
                        NameMatch match = NameMatch::Pattern);
uint16_t CopyMacFolder(const CopyContext& context, const VolumeEntry& folder);
uint16_t CopyMacFile(const CopyContext& context, const VolumeEntry& file);
// The binary copy of file in the settings' binary format (fork_formats.h); for AppleDouble, the
// data file of the pair. Unreadable sectors stop it unless `zeroFill` is given (see
// ForkReader::copyTo).
Status WriteBinaryCopy(const CopyContext& context, ByteSink& sink, const VolumeEntry& file,
                       UnreadableSectors* zeroFill = nullptr);
// Whether a symbolic link whose folder lies `depth` folders below the copy's target, holding
// `target`, names a place inside that target however the PC resolves it: a relative path whose
// ".." all come first, no more of them than `depth` (a ".." after a name could lead out through
// a link of that name) and short enough for the PC to hold as a link.
bool SymbolicLinkStaysInside(std::string_view target, size_t depth);
// The calendar time at which the PC shows the Macintosh's stored wall-clock time.
time_t MacDateToDosStamp(uint32_t macSeconds);
// Creates the PC directory for a folder (or takes the existing one) and makes it current.
// name receives the PC name. False, after a message, when that cannot be done.
bool MakePcDirectory(const CopyContext& context, std::string& name, std::string_view unicodeName = {});

}  // namespace quarry

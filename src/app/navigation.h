#pragma once
// The current folder: moving into a subfolder, to the parent and to the root, and keeping the
// folder's valence in step when entries are added or removed. Names are in the Macintosh
// character set; "*" is a wildcard as in the catalog search.

#include <cstdint>
#include <string_view>

#include "volume/volume_entry.h"

namespace quarry {

struct Session;

// Each returns false when the folder was not found; the current folder then stays as it was.
// A name typed by the person is a pattern; a name taken from the list or the catalog is exact.
bool changeDirectory(Session& session, uint32_t parentID, std::string_view name,
                     NameMatch match = NameMatch::Pattern);
bool enterDirectory(Session& session, std::string_view name, NameMatch match = NameMatch::Pattern);
bool changeToParent(Session& session);
bool changeToRoot(Session& session);

}  // namespace quarry

#pragma once
// The current folder: moving into a subfolder, to the parent and to the root, and keeping the
// folder's valence in step when entries are added or removed. Names are in the Macintosh
// character set; "*" is a wildcard as in the catalog search.

#include <cstdint>
#include <string>
#include <string_view>

#include "volume/volume_entry.h"

namespace quarry {

struct Session;

// What a person typed (trailing blanks dropped) as the mounted volume takes a typed name: UTF-8
// as typed on a volume whose names are Unicode, else in the Macintosh set, ending at the first
// character that has no Macintosh form. `typed` is in the session's typed form (TypedText).
std::string TypedName(const Session& session, std::string_view typed);
// A line a person typed (UTF-8) in the form the command language reads it on the mounted volume:
// unchanged where names are Unicode, else in the program's Windows character set.
std::string TypedText(const Session& session, std::string_view utf8);
// Typed text (as TypedText gives it) back as UTF-8, for messages.
std::string TypedTextToUtf8(const Session& session, std::string_view typed);

// Each returns false when the folder was not found; the current folder then stays as it was.
// A name typed by the person is a pattern; a name taken from the list or the catalog is exact.
bool changeDirectory(Session& session, uint32_t parentID, std::string_view name,
                     NameMatch match = NameMatch::Pattern);
bool enterDirectory(Session& session, std::string_view name, NameMatch match = NameMatch::Pattern);
bool changeToParent(Session& session);
bool changeToRoot(Session& session);

}  // namespace quarry

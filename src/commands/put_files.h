#pragma once
// PUT: PC files and folders onto a writable volume, into the current folder.
//
// A file in MacBinary, AppleSingle or BinHex, or a data file with an AppleDouble "._" file
// beside it, is known by its content and becomes one Macintosh file with both forks, its own
// name, type, creator, Finder flags and dates. Any other file becomes a data fork named after
// the PC file, with the type and creator that the type/creator table gives its extension
// (else '????' '????') and the PC file's dates. A folder is put with everything in it.
//
// A whole put is one change (commands/volume_changes.h), committed once. A file the free blocks
// cannot hold whole is refused before anything of it is written, and the files before it stay;
// should a step fail part-way, the put is made again a change per file, so that the files before
// the failure stay then too, on a sound volume.
//
//     if (WriteGuardAllows(session)) PutPcPaths(session, {"/home/me/Games"});

#include <cstdint>
#include <string>
#include <vector>

namespace quarry {

struct Session;

struct PutTally {
    uint32_t files = 0;    // files put
    uint32_t folders = 0;  // folders made
    uint32_t refused = 0;  // files and folders not put, each said
    bool stopped = false;  // a change failed, or Esc stopped the rest
};

// Puts each PC path (UTF-8) into the current folder; `macName` (UTF-8) names the one path there
// instead of its own name. A name longer than 31 characters or holding ':' is made legal (cut,
// ':' as '/') and said; a name the folder has already is refused with a message and the entry
// there kept.
PutTally PutPcPaths(Session& session, const std::vector<std::string>& pcPaths, const std::string& macName = {});

}  // namespace quarry

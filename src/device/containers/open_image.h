#pragma once
// Opens an image file for the image adapter, whatever holds the medium. The kind of file is
// decided here, in one place, from its content and never from its name: a gzip or zip wrapper
// (unwrapped into a temporary file, then looked at again), a UDIF trailer, a DART or DiskCopy 4.2
// header, raw CD sectors with their sync pattern, a cue sheet, or else a plain image.

#include <string>
#include <vector>

#include "common/result.h"
#include "device/containers/image_source.h"

namespace quarry {

// Faults read "cannot open PATH: reason" when the file cannot be opened at all, and name the
// container and its damage when it is one ("The UDIF image is damaged: ...").
// A zip archive of several images opens the one member that holds a Macintosh volume; with
// several such members it is a fault that names them (openImages opens them all).
Result<OpenedImage> openImage(const std::string& path, ImageAccess access);

// Every medium the file holds: one for an image file, and for a zip archive of several files
// each member that holds a Macintosh volume (a zip of one file gives that file, whatever it
// holds). `member` opens that member of a zip archive alone (its name in the archive, or its
// last part when no other member ends the same); empty opens them all.
Result<std::vector<OpenedImage>> openImages(const std::string& path, ImageAccess access, const std::string& member = {});

// Whether the medium holds a volume of a Macintosh format (on its own or in a partition), found
// by its content.
bool holdsMacintoshVolume(ImageSource& medium);

}  // namespace quarry

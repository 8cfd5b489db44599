#pragma once
// Opens an image file for the image adapter, whatever holds the medium. The kind of file is
// decided here, in one place, from its content and never from its name: a gzip or zip wrapper
// (unwrapped into a temporary file, then looked at again), a UDIF trailer, a DART or DiskCopy 4.2
// header, raw CD sectors with their sync pattern, a cue sheet, or else a plain image.

#include <string>

#include "common/result.h"
#include "device/containers/image_source.h"

namespace quarry {

// Faults read "cannot open PATH: reason" when the file cannot be opened at all, and name the
// container and its damage when it is one ("The UDIF image is damaged: ...").
Result<OpenedImage> openImage(const std::string& path, ImageAccess access);

}  // namespace quarry

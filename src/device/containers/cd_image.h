#pragma once
// CD images in raw sectors: a BIN file of 2352-byte sectors (sync pattern, header, user data,
// error codes), found by its sync pattern alone or through a cue sheet, which libcue reads.
// The medium served is the 2048 user bytes of each sector of the first data track.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/result.h"
#include "device/containers/image_source.h"

namespace quarry {

bool looksLikeRawCdSector(const uint8_t* head, size_t length);
Result<OpenedImage> openRawCdBin(std::shared_ptr<FileHandle> file, uint64_t fileSize);

bool looksLikeCueSheet(const uint8_t* head, size_t length, uint64_t fileSize);
// `path` is the cue sheet's own path: the track files it names are found beside it.
Result<OpenedImage> openCueSheet(const FileHandle& file, uint64_t fileSize, const std::string& path);

}  // namespace quarry

#pragma once
// quarry-cli --json: the whole volume as JSON Lines, one object per file or folder.

#include <cstdio>
#include <functional>
#include <string>

#include "copy/volume_report.h"

namespace quarry::cli {

// Writes the entries of the volume to `out`, one line each; `fault` hears of each fork that
// could not be read.
ReportSummary WriteJsonLines(MountedVolume& volume, const bool& ending, ReportDigests digests, std::FILE* out,
                             const std::function<void(const std::string&)>& fault);

}  // namespace quarry::cli

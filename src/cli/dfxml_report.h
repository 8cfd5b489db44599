#pragma once
// quarry-cli --dfxml: the whole volume as a DFXML document, the form forensic and archival tools
// (fiwalk, The Sleuth Kit, BitCurator) write and read: each file and folder with its dates, and
// for each fork its SHA-256 and the byte runs where it lies in the image.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/result.h"
#include "copy/volume_report.h"

namespace quarry::cli {

struct DfxmlSource {
    std::string path;       // the image file as given
    uint64_t size = 0;      // bytes of the medium
    std::string container;  // "" for a plain image; else the kind whose medium the runs are in
    std::string member;     // the file of a zip archive that holds the medium; else empty
};

// Writes the document to `file` (replacing it); `fault` hears of each fork that could not be read.
Result<ReportSummary> WriteDfxml(MountedVolume& volume, const bool& ending, const std::string& file, const DfxmlSource& source,
                                 const std::vector<std::string>& commandLine,
                                 const std::function<void(const std::string&)>& fault);

}  // namespace quarry::cli

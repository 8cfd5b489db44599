#pragma once
// The process-wide settings record: options, naming mode and output port, the file list.

#include <cstdint>

#include "app/file_list.h"
#include "copy/copy_context.h"

namespace quarry {

// The copy's settings (the option word, the naming mode and the port) with the list and the
// target choice of the main window.
struct AppSettings : CopySettings {
    FileList list;
    // "Use Current Directory": copies go to the current directory without asking for a target.
    bool useCurrentDirectory = false;
    // "Checksum manifest" of the log dialog: a log created or opened keeps a manifest beside it.
    bool manifestWithLog = false;
    // "MFS folders": an MFS volume shows the folders of the Finder's Desktop file instead of
    // every file in its root. Taken when a volume is mounted (the desktop program mounts a
    // shown MFS volume again when the box changes).
    bool mfsFolders = false;
};

}  // namespace quarry

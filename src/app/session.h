#pragma once
// Everything one running program works on, gathered in one object that the program creates
// once. Functions receive what they act on, so a test can run two volumes side by side.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "copy/copy_context.h"
#include "common/ui_port.h"
#include "device/sector_source.h"
#include "common/log_file.h"
#include "hfs/volume.h"
#include "volume/mounted_volume.h"

namespace quarry {

// The folder the program shows.
struct CurrentDirectory {
    // The folder's name followed by one space, "Root  " for the root, or the name exactly as
    // stored after entering a subfolder (Macintosh character set).
    std::string currentName;
    uint32_t currentDirID = kRootDirId;
    uint32_t currentParentID = kRootParentId;
};

struct Session {
    explicit Session(UiPort& port) : ui(port) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() { closeWorkFiles(volume); }

    UiPort& ui;
    DeviceState device;
    // The HFS volume's own state, which the HFS code (and behind it the changing commands)
    // works on.
    VolumeState volume;
    // The mounted volume as every other layer reads it, whatever its format; none while no
    // volume is mounted. Declared after what it refers to, so that it goes first.
    std::unique_ptr<MountedVolume> mounted;
    // The partition the person chose by its number in the medium's map (quarry-cli's
    // --partition); without one the first HFS or HFS+ volume is mounted.
    std::optional<uint32_t> partitionChoice;
    // Why the last mount found nothing to mount, when the medium holds a volume Quarry does
    // not read (APFS) or no volume where the person asked; empty otherwise.
    std::string mountRefusal;
    // What the mount has to say besides its damage (the medium's other volumes), told with
    // the damage reports.
    std::vector<std::string> mountNotices;
    CurrentDirectory dir;
    AppSettings settings;
    LogFile log;
    CopyState copy;
    // Set once a fatal error has been reported: long operations stop at their next step and the
    // front end ends the program.
    bool ending = false;
    // Set when the last changing word of the command line was not carried out (a refusal, a
    // cancelled question, a failed write), for front ends that report it.
    bool changeRefused = false;
    // False for a front end that shows the current folder only when asked (quarry-cli's DIR
    // builds the list itself): the changing commands then leave the list to be built when it
    // is wanted, which on a folder of thousands of entries is most of their time.
    bool listOnScreen = true;

    void fatal(const std::string& text) {
        ending = true;
        ui.fatalError(text);
    }

    // What the volume code works with.
    VolumeContext volumeContext() { return {volume, device, ui, ending}; }
    // What the copy engine works with.
    CopyContext copyContext() { return {mounted.get(), ui, ending, copy, settings, log}; }
};

}  // namespace quarry

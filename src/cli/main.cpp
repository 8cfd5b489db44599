// quarry-cli: the engine without a window. Runs command-language lines (DIR, CD, INFO …)
// against an image file or a drive, for scripts and batch extraction.
//
//   quarry-cli [options] SOURCE [LINE ...]
//
// With no LINE, lines are read from standard input, one per line.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/command_ids.h"
#include "app/messages.h"
#include "app/session.h"
#include "cli/cli_ui.h"
#include "commands/command_line.h"
#include "common/text.h"
#include "copy/charset.h"
#include "device/drive_scan.h"
#include "device/image_adapter.h"
#include "device/sg_adapter.h"
#include "dialogs/volume_info.h"
#include "hfs/volume.h"

namespace quarry::cli {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitStopped = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: quarry-cli [options] SOURCE [LINE ...]\n"
    "\n"
    "Mounts the Macintosh HFS volume of SOURCE (an image file, a block device or a /dev/sg*\n"
    "drive) and runs each LINE of the command language as typed in the command-line dialog;\n"
    "with no LINE, lines are read from standard input.\n"
    "\n"
    "options:\n"
    "  --yes       answer questions with OK or Yes (default: Cancel or No)\n"
    "  --help      show this text\n"
    "\n"
    "commands: DIR [pattern], CD name, CD .., CD \\, INFO, HELP, QUIT; switches /S /E /A\n"
    "choose the short, extended and signature listings.\n";

struct Options {
    bool answerYes = false;
    std::string source;
    std::vector<std::string> lines;
    bool readStdin = true;
};

std::string trimmed(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return std::string(s);
}

class Runner {
public:
    explicit Runner(const Options& options) : ui_(options.answerYes), session_(ui_) {}

    int run(const Options& options) {
        if (int status = startUp(options.source); status != kExitOk) return status;
        if (!options.readStdin) {
            for (const std::string& line : options.lines)
                if (!runLine(line)) return exitStatus_;
        } else {
            std::string line;
            while (std::getline(std::cin, line)) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (!runLine(line)) return exitStatus_;
            }
        }
        return exitStatus_;
    }

private:
    int startUp(const std::string& source) {
        if (source.rfind("/dev/sg", 0) == 0) {
            auto adapter = SgAdapter::open({source});
            if (!adapter) {
                ui_.report(adapter.fault());
                return kExitStopped;
            }
            bus_.adapters.push_back(std::move(*adapter));
        } else {
            auto images = std::make_unique<ImageAdapter>();
            if (auto target = images->addImage(source, ImageAccess::ReadOnly); !target) {
                ui_.report(target.fault());
                return kExitStopped;
            }
            bus_.adapters.push_back(std::move(images));
        }
        DeviceState& device = session_.device;
        device.bus = &bus_;
        device.targetId = kNoSelection;
        if (InitAspi(device, ui_) < 0 || ui_.fatal()) return kExitStopped;
        PrepareCdAccess(device);
        if (SelectCdromDrive(device, table_, ui_) == 0) {
            ui_.fatalError(messageText(Msg::NoCdromDrive));
            return kExitStopped;
        }
        device.deviceBlockSize = 512;
        initVolumeBuffers(session_);
        return mount();
    }

    int mount() {
        ui_.takeReported();
        const int result = mountVolume(session_);
        if (result > 0) return kExitOk;
        if (ui_.fatal()) return kExitStopped;
        if (result == 0) {
            if (!session_.volume.mountFault.empty())
                ui_.report(std::string(messageText(Msg::VolumeDamaged)) + " " + session_.volume.mountFault);
            else if (!ui_.takeReported())
                ui_.report(messageText(Msg::NotHfsVolume));
        }
        return kExitStopped;
    }

    // False when the run has to stop; exitStatus_ then says how.
    bool runLine(const std::string& utf8Line) {
        const int code = ExecuteCommandText(session_, utf8ToAnsi(utf8Line));
        // A listing cut short by a damaged catalog is not printed as if it were whole.
        if (!checkVolume()) return false;
        if (code == word::kDir) printList();
        int command = 0;
        while (ui_.takePosted(command)) {
            if (!runPosted(command)) return false;
        }
        return checkVolume();
    }

    // A damaged catalog met by a command ends the run: later commands would see a partial tree.
    bool checkVolume() {
        if (ui_.fatal()) {
            exitStatus_ = kExitStopped;
            return false;
        }
        for (BTreeFile* tree : {&session_.volume.catalog, &session_.volume.extents}) {
            if (!tree->fault.empty()) {
                ui_.report(std::string(messageText(Msg::VolumeDamaged)) + " " + tree->fault);
                exitStatus_ = kExitStopped;
                return false;
            }
        }
        return true;
    }

    bool runPosted(int command) {
        switch (command) {
            case command::kVolumeInfo: printVolumeInfo(); return true;
            case command::kSelectDrive:
                if (SelectCdromDrive(session_.device, table_, ui_) == 1) {
                    if (mount() != kExitOk) {
                        exitStatus_ = kExitStopped;
                        return false;
                    }
                }
                return true;
            case command::kExit:
                if (ui_.ask("Do you really want to quit?", Question::YesNo)) {
                    exitStatus_ = kExitOk;
                    return false;
                }
                return true;
            case command::kOpenFolder:
                // There is no selection in quarry-cli, so no selected folder to open.
                ui_.setStatusText(messageText(Msg::NoSelection), nullptr);
                return true;
            case command::kHelpIndex: std::fputs(kUsage, stdout); return true;
            default: return true;  // commands that act on a selection find none here
        }
    }

    void printList() {
        const FileList& list = session_.settings.list;
        if (list.entryCount == 0) {
            std::puts("[No file]");
            return;
        }
        for (uint16_t i = 0; i < list.entryCount; ++i) {
            const ListEntry& e = list.entries[i];
            const std::string signature = macNameToUtf8(std::string(e.signatureText()));
            std::printf("%s\t%s\t%s\t%s\t%s\t%s\n", macNameToUtf8(e.name()).c_str(), trimmed(e.dataSizeText()).c_str(),
                        trimmed(e.rsrcSizeText()).c_str(), trimmed(signature).c_str(), trimmed(e.createdText()).c_str(),
                        trimmed(e.modifiedText()).c_str());
        }
        std::fflush(stdout);
    }

    void printVolumeInfo() {
        for (const VolumeInfoValue& v : VolumeInfoValues(session_)) std::printf("%s\t%u\n", v.label, v.value);
        std::fflush(stdout);
    }

    CliUi ui_;
    Session session_;
    ScsiBus bus_;
    ScsiDeviceTable table_;
    int exitStatus_ = kExitOk;
};

}  // namespace
}  // namespace quarry::cli

int main(int argc, char** argv) {
    using namespace quarry::cli;
    Options options;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--yes") {
            options.answerYes = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (arg.rfind("--", 0) == 0) {
            std::fprintf(stderr, "quarry-cli: unknown option %s\n%s", arg.c_str(), kUsage);
            return kExitUsage;
        } else {
            break;
        }
    }
    if (i >= argc) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    options.source = argv[i++];
    for (; i < argc; ++i) options.lines.push_back(argv[i]);
    options.readStdin = options.lines.empty();
    Runner runner(options);
    return runner.run(options);
}

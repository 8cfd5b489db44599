#include "commands/attributes.h"

#include <algorithm>
#include <cstdio>
#include <span>

#include "app/file_list.h"
#include "app/session.h"
#include "common/ui_port.h"
#include "common/text.h"
#include "common/charset.h"
#include "copy/copy_engine.h"
#include "app/dialog_controls.h"

namespace quarry {
namespace {

// A signature shows its four bytes as the PC's character set reads them; a NUL ends it, as it
// ends the text put into the field.
std::string signatureText(std::string_view signature) {
    std::string bytes(signature);
    bytes.resize(bytes.find('\0') == std::string::npos ? 4 : bytes.find('\0'));
    return ansiToUtf8(bytes);
}

std::array<uint32_t, 5> calendarFields(uint32_t macTime) {
    const MacCalendar c = MacTimeToCalendar(macTime);
    return {static_cast<uint32_t>(c.day), static_cast<uint32_t>(c.month), static_cast<uint32_t>(c.year),
            static_cast<uint32_t>(c.hour), static_cast<uint32_t>(c.minute)};
}

// The first `extents` runs of the fork's storage as "start/count" in sectors, the start counted from
// allocation block 0; a run that is not there shows as 0/0. Shown as 32-bit numbers, as the
// dialog always has.
std::string extentsText(const std::vector<ForkRun>& runs, uint64_t firstBlockSector, size_t extents) {
    std::string text;
    for (size_t i = 0; i < extents; ++i) {
        unsigned long start = 0, count = 0;
        if (i < runs.size()) {
            start = static_cast<uint32_t>(runs[i].mediumOffset / kForkUnitSize - firstBlockSector);
            count = static_cast<uint32_t>((runs[i].length + kForkUnitSize - 1) / kForkUnitSize);
        }
        char part[48];
        std::snprintf(part, sizeof part, "%s%lu/%lu", i == 0 ? "" : ", ", start, count);
        text += part;
    }
    return text;
}

// The label beside each field that has one. The fields of a date after its day have none: they
// sit on the day's row.
struct FieldLabel {
    int control;
    const char* label;
};

constexpr FieldLabel kAttributeLabels[] = {
    {attrctl::kName, attrtext::kName},
    {attrctl::kCreator, attrtext::kCreator},
    {attrctl::kType, attrtext::kType},
    {attrctl::kCreatedFirst, attrtext::kCreated},
    {attrctl::kModifiedFirst, attrtext::kModified},
    {attrctl::kDataLength, attrtext::kDataLength},
    {attrctl::kRsrcLength, attrtext::kRsrcLength},
};

constexpr FieldLabel kAdvancedLabels[] = {
    {attrctl::kName, attrtext::kFileName},
    {attrctl::kFileNumber, attrtext::kFileNumber},
    {attrctl::kDataExtents, attrtext::kDataExtents},
    {attrctl::kRsrcExtents, attrtext::kRsrcExtents},
    {attrctl::kOwner, attrtext::kOwner},
    {attrctl::kGroup, attrtext::kGroup},
    {attrctl::kMode, attrtext::kMode},
    {attrctl::kLinkTarget, attrtext::kLinkTarget},
};

// The name as the sheets show it: the Macintosh Roman name cut to the field on HFS, the whole
// Unicode name where the volume's names are Unicode (an HFS+ entry carries its owner).
std::string shownName(const VolumeEntry& file) {
    return file.posix ? file.name : macNameToUtf8(file.macName.substr(0, kAttributeNameLimit));
}

std::vector<SheetLine> sheetOf(const std::vector<DialogField>& fields, std::span<const FieldLabel> labels) {
    std::vector<SheetLine> lines;
    for (const DialogField& f : fields) {
        const auto row =
            std::find_if(labels.begin(), labels.end(), [&](const FieldLabel& l) { return l.control == f.control; });
        if (row != labels.end()) lines.push_back({row->label, f.text});
        else if (!lines.empty()) lines.back().value += " " + f.text;
    }
    return lines;
}

}  // namespace

std::vector<DialogField> FileAttributes::fields() const {
    std::vector<DialogField> out = {{attrctl::kName, name}, {attrctl::kCreator, creator}, {attrctl::kType, type}};
    for (int i = 0; i < 5; ++i) out.push_back({attrctl::kCreatedFirst + i, std::to_string(created[i])});
    for (int i = 0; i < 5; ++i) out.push_back({attrctl::kModifiedFirst + i, std::to_string(modified[i])});
    out.push_back({attrctl::kDataLength, std::to_string(dataLength)});
    out.push_back({attrctl::kRsrcLength, std::to_string(rsrcLength)});
    return out;
}

std::vector<DialogField> AdvancedAttributes::fields() const {
    std::vector<DialogField> out = {{attrctl::kName, name},
            {attrctl::kFileNumber, std::to_string(fileNumber)},
            {attrctl::kDataExtents, dataExtents},
            {attrctl::kRsrcExtents, rsrcExtents}};
    if (posix) {
        char mode[16];
        std::snprintf(mode, sizeof mode, "%06o", unsigned{posix->mode});
        out.insert(out.end(), {{attrctl::kOwner, std::to_string(posix->owner)},
                               {attrctl::kGroup, std::to_string(posix->group)},
                               {attrctl::kMode, mode}});
    }
    if (!linkTarget.empty()) out.push_back({attrctl::kLinkTarget, linkTarget});
    return out;
}

FileAttributes fileAttributesOf(const VolumeEntry& file) {
    FileAttributes a;
    a.name = shownName(file);
    a.creator = signatureText(file.creator());
    a.type = signatureText(file.type());
    a.created = calendarFields(file.created.wallClock());
    a.modified = calendarFields(file.modified.wallClock());
    a.dataLength = static_cast<uint32_t>(file.data.logical);
    a.rsrcLength = static_cast<uint32_t>(file.rsrc.logical);
    return a;
}

std::vector<SheetLine> FileAttributes::sheet() const { return sheetOf(fields(), kAttributeLabels); }

std::vector<SheetLine> AdvancedAttributes::sheet() const { return sheetOf(fields(), kAdvancedLabels); }

AdvancedAttributes advancedAttributesOf(const VolumeEntry& file, const std::vector<ForkRun>& dataRuns,
                                        const std::vector<ForkRun>& rsrcRuns, uint64_t firstBlockSector,
                                        size_t extents) {
    AdvancedAttributes a;
    a.name = shownName(file);
    a.fileNumber = file.id;
    a.dataExtents = extentsText(dataRuns, firstBlockSector, extents);
    a.rsrcExtents = extentsText(rsrcRuns, firstBlockSector, extents);
    a.posix = file.posix;
    a.linkTarget = file.linkTarget;
    return a;
}

AdvancedAttributes advancedAttributesOf(MountedVolume& volume, const VolumeEntry& file) {
    // A fork whose storage cannot be followed (a damaged overflow tree) shows no runs.
    auto allocated = [&](ForkKind fork) {
        Result<std::vector<ForkRun>> runs = volume.openFork(file, fork)->allocatedRuns();
        return runs ? std::move(*runs) : std::vector<ForkRun>{};
    };
    // An HFS+ record holds eight extents of each fork, an HFS one three.
    return advancedAttributesOf(file, allocated(ForkKind::Data), allocated(ForkKind::Resource),
                                volume.figures().firstBlockSector, namesAreUnicode(volume.format()) ? 8 : 3);
}

std::optional<int> AttributesDialogPress(UiPort& ui, int control) {
    switch (control) {
        case attrctl::kQuit:
        case dlg::kEnter:
        case dlg::kEscape:
        case dlg::kSystemClose: return 0;
        case attrctl::kHelp: ui.openHelp("dlg_ATTR"); break;
        default: break;
    }
    return std::nullopt;
}

std::optional<int> AdvancedAttributesDialogPress(UiPort& ui, int control) {
    switch (control) {
        case attrctl::kOk:
        case dlg::kEnter:
        case dlg::kEscape: return 1;
        case dlg::kSystemClose: return 0;
        case attrctl::kHelp: ui.openHelp("dlg_ATT2"); break;
        default: break;
    }
    return std::nullopt;
}

int ShowFileAttributes(Session& session, std::string_view name, const std::function<void(const VolumeEntry&)>& show,
                       NameMatch match) {
    if (!session.mounted) return 0;
    if (const std::optional<VolumeEntry> file = session.mounted->findEntry(session.dir.currentDirID, name, match, EntryKind::File))
        show(*file);
    return 0;
}

}  // namespace quarry

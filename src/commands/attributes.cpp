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
#include "hfs/btree.h"
#include "hfs/fork.h"

namespace quarry {
namespace {

// A signature shows its four bytes as the PC's character set reads them; a NUL ends it, as it
// ends the text put into the field.
std::string signatureText(const CatalogEntry& file, size_t at) {
    std::string bytes(reinterpret_cast<const char*>(file.data.data() + at), 4);
    bytes.resize(bytes.find('\0') == std::string::npos ? 4 : bytes.find('\0'));
    return ansiToUtf8(bytes);
}

std::array<uint32_t, 5> calendarFields(uint32_t macTime) {
    const MacCalendar c = MacTimeToCalendar(macTime);
    return {static_cast<uint32_t>(c.day), static_cast<uint32_t>(c.month), static_cast<uint32_t>(c.year),
            static_cast<uint32_t>(c.hour), static_cast<uint32_t>(c.minute)};
}

std::string extentsText(const CatalogEntry& file, size_t at, uint32_t sectorsPerBlock) {
    const ExtentRecord r = extentRecordAt(file.data.data() + at);
    // 32-bit products, as the dialog has always shown them.
    auto sectors = [&](uint16_t blocks) { return static_cast<unsigned long>(uint32_t{blocks} * sectorsPerBlock); };
    char text[96];
    std::snprintf(text, sizeof text, "%lu/%lu, %lu/%lu, %lu/%lu", sectors(extentStart(r, 0)), sectors(extentCount(r, 0)),
                  sectors(extentStart(r, 1)), sectors(extentCount(r, 1)), sectors(extentStart(r, 2)),
                  sectors(extentCount(r, 2)));
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
};

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
    return {{attrctl::kName, name},
            {attrctl::kFileNumber, std::to_string(fileNumber)},
            {attrctl::kDataExtents, dataExtents},
            {attrctl::kRsrcExtents, rsrcExtents}};
}

FileAttributes fileAttributesOf(const CatalogEntry& file) {
    FileAttributes a;
    // The name comes with the copied record, so the dump window's copy (which has no key in
    // front of it) shows the same name as the catalog's own record.
    a.name = macNameToUtf8(file.name.substr(0, kAttributeNameLimit));
    a.creator = signatureText(file, catrec::kFileCreator);
    a.type = signatureText(file, catrec::kFileType);
    a.created = calendarFields(file.data32(catrec::kFileCreated));
    a.modified = calendarFields(file.data32(catrec::kFileModified));
    a.dataLength = file.data32(catrec::kDataLength);
    a.rsrcLength = file.data32(catrec::kRsrcLength);
    return a;
}

std::vector<SheetLine> FileAttributes::sheet() const { return sheetOf(fields(), kAttributeLabels); }

std::vector<SheetLine> AdvancedAttributes::sheet() const { return sheetOf(fields(), kAdvancedLabels); }

AdvancedAttributes advancedAttributesOf(const CatalogEntry& file, uint32_t sectorsPerBlock) {
    AdvancedAttributes a;
    a.name = macNameToUtf8(file.name.substr(0, kAttributeNameLimit));
    a.fileNumber = file.data32(catrec::kFileId);
    a.dataExtents = extentsText(file, catrec::kDataExtents, sectorsPerBlock);
    a.rsrcExtents = extentsText(file, catrec::kRsrcExtents, sectorsPerBlock);
    return a;
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

int ShowFileAttributes(Session& session, std::string_view name, const std::function<void(const CatalogEntry&)>& show,
                       NameMatch match) {
    VolumeState& volume = session.volume;
    if (!findCatalogRecord(volume, name, want::kFile, session.dir.currentDirID, match)) return 0;
    const uint8_t* key = currentRecordKey(volume.catalog);
    if (!key) return 0;
    show(CatalogEntry::fromKey(key));
    return 0;
}

}  // namespace quarry

#include "app/file_list.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "app/session.h"
#include "common/text.h"
#include "common/charset.h"

namespace quarry {
namespace {

constexpr uint32_t kSizeLimit = 9'999'999;
// Seven characters end at the field's last position: six digits and the unit letter. A larger
// count of kilobytes would spill out of the field, so it is shown in megabytes.
constexpr uint32_t kKilobyteLimit = 999'999;

void fillEntry(ListEntry& e, const VolumeEntry& v) {
    e.raw.fill(0);
    e.raw[entry::kKind] = static_cast<char>(v.kind);
    std::memcpy(e.raw.data() + entry::kName, v.macName.data(), std::min(v.macName.size(), kListNameLength));
    std::memset(e.raw.data() + entry::kTextStart, ' ', entry::kSize - entry::kTextStart);
    for (size_t nul : entry::kFieldTerminators) e.raw[nul] = '\0';

    char* r = e.raw.data();
    FormatMacDate(r + entry::kCreated, v.created.wallClock());
    FormatMacDate(r + entry::kModified, v.modified.wallClock());
    if (v.isFolder()) {
        std::memcpy(r + entry::kDirMark, "<DIR>", 5);
        char valence[16];
        const int n = std::snprintf(valence, sizeof valence, "[%u]", static_cast<unsigned>(std::min<uint32_t>(v.valence, 0xFFFF)));
        std::memcpy(r + entry::kSignatureEnd + 1 - n, valence, static_cast<size_t>(n));
    } else {
        FormatSizeField(r, entry::kDataSizeEnd, v.data.logical);
        FormatSizeField(r, entry::kRsrcSizeEnd, v.rsrc.logical);
        std::memcpy(r + entry::kSignature, v.finderInfo.data(), entry::kSignatureWidth);
    }
}

void setSelected(Session& session, uint16_t index, bool selected) {
    FileList& list = session.settings.list;
    if (index >= list.entryCount) return;
    list.entries[index].raw[entry::kSelected] = selected ? 1 : 0;
    // An entry off the screen has no row to repaint; its band would fall outside the list.
    const int row = ScreenRowOf(list, ListingModeOf(session.settings.optionWord), index);
    if (row >= 0) session.ui.invalidateListRow(row);
}

}  // namespace

void FormatSizeField(char* record, size_t end, uint64_t bytes) {
    size_t pos = end;
    uint64_t value = bytes;
    if (value > kSizeLimit) {
        record[end] = 'k';
        value /= 1024;
        if (value > kKilobyteLimit) {
            record[end] = 'M';
            value /= 1024;
        }
        --pos;
    }
    do {
        record[pos--] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
}

MacCalendar MacTimeToCalendar(uint32_t macTime) {
    // Every HFS date from 1904 on is shown as stored. The calendar is worked out here rather than
    // by the C library, whose conversion takes a lock and consults the zone on every call, once
    // for each date of a listing.
    using namespace std::chrono;
    const sys_seconds at{seconds{int64_t{macTime} - int64_t{kMacEpochOffset}}};
    const sys_days day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{at - day};
    return {static_cast<int>(static_cast<unsigned>(date.day())), static_cast<int>(static_cast<unsigned>(date.month())),
            static_cast<int>(date.year()) - 1900, static_cast<int>(time.hours().count()),
            static_cast<int>(time.minutes().count())};
}

void FormatMacDate(char* out, uint32_t macTime) {
    const MacCalendar c = MacTimeToCalendar(macTime);
    const auto two = [](char* at, int value) {
        at[0] = static_cast<char>('0' + value / 10 % 10);
        at[1] = static_cast<char>('0' + value % 10);
    };
    two(out, c.month);
    out[2] = '/';
    two(out + 3, c.day);
    out[5] = '/';
    two(out + 6, c.year % 100);
    out[8] = ' ';
    two(out + 9, c.hour);
    out[11] = ':';
    two(out + 12, c.minute);
}

std::string FormatMacDate(uint32_t macTime) {
    char text[entry::kDateWidth];
    FormatMacDate(text, macTime);
    return std::string(text, entry::kDateWidth);
}

void BuildFileList(Session& session, const char* filter) {
    FileList& list = session.settings.list;
    list.entryCount = 0;
    list.firstShown = 0;
    list.endShown = 0;
    const bool filtering = filter && *filter;
    const bool unicode = session.mounted && namesAreUnicode(session.mounted->format());
    const std::string pattern = !filtering ? std::string() : unicode ? std::string(filter) : TranslateName(filter, AnsiToMac);
    for (ListEntry& e : list.entries) e.raw.fill(0);
    list.volumeEntries.clear();
    if (!session.mounted) return;
    session.mounted->visitFolder(
        session.dir.currentDirID,
        [&](const VolumeEntry& v) {
            // A folder whose valence understates its entries still lists them all.
            if (list.entryCount == list.entryCapacity()) {
                if (list.entryCapacity() == 0xFFFF) return false;
                list.resize(std::min<size_t>(size_t{list.entryCapacity()} * 2 + 1, 0xFFFF));
            }
            fillEntry(list.entries[list.entryCount++], v);
            list.volumeEntries.push_back(v);
            return true;
        },
        filtering ? pattern : std::string("*"));
}

std::string FileList::keyOf(uint16_t index) const {
    return index < volumeEntries.size() ? volumeEntries[index].key : entries[index].name();
}

std::string FileList::shownNameOf(uint16_t index) const {
    if (index >= volumeEntries.size()) return macNameToUtf8(entries[index].name());
    const std::string& name = volumeEntries[index].name;
    // Cut after kListNameLength characters, never inside one.
    size_t end = 0;
    for (size_t characters = 0; end < name.size() && characters < kListNameLength; ++characters)
        do ++end;
        while (end < name.size() && (static_cast<uint8_t>(name[end]) & 0xC0) == 0x80);
    return name.substr(0, end);
}

uint16_t CountSelectedEntries(const FileList& list) {
    uint16_t n = 0;
    for (uint16_t i = 0; i < list.entryCount; ++i) n += list.entries[i].selected() ? 1 : 0;
    return n;
}

uint16_t NextSelectedEntry(FileList& list) {
    for (uint16_t i = 0; i < list.entryCount; ++i) {
        if (list.entries[i].selected()) {
            list.entries[i].raw[entry::kSelected] = 0;
            return i;
        }
    }
    return kNoIndex;
}

uint16_t NextSelectedFolder(const FileList& list, uint16_t after) {
    const uint32_t start = after == kNoIndex ? 0 : uint32_t{after} + 1;
    for (uint32_t i = start; i < list.entryCount; ++i)
        if (list.entries[i].selected() && list.entries[i].isFolder()) return static_cast<uint16_t>(i);
    return kNoIndex;
}

ListingMode ListingModeOf(uint16_t optionWord) {
    if (optionWord & opt::kSignatureListing) return ListingMode::Signature;
    if (optionWord & opt::kExtendedListing) return ListingMode::Extended;
    return ListingMode::Short;
}

uint16_t EntriesPerScreen(ListingMode mode) { return mode == ListingMode::Short ? 36 : 18; }

int ScreenRowOf(const FileList& list, ListingMode mode, uint16_t index) {
    if (index < list.firstShown) return -1;
    const int offset = index - list.firstShown;
    if (offset >= EntriesPerScreen(mode)) return -1;
    return mode == ListingMode::Short ? offset / 2 : offset;
}

void SelectEntry(Session& session, uint16_t index) { setSelected(session, index, true); }

void DeselectEntry(Session& session, uint16_t index) { setSelected(session, index, false); }

void SelectAll(Session& session) {
    FileList& list = session.settings.list;
    for (uint16_t i = 0; i < list.entryCount; ++i) list.entries[i].raw[entry::kSelected] = 1;
    session.ui.invalidateListRow(255);
}

void DeselectAll(Session& session) {
    FileList& list = session.settings.list;
    for (uint16_t i = 0; i < list.entryCount; ++i) list.entries[i].raw[entry::kSelected] = 0;
    session.ui.invalidateListRow(255);
}

void InvertSelection(Session& session) {
    FileList& list = session.settings.list;
    for (uint16_t i = 0; i < list.entryCount; ++i)
        list.entries[i].raw[entry::kSelected] = list.entries[i].selected() ? 0 : 1;
    session.ui.invalidateListRow(255);
}

namespace {
VolumeFigures figuresOf(const Session& session) { return session.mounted ? session.mounted->figures() : VolumeFigures{}; }
}  // namespace

// Both texts keep the 32-bit arithmetic they have always been shown with.
std::string FreeSpaceText(const Session& session) {
    const VolumeFigures f = figuresOf(session);
    const uint32_t kb = static_cast<uint32_t>(f.freeBlocks * f.blockSize) / 1024 + 1;
    char text[64];
    std::snprintf(text, sizeof text, "KB free : %8uk", kb);
    return text;
}

std::string UsedSpaceText(const Session& session) {
    const VolumeFigures f = figuresOf(session);
    const uint32_t used = static_cast<uint32_t>((f.totalBlocks - f.freeBlocks) * f.blockSize) -
                          static_cast<uint32_t>(f.catalogBytes) - static_cast<uint32_t>(f.extentsBytes);
    char text[64];
    std::snprintf(text, sizeof text, "KB used : %8uk", used / 1024);
    return text;
}

void SetVolumeTitle(Session& session) {
    session.ui.setWindowTitle("Quarry : " + figuresOf(session).name);
}

}  // namespace quarry

#include "device/drive_scan.h"

#include <algorithm>
#include <cstring>

#include "common/ui_port.h"
#include "common/text.h"
#include "device/scsi_cdb.h"

namespace quarry {
namespace {

// The three kinds of row of the device table.
namespace row {
constexpr size_t kAdapter = 0;     // adapter number; kEndMark in the end row
constexpr size_t kRowCount = 1;    // adapter row: rows of this adapter, itself included
constexpr size_t kDeviceType = 1;  // CD-ROM row: peripheral device type
constexpr size_t kTarget = 2;      // CD-ROM row: target id
constexpr size_t kAdapterMark = 2; // adapter row: kAdapterMarkValue
constexpr size_t kVendor = 3;      // CD-ROM row: 8 bytes and a zero
constexpr size_t kManagerId = 12;  // adapter row: up to 16 bytes, zero-filled
constexpr size_t kProduct = 12;    // CD-ROM row: 16 bytes and a zero
constexpr size_t kRevision = 29;   // CD-ROM row: 4 bytes and a zero
constexpr uint8_t kAdapterMarkValue = 0xFF;
constexpr uint8_t kEndMark = 0xFF;
constexpr size_t kManagerIdLength = 16;
}  // namespace row
static_assert(row::kRevision + scsi::inquiry::kRevisionLength + 1 == kDeviceRowSize);

// The INQUIRY buffer is larger than the 100 bytes asked for, as it always was.
constexpr size_t kInquiryBufferLength = 150;
static_assert(kInquiryBufferLength >= kInquiryReplyLength);
constexpr int kInquiryAttempts = 5;

constexpr uint16_t kNoDeviceType = 0xFFFF;
constexpr unsigned kAdapterCountShift = 8;

// The entry text names adapter and target by one character each: the digit character plus the
// number. Numbers of 10 and more give the characters after '9', which still read back by the
// same subtraction.
constexpr char kDigitBase = '0';
namespace entry {
constexpr size_t kAdapter = 1;
constexpr size_t kTarget = 3;
}  // namespace entry

using Row = std::array<uint8_t, kDeviceRowSize>;

void writeAdapterRow(Row& out, uint8_t adapter, const char managerId[16]) {
    out[row::kAdapter] = adapter;
    out[row::kRowCount] = row::kAdapterMarkValue;
    out[row::kAdapterMark] = row::kAdapterMarkValue;
    // The identification is copied up to its first zero byte; the cleared row pads it.
    const size_t length = strnlen(managerId, row::kManagerIdLength);
    std::memcpy(out.data() + row::kManagerId, managerId, length);
}

void writeCdromRow(Row& out, uint8_t adapter, uint8_t type, uint8_t target, const uint8_t* inquiry) {
    out[row::kAdapter] = adapter;
    out[row::kDeviceType] = type;
    out[row::kTarget] = target;
    // Each field is followed by the zero byte of the cleared row.
    std::memcpy(out.data() + row::kVendor, inquiry + scsi::inquiry::kVendor, scsi::inquiry::kVendorLength);
    std::memcpy(out.data() + row::kProduct, inquiry + scsi::inquiry::kProduct, scsi::inquiry::kProductLength);
    std::memcpy(out.data() + row::kRevision, inquiry + scsi::inquiry::kRevision, scsi::inquiry::kRevisionLength);
}

bool isAdapterRow(const Row& r) { return r[row::kAdapterMark] == row::kAdapterMarkValue; }
bool isCdromRow(const Row& r) { return !isAdapterRow(r) && r[row::kAdapter] != row::kEndMark && r[row::kDeviceType] == kDeviceTypeCdrom; }

// A zero-terminated field of at most maxLength bytes.
std::string field(const Row& r, size_t offset, size_t maxLength) {
    const char* start = reinterpret_cast<const char*>(r.data() + offset);
    return std::string(start, strnlen(start, maxLength));
}

}  // namespace

uint16_t ScanScsiBus(DeviceState& device, ScsiDeviceTable& table) {
    device.targetId = 0;
    table = ScsiDeviceTable{};
    size_t next = 0;
    unsigned adapter = 0;
    unsigned adapters = 0;
    unsigned cdroms = 0;
    bool full = false;
    // The last row is kept for the end row, and the scan stops when no other row fits: more
    // adapters or drives than the table can hold are left out, never written past it. The same
    // bound keeps the adapter number within its byte.
    const size_t lastUsableRow = kDeviceTableRows - 1;

    while (!full) {
        char managerId[row::kManagerIdLength];
        uint8_t unique[row::kManagerIdLength];
        if (InquireHostAdapter(device, static_cast<uint8_t>(adapter), managerId, unique) == 0) break;
        if (next >= lastUsableRow) break;

        const size_t adapterRow = next;
        writeAdapterRow(table.rows[next++], static_cast<uint8_t>(adapter), managerId);
        ++adapters;

        for (uint8_t target = 0; target < kTargetsPerAdapter; ++target) {
            const uint16_t type = GetDeviceType(device, static_cast<uint8_t>(adapter), target);
            if (type == kNoDeviceType) continue;
            if (type != kDeviceTypeCdrom) continue;
            if (next >= lastUsableRow) {
                full = true;
                break;
            }
            uint8_t inquiry[kInquiryBufferLength] = {};
            // A drive that never answers INQUIRY is still listed, with a cleared identification.
            for (int attempt = 0; attempt < kInquiryAttempts; ++attempt) {
                if (InquireDevice(device, static_cast<uint8_t>(adapter), target, inquiry) == aspi::kCompleted) break;
            }
            ++cdroms;
            writeCdromRow(table.rows[next++], static_cast<uint8_t>(adapter), static_cast<uint8_t>(type), target, inquiry);
        }
        table.rows[adapterRow][row::kRowCount] = static_cast<uint8_t>(next - adapterRow);
        ++adapter;
    }
    table.rows[next][row::kAdapter] = row::kEndMark;
    return static_cast<uint16_t>(adapters << kAdapterCountShift | cdroms);
}

std::vector<std::string> DriveEntryTexts(const ScsiDeviceTable& table) {
    std::vector<std::string> entries;
    for (const Row& r : table.rows) {
        if (isAdapterRow(r)) continue;
        if (!isCdromRow(r)) break;  // the end row, or a table that was never scanned
        std::string text = "[";
        text += static_cast<char>(kDigitBase + r[row::kAdapter]);
        text += '|';
        text += static_cast<char>(kDigitBase + r[row::kTarget]);
        text += "] ";
        text += field(r, row::kVendor, scsi::inquiry::kVendorLength);
        text.erase(text.find_last_not_of(' ') + 1);
        text += " - ";
        text += field(r, row::kProduct, scsi::inquiry::kProductLength);
        // The identification is the drive's one-byte text; the UI port speaks UTF-8.
        entries.push_back(ansiToUtf8(text));
    }
    return entries;
}

void PrepareCdAccess(DeviceState& device) {
    device.sectorSource = ReadCdSector;
    device.deviceBlockSize = static_cast<uint16_t>(kSectorSize);
    device.transferSectors = kTransferSectors;
    if (device.cdBlockCache.empty()) device.cdBlockCache.assign(kCdBlockSize, 0);
}

int SelectCdromDrive(DeviceState& device, ScsiDeviceTable& table, UiPort& ui) {
    // Whatever drive comes out of this, the cached block may belong to another drive or another
    // medium; reading it back as the new drive's block would mount the wrong volume.
    device.cdBlockKey = kNoCachedBlock;
    if (ScanScsiBus(device, table) == 0) return 0;

    device.hostAdapterId = 0;
    std::vector<std::string> entries = DriveEntryTexts(table);
    if (entries.empty()) {
        // Adapters but no CD-ROM drive: there is nothing to choose, so no drive stays selected.
        device.hostAdapterId = kNoSelection;
        device.targetId = kNoSelection;
        return 0;
    }
    // The list is shown sorted. Entries differ by their adapter and target characters at the
    // latest, so a plain byte order gives the same order as the dialog's list.
    std::sort(entries.begin(), entries.end());
    const int chosen = entries.size() == 1 ? 0 : ui.chooseDrive(entries);
    if (chosen < 0 || static_cast<size_t>(chosen) >= entries.size()) {
        device.hostAdapterId = kNoSelection;
        device.targetId = kNoSelection;
        return 0;
    }
    const std::string& text = entries[static_cast<size_t>(chosen)];
    device.hostAdapterId = static_cast<uint8_t>(text[entry::kAdapter] - kDigitBase);
    device.targetId = static_cast<uint8_t>(text[entry::kTarget] - kDigitBase);
    return 1;
}

}  // namespace quarry

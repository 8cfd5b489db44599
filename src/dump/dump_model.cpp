#include "dump/dump_model.h"

#include <algorithm>
#include <cstring>

#include "app/session.h"
#include "common/text.h"
#include "volume/mounted_volume.h"

namespace quarry {
namespace {

constexpr CharTable kDosToAnsi = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x0D, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x00, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
    0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
    0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F,
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xA2, 0xA3, 0xA5, 0x5F, 0x5F,
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA, 0xBA, 0xBF, 0x5F, 0xAC, 0xBD, 0xBE, 0xA1, 0xAB, 0xBB,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x5F, 0xDF, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F,
    0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0xB0, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F,
};

// Positions within a dump line.
constexpr size_t kOffsetDigits = 8;
constexpr size_t kHexColumn = 9;
constexpr size_t kCharColumn = 58;

// The window's offsets are 32-bit: of an HFS+ fork past 4 GiB it shows the first 4 GiB less one
// byte, never the length cut to its low 32 bits.
constexpr uint64_t kDumpLengthLimit = 0xFFFF'FFFF;

uint32_t physicalLength(const DumpModel& model, DumpFork fork) {
    const uint64_t physical = model.file.fork(fork == DumpFork::Data ? ForkKind::Data : ForkKind::Resource).physical;
    return static_cast<uint32_t>(std::min(physical, kDumpLengthLimit));
}

// Makes model.fork the shown fork from its first byte: its length, scroll unit and range, and
// the first screen read afresh.
void showFork(Session& session, DumpModel& model) {
    model.forkLength = physicalLength(model, model.fork);
    uint32_t unit = kDumpScrollUnitStep;
    while (model.forkLength / unit > kDumpMaxScrollSteps) unit += kDumpScrollUnitStep;
    model.scrollUnit = unit;
    model.scrollMaximum = model.forkLength / unit + (model.forkLength % unit != 0 ? 1 : 0);
    model.position = 0;
    model.windowStart = 0;
    // The first read fills one screen only; without clearing, the rest of the buffer and a
    // stale offset would show the previous fork's bytes after a fork switch.
    model.offsetInBuffer = 0;
    model.buffer.fill(0);
    model.windowEnd = ReadForkBlocks(session, model, kDumpPageBytes, 0);
}

bool isControl(unsigned char c) {
    // C0 controls, DEL, and the five bytes Windows-1252 leaves undefined (they would come out
    // as C1 control characters).
    return c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

}  // namespace

const CharTable DosToAnsi = kDosToAnsi;

DumpOpen openDump(Session& session, DumpModel& model, std::string_view name) {
    model = DumpModel{};
    if (!session.mounted) return DumpOpen::NotFound;
    // The name comes from the list: a "*" in it is part of the name.
    std::optional<VolumeEntry> file =
        session.mounted->findEntry(session.dir.currentDirID, name, NameMatch::Exact, EntryKind::File);
    if (!file) return DumpOpen::NotFound;
    model.file = std::move(*file);

    if (physicalLength(model, DumpFork::Resource) == 0) model.resourceEnabled = false;
    if (physicalLength(model, DumpFork::Data) != 0) {
        model.fork = DumpFork::Data;
        model.dataChecked = true;
    } else {
        model.fork = DumpFork::Resource;
        model.dataEnabled = false;
        model.resourceChecked = true;
    }
    showFork(session, model);
    return DumpOpen::Shown;
}

std::string dumpWindowTitle(const VolumeEntry& file) {
    return "Dumping file \"" + file.name + "\"";
}

uint32_t ReadForkBlocks(Session& session, DumpModel& model, uint32_t count, uint32_t start) {
    model.readFault.clear();
    // A start at or past the fork's end reads nothing: "fork length - start" would wrap round
    // and send the loop past the buffer. No request may reach past the buffer either.
    count = start < model.forkLength ? std::min(count, model.forkLength - start) : 0;
    count = std::min<uint32_t>(count, kDumpBufferSize);
    // A physical length is a whole number of allocation blocks; should a damaged record give
    // one that is not, the last part-sector is still read and what lies past the length is
    // cleared, so that no fork byte within the length is hidden.
    const uint32_t units = (count + kSectorSize - 1) / kSectorSize;
    const uint32_t firstUnit = start / kSectorSize;
    if (!session.mounted) return start;
    std::unique_ptr<ForkReader> reader = session.mounted->openFork(model.file, model.currentFork());

    uint32_t read = 0;
    std::array<uint8_t, kSectorSize> sector{};
    for (; read < units; ++read) {
        uint8_t* slot = model.buffer.data() + size_t{read} * kSectorSize;
        // Read beside the buffer: a failing read may have written part of a unit, and those
        // bytes must not show as the fork's.
        Result<bool> got = reader->readUnit(firstUnit + read, sector.data());
        if (!got) {
            std::memset(slot, 0, kSectorSize);
            model.readFault = got.fault();
            break;
        }
        if (!*got) break;
        const uint32_t keep = std::min(kSectorSize, count - read * kSectorSize);
        std::memcpy(slot, sector.data(), keep);
        std::memset(slot + keep, 0, kSectorSize - keep);
    }
    return start + std::min(count, read * kSectorSize);
}

void EnsureDumpWindow(Session& session, DumpModel& model) {
    // The position can lie past the window's end (after a short read); comparing first keeps
    // "window end - position" from wrapping round and taking an offset past the buffer.
    if (model.windowStart <= model.position && model.position <= model.windowEnd &&
        model.windowEnd - model.position >= kDumpPageBytes) {
        model.offsetInBuffer = static_cast<uint16_t>(model.position - model.windowStart);
        return;
    }
    model.windowStart = model.position - model.position % kDumpPageBytes;
    model.offsetInBuffer = static_cast<uint16_t>(model.position - model.windowStart);
    std::fill_n(model.buffer.begin(), kDumpReloadBytes, 0);
    model.windowEnd = ReadForkBlocks(session, model, kDumpReloadBytes, model.windowStart);
}

void scrollDump(Session& session, DumpModel& model, ScrollRequest request, uint32_t thumbValue) {
    const uint32_t length = model.forkLength;
    uint32_t& p = model.position;
    // The thumb's last step can put the position past the fork's end (the range is rounded
    // up); the steps down then test p <= length first, where the bare difference would wrap
    // round and let the position run on for ever.
    switch (request) {
        case ScrollRequest::LineUp:
            if (p >= kDumpLineStepBytes) p -= kDumpLineStepBytes;
            break;
        case ScrollRequest::LineDown:
            if (p <= length && length - p >= kDumpLineStepBytes) p += kDumpLineStepBytes;
            break;
        case ScrollRequest::PageUp:
            if (p > kDumpPageBytes) p -= kDumpPageBytes;
            break;
        case ScrollRequest::PageDown:
            if (p <= length && length - p > kDumpPageBytes) p += kDumpPageBytes;
            break;
        case ScrollRequest::Thumb: {
            const uint64_t at = uint64_t{std::min(thumbValue, model.scrollMaximum)} * model.scrollUnit;
            p = static_cast<uint32_t>(std::min<uint64_t>(at, UINT32_MAX));
            break;
        }
        case ScrollRequest::Top:
            p = 0;
            break;
        case ScrollRequest::Bottom: {
            // The last screen begins on a 512-byte boundary. An empty fork stays at 0, where
            // "length - 512" would wrap round.
            const uint32_t rest = length % kDumpPageBytes;
            p = rest != 0 ? length - rest : (length >= kDumpPageBytes ? length - kDumpPageBytes : 0);
            break;
        }
    }
    EnsureDumpWindow(session, model);
}

ScrollRequest scrollRequestForKey(DumpKey key) {
    switch (key) {
        case DumpKey::Home: return ScrollRequest::Top;
        case DumpKey::End: return ScrollRequest::Bottom;
        case DumpKey::PageUp:
        case DumpKey::Up: return ScrollRequest::PageUp;
        case DumpKey::PageDown:
        case DumpKey::Down: return ScrollRequest::PageDown;
    }
    return ScrollRequest::Top;
}

DumpReply dumpCommand(Session& session, DumpModel& model, int command) {
    switch (command) {
        case dumpcmd::kData:
        case dumpcmd::kResource: {
            const bool toData = command == dumpcmd::kData;
            // A greyed item sends nothing; a front end that lets it through changes nothing.
            if (!(toData ? model.dataEnabled : model.resourceEnabled)) return DumpReply::Ignored;
            const DumpFork wanted = toData ? DumpFork::Data : DumpFork::Resource;
            if (model.fork != wanted) {
                model.dataChecked = toData;
                model.resourceChecked = !toData;
                model.fork = wanted;
                showFork(session, model);
            }
            return DumpReply::Repaint;
        }
        case dumpcmd::kFileParameter: return DumpReply::FileParameter;
        case dumpcmd::kBackToMainScreen: return DumpReply::Close;
        case dumpcmd::kAsciiMacintosh:
        case dumpcmd::kAnsiWindows:
        case dumpcmd::kAsciiDos:
            model.charset = static_cast<DumpCharset>(command);
            return DumpReply::Repaint;
        case dumpcmd::kDecimal:
            model.radix = 10;
            return DumpReply::Repaint;
        case dumpcmd::kHexadecimal:
            model.radix = 16;
            return DumpReply::Repaint;
        default: return DumpReply::Ignored;
    }
}

void FormatDumpLine(DumpLine& out, const uint8_t* bytes, uint32_t offset, uint32_t radix, DumpCharset charset) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out.fill(' ');
    out[kDumpLineLength] = '\0';
    const uint32_t base = radix == 16 ? 16 : 10;
    // Only the low eight digits: a decimal offset from 100,000,000 on loses its top digits.
    uint32_t v = offset;
    for (size_t k = kOffsetDigits; k-- > 0;) {
        out[k] = kDigits[v % base];
        v /= base;
    }
    for (size_t j = 0; j < kDumpBytesPerLine; ++j) {
        const size_t at = kHexColumn + 3 * j + (j >= 8 ? 1 : 0);
        out[at] = kDigits[bytes[j] >> 4];
        out[at + 1] = kDigits[bytes[j] & 0x0F];
        uint8_t c = bytes[j];
        if (charset == DumpCharset::AsciiMacintosh) c = MacToAnsi[c];
        else if (charset == DumpCharset::AsciiDos) c = DosToAnsi[c];
        if (c != 0) out[kCharColumn + j] = static_cast<char>(c);
    }
}

DumpLine dumpLine(const DumpModel& model, int line) {
    DumpLine out{};
    const size_t at = size_t{model.offsetInBuffer} + kDumpBytesPerLine * static_cast<size_t>(line);
    static constexpr std::array<uint8_t, kDumpBytesPerLine> kZeros{};
    // EnsureDumpWindow keeps a screen inside the buffer; a line outside it shows zeros rather
    // than whatever lies behind the buffer.
    const uint8_t* bytes = line >= 0 && line < kDumpLineCount && at + kDumpBytesPerLine <= kDumpBufferSize
                               ? model.buffer.data() + at
                               : kZeros.data();
    FormatDumpLine(out, bytes, model.position + kDumpBytesPerLine * static_cast<uint32_t>(line), model.radix,
                   model.charset);
    return out;
}

std::string dumpLineToUtf8(const DumpLine& line) {
    std::string shown(line.data(), kDumpLineLength);
    for (char& c : shown)
        if (isControl(static_cast<unsigned char>(c))) c = ' ';
    return ansiToUtf8(shown);
}

}  // namespace quarry

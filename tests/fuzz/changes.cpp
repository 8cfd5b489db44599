// Fuzz harness: a sound volume made by hfsutils, damaged at a few places the input chooses, is
// changed by a short sequence of typed MD, DEL, REN, SWAP and RD lines (with CD between them)
// through the command line's own runner. A change either leaves the medium byte for byte as it
// was, or leaves a volume on which the check finds no problem that was not there before it;
// every write lands inside the volume (README.md).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/mount.h"
#include "app/session.h"
#include "commands/command_line.h"
#include "device/drive_scan.h"
#include "device/scsi_cdb.h"
#include "hfs/byte_order.h"
#include "hfs/volume.h"
#include "hfs/volume_check.h"
#include "support/recording_ui.h"
#include "support/scripted_adapter.h"

namespace quarry {
namespace {

// The typed line with every byte outside printable ASCII as \xHH, for the messages below.
std::string printable(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// Says which rule the input broke, then stops so that the fuzzer keeps the input.
[[noreturn]] void violation(const std::string& what) {
    std::fprintf(stderr, "changes harness: %s\n", what.c_str());
    __builtin_trap();
}

// The volumes of the mount harness's corpus that hfsutils made sound: small folders and forks
// (basic), files whose extents go on in the extents tree (fragmented), a catalog that does
// (catalog-overflow).
constexpr const char* kVolumeNames[] = {"basic", "fragmented", "catalog-overflow"};
constexpr size_t kMdbOffset = 2 * kSectorSize;
// The MDB's fields end with drCTExtRec; the bytes after it are never read.
constexpr size_t kMdbLength = mdb::kCatalogExtents + 12;
constexpr size_t kDamageBytes = 5;  // region, node or sector, offset (2 bytes), xor mask
constexpr size_t kMaxCommands = 8;
constexpr const char* kWords[] = {"MD ", "DEL ", "REN ", "SWAP ", "RD ", "CD ", "CD ..", "CD \\"};

// The corpus keeps volumes cut after their last used sector; the harness gives each back its
// whole length, as hformat made it (the allocation blocks, then the alternate MDB and a spare
// sector), so that the blocks a change allocates lie on the medium.
std::vector<uint8_t> wholeVolume(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.size() < kMdbOffset + kSectorSize) __builtin_trap();
    const uint8_t* m = bytes.data() + kMdbOffset;
    const size_t end = size_t{loadBE16(m + mdb::kAllocStart)} * kSectorSize +
                       size_t{loadBE16(m + mdb::kAllocBlocks)} * loadBE32(m + mdb::kAllocBlockSize) + 2 * kSectorSize;
    if (end < bytes.size()) __builtin_trap();
    bytes.resize(end);
    std::copy_n(bytes.begin() + kMdbOffset, kSectorSize, bytes.end() - 2 * kSectorSize);
    return bytes;
}

const std::vector<std::vector<uint8_t>>& volumes() {
    static const std::vector<std::vector<uint8_t>> loaded = [] {
        std::vector<std::vector<uint8_t>> v;
        for (const char* name : kVolumeNames) v.push_back(wholeVolume(std::string(QUARRY_FUZZ_CORPUS) + "/mount/" + name));
        return v;
    }();
    return loaded;
}

// The byte of the medium at `offset` into one of the volume's two B-trees, through the three
// extents of the MDB (a place past them wraps to the start).
size_t treeByte(const uint8_t* m, size_t extentsField, uint32_t offset) {
    const uint32_t blockSize = loadBE32(m + mdb::kAllocBlockSize);
    uint32_t blocks = 0;
    for (int i = 0; i < 3; ++i) blocks += loadBE16(m + extentsField + 4 * i + 2);
    uint32_t block = offset / blockSize % blocks;
    for (int i = 0; i < 3; ++i) {
        const uint16_t count = loadBE16(m + extentsField + 4 * i + 2);
        if (block < count) {
            return size_t{loadBE16(m + mdb::kAllocStart)} * kSectorSize +
                   (size_t{loadBE16(m + extentsField + 4 * i)} + block) * blockSize + offset % blockSize;
        }
        block -= count;
    }
    __builtin_trap();
}

// Changes the byte one damage names, in the catalog or extents tree (a node and an offset in it),
// the bitmap, or the MDB. The places are those of the sound volume, whose MDB an earlier damage
// may have changed.
void damage(std::vector<uint8_t>& medium, const std::vector<uint8_t>& sound, const uint8_t* d) {
    const uint8_t* m = sound.data() + kMdbOffset;
    const uint32_t offset = uint32_t{d[2]} << 8 | d[3];
    size_t at = 0;
    switch (d[0] % 4) {
        case 0: at = treeByte(m, mdb::kCatalogExtents, d[1] * kNodeSize + offset % kNodeSize); break;
        case 1: at = treeByte(m, mdb::kExtentsExtents, d[1] * kNodeSize + offset % kNodeSize); break;
        case 2: at = size_t{loadBE16(m + mdb::kBitmapStart)} * kSectorSize + offset % ((loadBE16(m + mdb::kAllocBlocks) + 7) / 8); break;
        default: at = kMdbOffset + offset % kMdbLength; break;
    }
    medium.at(at) ^= d[4];
}

// A drive that lives across inputs, lent to each input's bus (a bus owns its adapters): the
// medium's buffer is filled again rather than allocated again, which for volumes of a megabyte
// and more is most of the time an input takes.
class LentDrive : public HostAdapter {
public:
    explicit LentDrive(ScriptedAdapter& drive) : drive_(drive) {}
    std::string managerId() const override { return drive_.managerId(); }
    int deviceType(uint8_t target) override { return drive_.deviceType(target); }
    uint8_t execute(uint8_t target, ScsiCommand& command) override { return drive_.execute(target, command); }

private:
    ScriptedAdapter& drive_;
};

// Target 2 of a drive made once per name.
ScriptedAdapter& drive(const char* name) {
    static std::map<std::string, std::unique_ptr<ScriptedAdapter>> drives;
    std::unique_ptr<ScriptedAdapter>& d = drives[name];
    if (!d) {
        d = std::make_unique<ScriptedAdapter>();
        d->addTarget(2, ScriptedTarget::cdrom("QUARRY", name, "1.0"));
    }
    d->clearCommands();
    return *d;
}

// The session's drive selected and its volume mounted, as at start-up: 1 when it mounted.
int mountOn(ScriptedAdapter& drive, Session& session, ScsiBus& bus, ScsiDeviceTable& table) {
    bus.adapters.push_back(std::make_unique<LentDrive>(drive));
    session.device.bus = &bus;
    PrepareCdAccess(session.device);
    if (SelectCdromDrive(session.device, table, session.ui) != 1) __builtin_trap();
    session.device.deviceBlockSize = 512;
    initVolumeBuffers(session);
    return mountVolume(session);
}

// The check's problems on a fresh mount of the medium, with every number in them made "#",
// "data fork" and "resource fork" both "fork", and the details in parentheses left out: a problem
// that a change only moved (to another node, another record, another count, the other fork of a
// file SWAP turned round, a shared run now one block long) is the same problem. How often each one occurs is kept, so that a second problem of a kind the volume had
// already is still new.
std::map<std::string, int> problemsOf(const std::vector<uint8_t>& medium) {
    ScriptedAdapter& checking = drive("CHECK");
    checking.target(2).medium.assign(medium.begin(), medium.end());
    test::RecordingUi ui;
    Session session{ui};
    ScsiBus bus;
    ScsiDeviceTable table;
    std::vector<std::string> lines;
    if (mountOn(checking, session, bus, table) != 1) lines.push_back("does not mount");
    else lines = checkVolume(session.volumeContext()).problems;
    static const bool trace = std::getenv("QUARRY_FUZZ_TRACE") != nullptr;
    std::map<std::string, int> counted;
    for (const std::string& line : lines) {
        if (trace) std::fprintf(stderr, "  check: %s\n", line.c_str());
        std::string shape;
        int depth = 0;
        for (char c : line) {
            if (c == '(' && !shape.empty() && shape.back() == ' ') shape.pop_back();
            depth += c == '(';
            if (depth == 0) {
                if (c < '0' || c > '9') shape += c;
                else if (shape.empty() || shape.back() != '#') shape += '#';
            }
            depth -= c == ')' && depth > 0;
        }
        for (const char* fork : {"data fork", "resource fork"})
            for (size_t at; (at = shape.find(fork)) != std::string::npos;) shape.replace(at, std::strlen(fork), "fork");
        ++counted[shape];
    }
    return counted;
}

// The first problem (in its shape) found more often after a change than before it.
std::string newProblem(const std::map<std::string, int>& before, const std::map<std::string, int>& after) {
    for (const auto& [shape, count] : after) {
        const auto was = before.find(shape);
        if (was == before.end() || was->second < count) return shape;
    }
    return {};
}

// Every WRITE the drive received lies inside the medium, which holds the volume alone. (The
// drive's 2048-byte blocks put the boot blocks in one block with the MDB; that they are never
// changed is checked on the medium.)
void expectWritesInside(const ScriptedAdapter& drive, uint32_t blockSize, size_t mediumSize) {
    for (const RecordedCommand& c : drive.commands()) {
        ScsiCommand command;
        std::copy(c.cdb.begin(), c.cdb.end(), command.cdb.begin());
        command.cdbLength = static_cast<uint8_t>(c.cdb.size());
        const std::optional<scsi::BlockTransfer> t = scsi::decodeBlockTransfer(command);
        if (!t || t->kind != scsi::TransferKind::Write) continue;
        const uint64_t first = uint64_t{t->firstBlock} * blockSize;
        const uint64_t length = uint64_t{t->blockCount} * blockSize;
        if (first > mediumSize || length > mediumSize - first)
            violation("a write of " + std::to_string(length) + " bytes at byte " + std::to_string(first) + " of a medium of " +
                      std::to_string(mediumSize));
    }
}

bool mentions(const std::vector<std::string>& texts, std::string_view part) {
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.find(part) != std::string::npos; });
}

}  // namespace
}  // namespace quarry

// The input: a byte choosing the volume; a byte whose low two bits give the number of damages
// (none to three) and whose bit 2 answers yes to every question; the damages, five bytes each;
// then up to eight lines, each a byte choosing the command word and the text typed after it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quarry;
    if (size < 2) return 0;
    const auto& sound = volumes();
    ScriptedAdapter& changing = drive("FUZZ");
    std::vector<uint8_t>& medium = changing.target(2).medium;
    const std::vector<uint8_t>& chosen = sound[data[0] % sound.size()];
    medium.assign(chosen.begin(), chosen.end());
    const size_t damages = std::min<size_t>(data[1] & 3, (size - 2) / kDamageBytes);
    const bool agree = (data[1] & 4) != 0;
    for (size_t i = 0; i < damages; ++i) damage(medium, chosen, data + 2 + i * kDamageBytes);
    std::string_view rest(reinterpret_cast<const char*>(data) + 2 + damages * kDamageBytes, size - 2 - damages * kDamageBytes);

    // The problems of the medium before the first change, found only once a line changes it:
    // most inputs change nothing, and a mount and a check are most of what an input costs.
    std::optional<std::map<std::string, int>> problems;
    // QUARRY_FUZZ_TRACE=1 tells what each line did, to read a saved input by.
    static const bool trace = std::getenv("QUARRY_FUZZ_TRACE") != nullptr;
    if (trace)
        for (const auto& [shape, count] : problemsOf(medium)) std::fprintf(stderr, "problem (%d): %s\n", count, shape.c_str());

    test::RecordingUi ui;
    Session session{ui};
    ScsiBus bus;
    ScsiDeviceTable table;
    if (mountOn(changing, session, bus, table) != 1) return 0;
    static std::vector<uint8_t> before;

    for (size_t n = 0; n < kMaxCommands && !rest.empty(); ++n) {
        const size_t end = std::min(rest.find('\n'), rest.size());
        std::string line(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (line.empty()) continue;
        const std::string typed = kWords[static_cast<uint8_t>(line[0]) % std::size(kWords)] + line.substr(1);
        const std::string text = printable(typed);

        before.assign(medium.begin(), medium.end());
        changing.clearCommands();
        ui.messageBoxes.clear();
        ui.answers.assign(agree ? 64 : 0, true);
        ExecuteCommandText(session, typed);
        if (session.ending || !ui.fatalErrors.empty()) return 0;
        expectWritesInside(changing, changing.target(2).blockSize, before.size());
        if (medium.size() != before.size()) violation(text + ": the medium changed its size");
        if (!std::equal(before.begin(), before.begin() + kMdbOffset, medium.begin()))
            violation(text + ": the boot blocks changed");
        if (trace) {
            std::fprintf(stderr, "%s: %s%s\n", text.c_str(), medium == before ? "medium unchanged" : "medium changed",
                         ui.messageBoxes.empty() ? "" : ("; " + ui.messageBoxes.back()).c_str());
        }
        if (medium == before) continue;
        // A refused or failed change writes nothing, or puts back what it wrote.
        if (mentions(ui.messageBoxes, "not changed") || mentions(ui.messageBoxes, "could not be written"))
            violation(text + ": refused (" + ui.messageBoxes.back() + ") but the medium changed");
        if (!problems) problems = problemsOf(before);
        std::map<std::string, int> after = problemsOf(medium);
        if (const std::string fresh = newProblem(*problems, after); !fresh.empty()) violation(text + ": a new problem: " + fresh);
        problems = std::move(after);
    }
    return 0;
}

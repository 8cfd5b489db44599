// The readers of MacBinary, AppleSingle, AppleDouble and BinHex. Files other tools made come
// first: hcopy's MacBinary II and BinHex and macutils' BinHex of the fixtures' files, whose forks
// hcopy -r and macutils (macsave, hexbin) take apart independently. Then every form the
// program writes itself, read back; then damaged and foreign files.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "copy/fork_formats.h"
#include "device/containers/fork_readers.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/memory_sink.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;
using test::be32;
using Read = Result<std::optional<MacFileParts>>;

// A file holding `bytes`. An old file of the name is removed rather than cut to nothing, which
// costs the file system a flush each time and the tests that write thousands of samples seconds.
void spew(const std::string& path, const std::string& bytes) {
    fs::remove(path);
    std::ofstream(path, std::ios::binary) << bytes;
}

Read readBytes(const test::TempDir& dir, const std::string& bytes) {
    spew(dir.file("sample"), bytes);
    return ReadMacFile(dir.file("sample"));
}

std::string withByte(std::string bytes, size_t at, int value) {
    bytes.at(at) = static_cast<char>(value);
    return bytes;
}

// A fork's bytes as ForEachForkChunk hands them out, in chunks of at most 1 MB.
std::string forkText(const ForkBytes& fork) {
    std::string bytes;
    const Status s = ForEachForkChunk(fork, [&](const uint8_t* p, size_t n) {
        EXPECT_LE(n, size_t{1} << 20);
        bytes.append(reinterpret_cast<const char*>(p), n);
        return Status::ok();
    });
    EXPECT_TRUE(s) << s.fault();
    return bytes;
}

// What macutils makes of a MacBinary file (macsave -3) or a BinHex text (hexbin -3): the forks
// and a 128-byte information file in MacBinary's layout.
struct MacutilsSplit {
    std::string data, rsrc, info;
};

MacutilsSplit macutilsSplit(const std::string& path, bool binHex) {
    test::TempDir dir;
    const std::string command = binHex ? "cd \"$1\" && exec hexbin -3 \"$2\"" : "cd \"$1\" && exec macsave -3 < \"$2\"";
    const auto r = test::runProcess({"sh", "-c", command, "sh", dir.path(), path});
    EXPECT_TRUE(r.succeeded()) << r.err;
    MacutilsSplit split;
    for (const auto& e : fs::directory_iterator(dir.path())) {
        const std::string ext = e.path().extension().string();
        (ext == ".data" ? split.data : ext == ".rsrc" ? split.rsrc : split.info) = test::slurp(e.path());
    }
    split.info.resize(128);
    return split;
}

// A root file of a fixture as hfsutils gives it (hcopy -r, hcopy -m), and as the program's
// writers take it, with the Finder information and dates of hcopy's MacBinary header.
struct HfsFile {
    test::OracleEntry listed;
    std::string data, rsrc, macBinary;
    VolumeEntry entry;
};

std::vector<HfsFile> hfsFiles(const char* fixture) {
    const std::string image = test::fixturePath(fixture);
    std::vector<HfsFile> files;
    for (const auto& o : test::hlsList(image, ":")) {
        if (o.isFolder || o.name.find(':') != std::string::npos) continue;  // hfsutils cannot name a colon
        HfsFile f{o, test::hcopyData(image, ":" + o.name), "", test::hcopyMacBinary(image, ":" + o.name), {}};
        const std::string& mb = f.macBinary;
        f.rsrc = mb.substr(128 + (be32(mb, 83) + 127) / 128 * 128, be32(mb, 87));
        VolumeEntry& e = f.entry;
        e.macName = o.name;
        std::copy_n(mb.begin() + 65, 9, e.finderInfo.begin());  // type, creator, high flag byte
        e.finderInfo[9] = static_cast<uint8_t>(mb[101]);
        std::copy_n(mb.begin() + 75, 4, e.finderInfo.begin() + 10);
        e.finderInfo[14] = 0x12;  // the folder, which hcopy does not give; neither does the script
        e.finderInfo[15] = 0x34;  // and the rest of FXInfo
        e.extendedFinderInfo = {1, 2, 3, 4, 5, 6, 7, 8, 0x81, 0x40, 0, 0, 0, 0, 0, 0};
        e.created.macSeconds = be32(mb, 91);
        e.modified.macSeconds = be32(mb, 95);
        e.backedUp.macSeconds = e.created.macSeconds + 86400;
        e.data.logical = f.data.size();
        e.rsrc.logical = f.rsrc.size();
        files.push_back(f);
    }
    return files;
}

const HfsFile& named(const std::vector<HfsFile>& files, const std::string& name) {
    return *std::find_if(files.begin(), files.end(), [&](const HfsFile& f) { return f.listed.name == name; });
}

// The file in `format` as the program writes it; `copier` gives the forks (the file's own
// unless a test wants otherwise).
std::string written(const HfsFile& f, BinaryFormat format, ForkCopier copier = {}) {
    if (!copier)
        copier = [&](ForkKind kind, ByteSink& sink) {
            const std::string& bytes = kind == ForkKind::Data ? f.data : f.rsrc;
            return sink.write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) ? Status::ok() : Status(Fault{"write"});
        };
    test::MemorySink sink;
    const Status s = format == BinaryFormat::AppleSingle   ? WriteAppleSingle(f.entry, copier, sink)
                     : format == BinaryFormat::AppleDouble ? WriteAppleDoubleHeader(f.entry, copier, sink)
                     : format == BinaryFormat::BinHex      ? WriteBinHex(f.entry, copier, sink)
                                                           : WriteMacBinary(f.entry, format, copier, sink);
    EXPECT_TRUE(s) << s.fault();
    return std::string(sink.bytes.begin(), sink.bytes.end());
}

// Every root file of two fixtures as hcopy writes it in MacBinary II and BinHex, as macutils'
// binhex writes it from hcopy's MacBinary, and hcopy's BinHex as mail delivered it (after a
// header, in CR LF lines): the forks are hcopy -r's data fork and the resource fork macsave
// takes out of hcopy's MacBinary; name, type, creator and fork sizes are hls's; Finder flags and
// dates are where macutils' information file has them (hexbin keeps the low flag byte at 74).
TEST(ForkReaders, ReadHfsutilsAndMacutilsFilesAsMacutilsSplitsThem) {
    for (const char* fixture : {"basic.hfs", "formats.hfs"}) {
        for (const HfsFile& f : hfsFiles(fixture)) {
            const test::OracleEntry& o = f.listed;
            SCOPED_TRACE(std::string(fixture) + " " + o.name);
            test::TempDir dir;
            const std::string bin = dir.file("file.bin"), hqx = dir.file("file.hqx"), other = dir.file("macutils.hqx");
            const std::string hcopyHqx = test::hcopyBinHex(test::fixturePath(fixture), ":" + o.name);
            std::string mailed = "Subject: " + o.name + "\r\n\r\n";
            for (char c : hcopyHqx) mailed += c == '\n' ? std::string("\r\n") : std::string(1, c);
            spew(bin, f.macBinary);
            spew(hqx, hcopyHqx);
            spew(dir.file("mailed.hqx"), mailed);
            const auto made = test::runProcess({"sh", "-c", "exec binhex < \"$1\" > \"$2\"", "sh", bin, other});
            ASSERT_TRUE(made.succeeded()) << made.err;
            const MacutilsSplit fromBin = macutilsSplit(bin, false), fromHqx = macutilsSplit(hqx, true);
            const MacutilsSplit fromOther = macutilsSplit(other, true);
            EXPECT_EQ(fromBin.data, f.data);
            struct Case {
                std::string path;
                BinaryFormat format;
                const MacutilsSplit& split;
                size_t lowFlagsAt;
            };
            for (const Case& c : {Case{bin, BinaryFormat::MacBinaryII, fromBin, 101}, Case{hqx, BinaryFormat::BinHex, fromHqx, 74},
                                  Case{other, BinaryFormat::BinHex, fromOther, 74}, Case{dir.file("mailed.hqx"), BinaryFormat::BinHex, fromHqx, 74}}) {
                SCOPED_TRACE(c.path);
                const auto read = ReadMacFile(c.path);
                ASSERT_TRUE(read && read.value()) << (read ? "not recognised" : read.fault());
                const MacFileParts& p = *read.value();
                EXPECT_EQ(p.format, c.format);
                EXPECT_EQ(p.macName, o.name);
                EXPECT_EQ(std::string(p.finderInfo.begin(), p.finderInfo.begin() + 8), o.type + o.creator);
                EXPECT_EQ(p.data.length, o.dataSize);
                EXPECT_EQ(p.rsrc.length, o.rsrcSize);
                EXPECT_TRUE(forkText(p.data) == f.data);
                EXPECT_TRUE(forkText(p.rsrc) == fromBin.rsrc);
                EXPECT_EQ(p.finderInfo[8], static_cast<uint8_t>(c.split.info[73]));
                EXPECT_EQ(p.finderInfo[9], static_cast<uint8_t>(c.split.info[c.lowFlagsAt]));
                if (c.format == BinaryFormat::BinHex) {
                    EXPECT_FALSE(p.created || p.modified || p.backedUp);  // BinHex carries no dates
                    continue;
                }
                EXPECT_EQ(std::string(p.finderInfo.begin() + 10, p.finderInfo.begin() + 14), c.split.info.substr(75, 4));
                EXPECT_EQ(p.created, be32(c.split.info, 91));
                EXPECT_EQ(p.modified, be32(c.split.info, 95));
            }
        }
    }
}

// Every root file of two fixtures through each of the program's writers and back: what each
// form keeps comes back as it went in, and what it has no place for comes back empty. MacBinary
// I with a fork over 8 MB is not taken for MacBinary I, as no reader of that form takes it.
// AppleDouble headers also come as other systems write them: an AppleSingle file without a data
// fork, and a Finder information entry run on into extended attributes (macOS); an AppleSingle
// file with its data fork is a file of its own, not a header.
TEST(ForkReaders, ReadBackEveryFormTheProgramWrites) {
    struct Form {
        BinaryFormat format;
        bool lowFlags, folderAndFXInfo, backupDate, dates;
    };
    constexpr Form kForms[] = {
        {BinaryFormat::MacBinaryI, false, false, false, true},  {BinaryFormat::MacBinaryII, true, false, false, true},
        {BinaryFormat::MacBinaryIII, true, false, false, true}, {BinaryFormat::AppleSingle, true, true, true, true},
        {BinaryFormat::AppleDouble, true, true, true, true},    {BinaryFormat::BinHex, true, false, false, false},
    };
    for (const char* fixture : {"basic.hfs", "formats.hfs"}) {
        for (const HfsFile& f : hfsFiles(fixture)) {
            const VolumeEntry& e = f.entry;
            const std::string header = written(f, BinaryFormat::AppleDouble);
            std::string runOn = header;  // entry 9's length, 32, taken to the end of the file
            runOn[26 + 2 * 12 + 11] = static_cast<char>(32 + f.rsrc.size());
            std::vector<std::pair<Form, std::string>> files;
            for (const Form& form : kForms) files.emplace_back(form, written(f, form.format));
            if (f.rsrc.size() < 200) files.emplace_back(kForms[4], runOn);
            files.emplace_back(kForms[4], withByte(header, 3, 0x00));  // AppleSingle's magic number
            for (const auto& [form, bytes] : files) {
                SCOPED_TRACE(std::string(fixture) + " " + e.macName + " as " + std::string(BinaryFormatTitle(form.format)));
                test::TempDir dir;
                const bool pair = form.format == BinaryFormat::AppleDouble;
                spew(dir.file(pair ? "._file" : "file"), bytes);
                if (pair) spew(dir.file("file"), f.data);
                const auto read = pair ? ReadAppleDouble(dir.file("file"), dir.file("._file")) : ReadMacFile(dir.file("file"));
                ASSERT_TRUE(read) << read.fault();
                if (form.format == BinaryFormat::MacBinaryI && std::max(f.data.size(), f.rsrc.size()) > (8u << 20)) {
                    EXPECT_FALSE(read.value().has_value());
                    continue;
                }
                ASSERT_TRUE(read.value().has_value());
                const MacFileParts& p = *read.value();
                EXPECT_EQ(p.format, form.format);
                const bool macBinary = form.format <= BinaryFormat::MacBinaryIII;  // names without leading blanks
                EXPECT_EQ(p.macName, macBinary ? e.macName.substr(e.macName.find_first_not_of(' ')) : e.macName);
                std::array<uint8_t, 16> info = e.finderInfo, extended{};
                if (!form.lowFlags) info[9] = 0;
                if (!form.folderAndFXInfo) info[14] = info[15] = 0;
                if (form.folderAndFXInfo) extended = e.extendedFinderInfo;
                if (form.format == BinaryFormat::MacBinaryIII) extended[8] = 0x81, extended[9] = 0x40;
                EXPECT_EQ(p.finderInfo, info);
                EXPECT_EQ(p.extendedFinderInfo, extended);
                auto date = [&](bool kept, const EntryDate& d) { return kept && d.macSeconds ? std::optional(d.macSeconds) : std::nullopt; };
                EXPECT_EQ(p.created, date(form.dates, e.created));
                EXPECT_EQ(p.modified, date(form.dates, e.modified));
                EXPECT_EQ(p.backedUp, date(form.backupDate, e.backedUp));
                EXPECT_TRUE(forkText(p.data) == f.data);
                EXPECT_TRUE(forkText(p.rsrc) == f.rsrc);
            }
            test::TempDir dir;
            spew(dir.file("file"), f.data);
            spew(dir.file("._file"), written(f, BinaryFormat::AppleSingle));
            const auto single = ReadAppleDouble(dir.file("file"), dir.file("._file"));
            EXPECT_TRUE(single && !single.value());
        }
    }
}

// Damaged files of each form are faults that say what is wrong; files in none of the forms,
// MacBinary II whose CRC is broken and MacBinary I cut short among them, are nothing. The
// samples are hcopy's MacBinary II and BinHex of a two-fork file and the program's own
// AppleSingle, MacBinary I and III of it.
TEST(ForkReaders, DamagedFilesAreFaultsAndOtherFilesAreNothing) {
    const HfsFile puzzle = named(hfsFiles("basic.hfs"), "Puzzle");
    const std::string mb2 = puzzle.macBinary, hqx = test::hcopyBinHex(test::fixturePath("basic.hfs"), ":Puzzle");
    const std::string single = written(puzzle, BinaryFormat::AppleSingle), mb3 = written(puzzle, BinaryFormat::MacBinaryIII);
    const std::string mb1 = written(puzzle, BinaryFormat::MacBinaryI);
    HfsFile claiming = puzzle;  // a header that promises a fork the text does not hold
    claiming.entry.data.logical = 0x7FFFFFF0;
    const std::string hollow = written(claiming, BinaryFormat::BinHex, [](ForkKind, ByteSink&) { return Status::ok(); });
    const size_t third = hqx.find_first_not_of('\n', hqx.size() / 3);  // a character in the data fork
    std::string noColon = hqx, mb2LongSecondary = withByte(withByte(mb2, 120, 0xFF), 121, 0xFF);
    noColon.erase(std::remove(noColon.begin(), noColon.end(), ':'), noColon.end());
    const uint16_t crc = Crc16Xmodem(reinterpret_cast<const uint8_t*>(mb2LongSecondary.data()), 124);
    mb2LongSecondary = withByte(withByte(mb2LongSecondary, 124, crc >> 8), 125, crc & 0xFF);
    std::string jpeg = std::string("\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 20), utf16;
    for (int i = 0; i < 600; ++i) jpeg.push_back(static_cast<char>(i * 37 % 251));
    for (char c : std::string("1. Introduction\nThe program reads what the Macintosh wrote.\n")) utf16 += std::string(1, '\0') + c;

    struct Case {
        const char* what;
        std::string bytes;
        const char* fault;  // a part of the message; null: not a Macintosh file
    };
    const Case cases[] = {
        {"BinHex, a character changed", withByte(hqx, third, hqx[third] == '!' ? '"' : '!'), "sample: BinHex data fork CRC "},
        {"BinHex, cut short", hqx.substr(0, hqx.size() * 2 / 3), "sample: BinHex text ends in the resource fork"},
        {"BinHex, a foreign character", withByte(hqx, third, '~'), "'~' at byte"},
        {"BinHex, no opening colon", noColon, "no line starting with ':'"},
        {"BinHex, a fork longer than the text", hollow, "data fork of 2147483632 bytes, more than the rest of the text can hold"},
        {"MacBinary II, cut in the resource fork", mb2.substr(0, mb2.size() - 200), "MacBinary II resource fork of 1080 bytes"},
        {"MacBinary II, a secondary header past the end", mb2LongSecondary, "data fork of 1200 bytes at byte 65664 runs past the end"},
        {"MacBinary III, CRC broken", withByte(mb3, 125, mb3[125] ^ 0x10), "MacBinary III header CRC"},
        {"MacBinary III, cut in the data fork", mb3.substr(0, 600), "MacBinary III data fork of 1200 bytes at byte 128 runs past the end"},
        {"AppleSingle, cut in the data fork", single.substr(0, single.size() - 1), "AppleSingle entry 1 of 1200 bytes"},
        {"AppleSingle, an entry table past the end", withByte(withByte(single, 24, 0xFF), 25, 0xFF), "entry table of 65535 entries"},
        {"AppleSingle version 3", withByte(single, 5, 3), "AppleSingle version 3.0"},
        {"MacBinary II, CRC broken", withByte(mb2, 124, mb2[124] ^ 0x01), nullptr},
        {"MacBinary I, cut short", mb1.substr(0, mb1.size() - 1), nullptr},
        {"MacBinary I, run on past its padding", mb1 + std::string(200, '\0'), nullptr},
        {"plain text", "Dear Sir,\r\nThe parcel arrived.\r\n", nullptr},
        {"JPEG", jpeg, nullptr},
        {"empty", "", nullptr},
        {"UTF-16 text", utf16, nullptr},
        {"zeros", std::string(4096, '\0'), nullptr},
        {"a record with a name and zeros", std::string("\0\x05Hello", 7) + std::string(249, '\0'), nullptr},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto read = readBytes(dir, c.bytes);
        if (c.fault) {
            ASSERT_FALSE(read);
            EXPECT_NE(read.fault().find(c.fault), std::string::npos) << read.fault();
        } else {
            ASSERT_TRUE(read) << read.fault();
            EXPECT_FALSE(read.value().has_value()) << BinaryFormatTitle(read.value()->format);
        }
    }
    const auto missing = ReadMacFile(dir.file("gone.bin"));
    EXPECT_EQ(missing ? "" : missing.fault(), "Cannot read gone.bin: No such file or directory");
    ForkBytes shrunk{dir.file("sample"), 128, 6000, false, {}};  // a file that became shorter after it was read
    const Status s = ForEachForkChunk(shrunk, [](const uint8_t*, size_t) { return Status::ok(); });
    EXPECT_EQ(s.fault(), "Cannot read sample: the file ends at byte 256, before byte 6128");
}

// Every prefix of a file and every byte of a BinHex text changed: the reader gives a fault or
// nothing, or, where the cut or the change falls after the last fork, the file as it is whole.
// No bit of a MacBinary II header up to its CRC can change without its losing the name of
// MacBinary.
TEST(ForkReaders, CutAndChangedFilesNeverReadAsSomethingElse) {
    const std::vector<HfsFile> files = hfsFiles("basic.hfs");
    const HfsFile& puzzle = named(files, "Puzzle");
    const std::string hqx = test::hcopyBinHex(test::fixturePath("basic.hfs"), ":Puzzle");
    test::TempDir dir;
    for (const std::string& whole : {hqx, puzzle.macBinary, written(puzzle, BinaryFormat::AppleSingle), written(puzzle, BinaryFormat::MacBinaryIII)}) {
        const auto full = readBytes(dir, whole);
        ASSERT_TRUE(full && full.value());
        const MacFileParts& p = *full.value();
        auto expectNothingOrWhole = [&](const std::string& bytes, const std::string& what) {
            const auto read = readBytes(dir, bytes);
            if (!read || !read.value()) return;
            SCOPED_TRACE(what);
            const MacFileParts& q = *read.value();
            EXPECT_EQ(std::tie(p.format, p.macName, p.finderInfo, p.created), std::tie(q.format, q.macName, q.finderInfo, q.created));
            EXPECT_TRUE(forkText(p.data) == forkText(q.data) && forkText(p.rsrc) == forkText(q.rsrc));
        };
        for (size_t length = 0; length < whole.size(); ++length)
            expectNothingOrWhole(whole.substr(0, length), "cut at " + std::to_string(length));
        if (&whole == &hqx)  // only BinHex guards its forks with a CRC
            for (size_t i = 0; i < whole.size(); ++i)
                expectNothingOrWhole(withByte(whole, i, whole[i] ^ 0x01), "byte " + std::to_string(i) + " changed");
    }
    const std::string mb2 = named(files, "Resource Only").macBinary;
    for (size_t bit = 0; bit < 126 * 8; ++bit) {
        const auto read = readBytes(dir, withByte(mb2, bit / 8, mb2[bit / 8] ^ (1 << bit % 8)));
        ASSERT_TRUE(read) << read.fault();
        EXPECT_FALSE(read.value().has_value()) << "bit " << bit;
    }
}

}  // namespace
}  // namespace quarry

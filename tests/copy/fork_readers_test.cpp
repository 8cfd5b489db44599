// The readers of MacBinary, AppleSingle, AppleDouble and BinHex. Files other tools made come
// first: hcopy's MacBinary II and BinHex and macutils' BinHex of the fixtures' files, whose forks
// hcopy -r and macutils (macsave, hexbin) take apart independently. Then every form the
// program writes itself, read back; then damaged and foreign files.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "copy/fork_formats.h"
#include "copy/fork_readers.h"
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

// A file holding `bytes`. An old file of the name is removed rather than cut to nothing, which
// costs the file system a flush each time and the tests that write thousands of samples seconds.
void spew(const std::string& path, const std::string& bytes) {
    fs::remove(path);
    std::ofstream(path, std::ios::binary) << bytes;
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
    EXPECT_EQ(split.info.size(), 128u) << path;
    split.info.resize(128);
    return split;
}

// A file of a fixture's root folder as hfsutils gives it.
struct HfsFile {
    test::OracleEntry entry;
    std::string data, macBinary;  // hcopy -r and hcopy -m
};

std::vector<HfsFile> hfsFiles(const std::string& image) {
    std::vector<HfsFile> files;
    for (const auto& o : test::hlsList(image, ":"))
        if (!o.isFolder && o.name.find(':') == std::string::npos)  // hfsutils cannot name a colon
            files.push_back({o, test::hcopyData(image, ":" + o.name), test::hcopyMacBinary(image, ":" + o.name)});
    return files;
}

// Every root file of two fixtures as hcopy writes it in MacBinary II and BinHex, and as macutils'
// binhex writes it from hcopy's MacBinary, and hcopy's BinHex as mail delivered it (after a
// header, in CR LF lines): the forks are hcopy -r's data fork and the resource
// fork macutils takes out of the same file; name, type, creator and fork sizes are hls's; the
// Finder flags and dates are where macutils' information file has them (hexbin keeps the low flag
// byte at 74).
TEST(ForkReaders, ReadHfsutilsAndMacutilsFilesAsMacutilsSplitsThem) {
    for (const char* fixture : {"basic.hfs", "formats.hfs"}) {
        const std::string image = test::fixturePath(fixture);
        for (const HfsFile& f : hfsFiles(image)) {
            const test::OracleEntry& o = f.entry;
            SCOPED_TRACE(std::string(fixture) + " " + o.name);
            test::TempDir dir;
            const std::string bin = dir.file("file.bin"), hqx = dir.file("file.hqx"), other = dir.file("macutils.hqx");
            spew(bin, f.macBinary);
            const std::string hcopyHqx = test::hcopyBinHex(image, ":" + o.name);
            spew(hqx, hcopyHqx);
            // The same text as mail carried it: a header line first, lines ended by CR LF.
            std::string mailed = "Subject: " + o.name + "\r\n\r\n";
            for (char c : hcopyHqx) mailed += c == '\n' ? std::string("\r\n") : std::string(1, c);
            spew(dir.file("mailed.hqx"), mailed);
            const auto made = test::runProcess({"sh", "-c", "exec binhex < \"$1\" > \"$2\"", "sh", bin, other});
            ASSERT_TRUE(made.succeeded()) << made.err;
            const MacutilsSplit fromBin = macutilsSplit(bin, false), fromHqx = macutilsSplit(hqx, true),
                                fromOther = macutilsSplit(other, true);
            EXPECT_EQ(fromBin.data, f.data);
            EXPECT_EQ(fromHqx.rsrc, fromBin.rsrc);

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
                ASSERT_TRUE(read) << read.fault();
                ASSERT_TRUE(read.value().has_value());
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
                EXPECT_EQ(std::string(p.finderInfo.begin() + 10, p.finderInfo.end()), c.split.info.substr(75, 6));
                EXPECT_EQ(p.created, be32(c.split.info, 91));
                EXPECT_EQ(p.modified, be32(c.split.info, 95));
            }
        }
    }
}

// The hfsutils file as the program's own writers take it.
struct Original {
    VolumeEntry entry;
    std::string data, rsrc;
};

Original original(const HfsFile& f) {
    Original o;
    const std::string& mb = f.macBinary;
    VolumeEntry& e = o.entry;
    e.macName = f.entry.name;
    std::copy_n(mb.begin() + 65, 8, e.finderInfo.begin());  // type and creator
    e.finderInfo[8] = static_cast<uint8_t>(mb[73]);
    e.finderInfo[9] = static_cast<uint8_t>(mb[101]);
    std::copy_n(mb.begin() + 75, 4, e.finderInfo.begin() + 10);
    // HFS keeps the script and extended flags here; hcopy has no place for them, so some are made up.
    e.extendedFinderInfo = {1, 2, 3, 4, 5, 6, 7, 8, 0x81, 0x40, 0, 0, 0, 0, 0, 0};
    e.created.macSeconds = be32(mb, 91);
    e.modified.macSeconds = be32(mb, 95);
    e.backedUp.macSeconds = e.created.macSeconds + 86400;
    o.data = f.data;
    o.rsrc = mb.substr(128 + (be32(mb, 83) + 127) / 128 * 128, be32(mb, 87));
    e.data.logical = o.data.size();
    e.rsrc.logical = o.rsrc.size();
    return o;
}

// The file written by one of the program's writers; `copier` gives the forks (the original's
// unless a test wants otherwise).
std::string written(const Original& o, BinaryFormat format, ForkCopier copier = {}) {
    if (!copier)
        copier = [&](ForkKind kind, ByteSink& sink) {
            const std::string& bytes = kind == ForkKind::Data ? o.data : o.rsrc;
            return sink.write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) ? Status::ok() : Status(Fault{"write"});
        };
    test::MemorySink sink;
    Status s;
    switch (format) {
        case BinaryFormat::AppleSingle: s = WriteAppleSingle(o.entry, copier, sink); break;
        case BinaryFormat::AppleDouble: s = WriteAppleDoubleHeader(o.entry, copier, sink); break;
        case BinaryFormat::BinHex: s = WriteBinHex(o.entry, copier, sink); break;
        default: s = WriteMacBinary(o.entry, format, copier, sink); break;
    }
    EXPECT_TRUE(s) << s.fault();
    return std::string(sink.bytes.begin(), sink.bytes.end());
}

std::string leadingBlanksRemoved(const std::string& s) { return s.substr(std::min(s.size(), s.find_first_not_of(' '))); }

// Every root file of two fixtures through each of the program's writers and back: what each form
// keeps comes back as it went in, and what it has no place for comes back empty. MacBinary I
// files with a fork over 8 MB are not taken for MacBinary I, as no reader of that form takes them.
TEST(ForkReaders, ReadBackEveryFormTheProgramWrites) {
    struct Form {
        BinaryFormat format;
        bool lowFlags, extendedInfo, backupDate, folderField, dates;
    };
    constexpr Form kForms[] = {
        {BinaryFormat::MacBinaryI, false, false, false, false, true},  {BinaryFormat::MacBinaryII, true, false, false, false, true},
        {BinaryFormat::MacBinaryIII, true, false, false, false, true}, {BinaryFormat::AppleSingle, true, true, true, true, true},
        {BinaryFormat::AppleDouble, true, true, true, true, true},     {BinaryFormat::BinHex, true, false, false, false, false},
    };
    for (const char* fixture : {"basic.hfs", "formats.hfs"}) {
        for (const HfsFile& f : hfsFiles(test::fixturePath(fixture))) {
            Original o = original(f);
            o.entry.finderInfo[14] = 0x12;  // the folder field, which only the Apple forms carry
            o.entry.finderInfo[15] = 0x34;
            for (const Form& form : kForms) {
                SCOPED_TRACE(std::string(fixture) + " " + f.entry.name + " as " + std::string(BinaryFormatTitle(form.format)));
                test::TempDir dir;
                const std::string path = dir.file("file"), header = dir.file("._file");
                const bool pair = form.format == BinaryFormat::AppleDouble;
                spew(pair ? header : path, written(o, form.format));
                if (pair) spew(path, o.data);
                const auto read = pair ? ReadAppleDouble(path, header) : ReadMacFile(path);
                ASSERT_TRUE(read) << read.fault();
                if (form.format == BinaryFormat::MacBinaryI && std::max(o.data.size(), o.rsrc.size()) > (8u << 20)) {
                    EXPECT_FALSE(read.value().has_value());
                    continue;
                }
                ASSERT_TRUE(read.value().has_value());
                const MacFileParts& p = *read.value();
                EXPECT_EQ(p.format, form.format);
                const bool macBinary = form.format <= BinaryFormat::MacBinaryIII;
                EXPECT_EQ(p.macName, macBinary ? leadingBlanksRemoved(o.entry.macName) : o.entry.macName);
                std::array<uint8_t, 16> info = o.entry.finderInfo, extended{};
                if (!form.lowFlags) info[9] = 0;
                if (!form.folderField) info[14] = info[15] = 0;
                if (form.extendedInfo) extended = o.entry.extendedFinderInfo;
                if (form.format == BinaryFormat::MacBinaryIII) extended[8] = 0x81, extended[9] = 0x40;
                EXPECT_EQ(p.finderInfo, info);
                EXPECT_EQ(p.extendedFinderInfo, extended);
                auto date = [&](bool kept, const EntryDate& d) { return kept && d.macSeconds ? std::optional(d.macSeconds) : std::nullopt; };
                EXPECT_EQ(p.created, date(form.dates, o.entry.created));
                EXPECT_EQ(p.modified, date(form.dates, o.entry.modified));
                EXPECT_EQ(p.backedUp, date(form.backupDate, o.entry.backedUp));
                EXPECT_TRUE(forkText(p.data) == o.data);
                EXPECT_TRUE(forkText(p.rsrc) == o.rsrc);
            }
        }
    }
}

// Two readings agree on everything a file carries.
void expectSame(const MacFileParts& p, const MacFileParts& q) {
    EXPECT_EQ(p.format, q.format);
    EXPECT_EQ(p.macName, q.macName);
    EXPECT_EQ(p.finderInfo, q.finderInfo);
    EXPECT_EQ(p.created, q.created);
    EXPECT_TRUE(forkText(p.data) == forkText(q.data));
    EXPECT_TRUE(forkText(p.rsrc) == forkText(q.rsrc));
}

// The result for a file holding `bytes`.
Result<std::optional<MacFileParts>> readBytes(const test::TempDir& dir, const std::string& bytes, const char* name = "sample") {
    spew(dir.file(name), bytes);
    return ReadMacFile(dir.file(name));
}

std::string withByte(std::string bytes, size_t at, uint8_t value) {
    bytes.at(at) = static_cast<char>(value);
    return bytes;
}

// A MacBinary II header given a new CRC after a change, so that the change is what is tested.
std::string withMacBinaryCrc(std::string mb) {
    const uint16_t crc = Crc16Xmodem(reinterpret_cast<const uint8_t*>(mb.data()), 124);
    mb[124] = static_cast<char>(crc >> 8);
    mb[125] = static_cast<char>(crc);
    return mb;
}

// Damaged files of each form are faults that say what is wrong; files in none of the forms,
// MacBinary II whose CRC is broken and MacBinary I cut short among them, are nothing. The
// samples are hcopy's MacBinary II and BinHex of a two-fork file and the program's own
// AppleSingle, MacBinary I and III of it.
TEST(ForkReaders, DamagedFilesAreFaultsAndOtherFilesAreNothing) {
    const std::string image = test::fixturePath("basic.hfs");
    const std::string mb2 = test::hcopyMacBinary(image, ":Puzzle"), hqx = test::hcopyBinHex(image, ":Puzzle");
    const Original puzzle = original({test::hlsList(image, ":Puzzle").at(0), test::hcopyData(image, ":Puzzle"), mb2});
    const std::string single = written(puzzle, BinaryFormat::AppleSingle), mb3 = written(puzzle, BinaryFormat::MacBinaryIII);
    const std::string mb1 = written(puzzle, BinaryFormat::MacBinaryI);
    Original claiming = puzzle;  // a header that promises forks the text does not hold
    claiming.entry.data.logical = 0x7FFFFFF0;
    claiming.entry.rsrc.logical = 0;
    const std::string hollow = written(claiming, BinaryFormat::BinHex, [](ForkKind, ByteSink&) { return Status::ok(); });
    auto at = [](const std::string& s, size_t fraction) {  // a BinHex character about that far in
        size_t i = s.size() / fraction;
        while (s[i] == '\n') ++i;
        return i;
    };
    std::string noColon = hqx;
    noColon.erase(std::remove(noColon.begin(), noColon.end(), ':'), noColon.end());
    std::string jpeg = "\xFF\xD8\xFF\xE0";
    jpeg += std::string("\0\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 16);
    for (int i = 0; i < 600; ++i) jpeg.push_back(static_cast<char>(i * 37 % 251));
    std::string utf16;
    for (char c : std::string("1. Introduction\nThe program reads what the Macintosh wrote.\n")) utf16 += std::string(1, '\0') + c;
    std::string record = std::string("\0\x05Hello", 7) + std::string(249, '\0');  // a name-like record, zeros after it

    struct Case {
        const char* what;
        std::string bytes;
        const char* fault;  // a part of the message; null: not a Macintosh file
    };
    const Case cases[] = {
        {"BinHex, a character changed", withByte(hqx, at(hqx, 3), hqx[at(hqx, 3)] == '!' ? '"' : '!'), "sample: BinHex data fork CRC "},
        {"BinHex, cut short", hqx.substr(0, hqx.size() * 2 / 3), "sample: BinHex text ends in the resource fork"},
        {"BinHex, a foreign character", withByte(hqx, at(hqx, 3), '~'), "'~' at byte"},
        {"BinHex, no opening colon", noColon, "no line starting with ':'"},
        {"BinHex, a fork longer than the text", hollow, "data fork of 2147483632 bytes, more than the rest of the text can hold"},
        {"MacBinary II, cut in the resource fork", mb2.substr(0, mb2.size() - 200), "MacBinary II resource fork of 1080 bytes"},
        {"MacBinary II, a secondary header past the end", withMacBinaryCrc(withByte(withByte(mb2, 120, 0xFF), 121, 0xFF)), "runs past the end"},
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
        {"records", record, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const auto read = readBytes(dir, c.bytes);
        if (c.fault) {
            ASSERT_FALSE(read);
            EXPECT_NE(read.fault().find(c.fault), std::string::npos) << read.fault();
        } else {
            ASSERT_TRUE(read) << read.fault();
            EXPECT_FALSE(read.value().has_value()) << BinaryFormatTitle(read.value()->format);
        }
    }
    test::TempDir dir;
    const auto missing = ReadMacFile(dir.file("gone.bin"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.fault(), "Cannot read gone.bin: No such file or directory");
}

// Every prefix of a file and every byte of a BinHex text changed: the reader gives a fault or
// nothing, or, where the cut or the change falls after the last fork, the file as it is whole.
// No bit of a MacBinary II header up to its CRC can change without its losing the name of
// MacBinary.
TEST(ForkReaders, CutAndChangedFilesNeverReadAsSomethingElse) {
    const std::string image = test::fixturePath("basic.hfs");
    const std::string mb2 = test::hcopyMacBinary(image, ":Resource Only"), hqx = test::hcopyBinHex(image, ":Puzzle");
    const Original puzzle = original({test::hlsList(image, ":Puzzle").at(0), test::hcopyData(image, ":Puzzle"),
                                      test::hcopyMacBinary(image, ":Puzzle")});
    test::TempDir dir;
    for (const std::string& whole : {hqx, mb2, written(puzzle, BinaryFormat::AppleSingle), written(puzzle, BinaryFormat::MacBinaryIII)}) {
        const auto full = readBytes(dir, whole, "whole");
        ASSERT_TRUE(full && full.value());
        auto expectNothingOrWhole = [&](const std::string& bytes, const std::string& what) {
            const auto read = readBytes(dir, bytes);
            if (read && read.value()) {
                SCOPED_TRACE(what);
                expectSame(*read.value(), *full.value());
            }
        };
        for (size_t length = 0; length < whole.size(); ++length)
            expectNothingOrWhole(whole.substr(0, length), "cut at " + std::to_string(length));
        if (&whole == &hqx)  // only BinHex guards its forks with a CRC
            for (size_t i = 0; i < whole.size(); ++i)
                expectNothingOrWhole(withByte(whole, i, whole[i] ^ 0x01), "byte " + std::to_string(i) + " changed");
    }
    for (size_t bit = 0; bit < 126 * 8; ++bit) {
        const auto read = readBytes(dir, withByte(mb2, bit / 8, mb2[bit / 8] ^ (1 << bit % 8)));
        ASSERT_TRUE(read) << read.fault();
        EXPECT_FALSE(read.value().has_value()) << "bit " << bit;
    }
}

// An AppleSingle or AppleDouble file laid out entry by entry, the entries in the order given.
std::string appleFile(uint32_t magic, uint32_t version, std::string home, const std::vector<std::pair<uint32_t, std::string>>& entries) {
    auto be = [](uint32_t v, int bytes) {
        std::string s;
        for (int i = bytes - 1; i >= 0; --i) s.push_back(static_cast<char>(v >> (8 * i)));
        return s;
    };
    home.resize(16, ' ');
    std::string head = be(magic, 4) + be(version, 4) + home + be(static_cast<uint32_t>(entries.size()), 2), body;
    size_t offset = head.size() + 12 * entries.size();
    for (const auto& [id, bytes] : entries) {
        head += be(id, 4) + be(static_cast<uint32_t>(offset + body.size()), 4) + be(static_cast<uint32_t>(bytes.size()), 4);
        body += bytes;
    }
    return head + body;
}

// AppleDouble headers from elsewhere: macOS's "._" file, whose Finder information entry runs on
// into extended attributes and which names no file; an AppleSingle file without a data fork;
// and files that are not headers at all. AppleSingle version 1 keeps a Macintosh file's dates
// in its file information entry.
TEST(ForkReaders, AppleDoubleHeadersAndAppleSingleVersion1) {
    const std::string finder = std::string("TEXTttxt\x01\x00", 10) + std::string(6, '\x05') + std::string(16, '\x07');
    const std::string rsrc = "resource fork bytes";
    struct Case {
        const char* what;
        std::string header;
        bool isHeader;
        std::string name;
    };
    const Case cases[] = {
        {"macOS", appleFile(0x00051607, 0x00020000, "Mac OS X", {{9, finder + "ATTR extended attributes"}, {2, rsrc}}), true, ""},
        {"AppleSingle without a data fork", appleFile(0x00051600, 0x00020000, "", {{3, "Read Me"}, {2, rsrc}, {9, finder}}), true, "Read Me"},
        {"AppleSingle", appleFile(0x00051600, 0x00020000, "", {{1, "data"}, {2, rsrc}, {9, finder}}), false, ""},
        {"plain", "plain text, no header", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        spew(dir.file("file"), "the data fork");
        spew(dir.file("._file"), c.header);
        const auto read = ReadAppleDouble(dir.file("file"), dir.file("._file"));
        ASSERT_TRUE(read) << read.fault();
        ASSERT_EQ(read.value().has_value(), c.isHeader);
        if (!c.isHeader) continue;
        const MacFileParts& p = *read.value();
        EXPECT_EQ(p.format, BinaryFormat::AppleDouble);
        EXPECT_EQ(p.macName, c.name);
        EXPECT_EQ(std::string(p.finderInfo.begin(), p.finderInfo.end()) + std::string(p.extendedFinderInfo.begin(), p.extendedFinderInfo.end()), finder);
        EXPECT_EQ(forkText(p.data), "the data fork");
        EXPECT_EQ(forkText(p.rsrc), rsrc);
        EXPECT_FALSE(p.created || p.modified);
    }

    const std::string dates = std::string("\xA5\x1A\x2B\x3C\xB0\x00\x00\x01\0\0\0\0\0\0\0\0", 16);
    test::TempDir dir;
    const auto v1 = readBytes(dir, appleFile(0x00051600, 0x00010000, "Macintosh", {{3, "Old"}, {7, dates}, {1, "data"}}));
    ASSERT_TRUE(v1 && v1.value()) << (v1 ? "" : v1.fault());
    EXPECT_EQ(v1.value()->created, 0xA51A2B3Cu);
    EXPECT_EQ(v1.value()->modified, 0xB0000001u);
    EXPECT_EQ(v1.value()->backedUp, std::nullopt);
    EXPECT_EQ(forkText(v1.value()->data), "data");
}

// A fork whose file has become shorter since it was read is a fault that names the file, and
// the first fault of the taker ends the chunks.
TEST(ForkReaders, ForkChunksStopAtTheFirstFault) {
    test::TempDir dir;
    spew(dir.file("file.bin"), std::string(5000, 'x'));
    ForkBytes shrunk;
    shrunk.path = dir.file("file.bin");
    shrunk.offset = 128;
    shrunk.length = 6000;
    const Status s = ForEachForkChunk(shrunk, [](const uint8_t*, size_t) { return Status::ok(); });
    EXPECT_EQ(s.fault(), "Cannot read file.bin: the file ends at byte 5000, before byte 6128");

    ForkBytes decoded;
    decoded.inMemory = true;
    decoded.decoded.resize(3u << 20);
    int calls = 0;
    const Status stopped = ForEachForkChunk(decoded, [&](const uint8_t*, size_t) { return ++calls == 2 ? Status(Fault{"disk full"}) : Status::ok(); });
    EXPECT_EQ(stopped.fault(), "disk full");
    EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace quarry

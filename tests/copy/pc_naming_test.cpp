// PC names made from Macintosh names, and the extension table.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/session.h"
#include "copy/pc_naming.h"
#include "copy/type_creator.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

struct NamingCase {
    NamingMode mode;
    const char* macName;
    const char* typeCreator;
    const char* expected;  // in the mode's one-byte set
};

TEST(PcFileNameFor, LongAndShortNames) {
    const NamingCase cases[] = {
        {NamingMode::Long, "Read Me", "TEXTttxt", "Read Me.txt"},
        {NamingMode::Long, "Budget 95.XLS", "XLS5XCEL", "Budget 95.XLS"},
        {NamingMode::Long, "A/B*C<D", "TEXTttxt", "ABCD.txt"},
        {NamingMode::Long, "Report.", "TEXTttxt", "Report.txt"},
        {NamingMode::Long, "  Padded  ", "TEXTttxt", "Padded.txt"},
        {NamingMode::Long, "Caf\x8E", "TEXTttxt", "Caf\xE9.txt"},
        {NamingMode::Long, "archive.tar.gz", "Gzip????", "archive.tar.gz"},
        {NamingMode::Long, "Tool", "APPLMACS", "Tool.com"},
        {NamingMode::Short, "Annual report", "TEXTttxt", "ANNUALRE.txt"},
        {NamingMode::Short, "Tr\x8Fs.doc", "WDBNMSWD", "TRES.doc"},
        {NamingMode::Short, "\x80pfel", "TEXTttxt", "\x8EPFEL.txt"},
        {NamingMode::Short, "::", "TEXTttxt", ".txt"},
        {NamingMode::Short, "Letter", "WDBNMSWD", "LETTER.doc"},
        {NamingMode::Short, "Photographs 1996", "PICT8BIM", "PHOTOGRA.pct"},
    };
    for (const NamingCase& c : cases) {
        SCOPED_TRACE(c.macName);
        test::RecordingUi ui;
        Session s(ui);
        s.settings.setNamingMode(c.mode);
        EXPECT_EQ(PcFileNameFor(s.copyContext(), c.macName, c.typeCreator), c.expected);
    }
}

TEST(PcFileNameFor, ShortNamesWhereLongOnesAreNotAvailable) {
    test::RecordingUi ui;
    Session s(ui);
    s.settings.setNamingMode(NamingMode::Long);
    s.copy.longNamesAvailable = false;
    EXPECT_EQ(PcFileNameFor(s.copyContext(), "Annual report", "TEXTttxt"), "ANNUALRE.txt");
    EXPECT_EQ(PcDirectoryNameFor(s.copyContext(), "My Folder 2"), "MYFOLDER");
}

TEST(SetExtension, ReplacesOnlyShortExtensions) {
    struct Case {
        const char* name;
        const char* ext;
        const char* expected;
    };
    const Case cases[] = {
        {"REPORT.txt", "01B", "REPORT.01b"}, {"Read Me", "TXT", "Read Me.txt"}, {"a.longer", "TXT", "a.longer.txt"},
        {"", "TXT", ".txt"},                 {"x.", "DOC", "x.doc"},
    };
    for (const Case& c : cases) {
        std::string n = c.name;
        SetExtension(n, c.ext);
        EXPECT_EQ(n, c.expected);
    }
    std::string report = "REPORT.txt";
    MakeUniqueName(report, 43);
    EXPECT_EQ(report, "REPORT.01b");
    std::string big = "X";
    MakeUniqueName(big, 32767);
    EXPECT_EQ(big, "X.vvv");
}

TEST(PcDirectoryNameFor, NeverLeavesTheTarget) {
    test::RecordingUi ui;
    Session s(ui);
    EXPECT_EQ(PcDirectoryNameFor(s.copyContext(), ".."), "__");
    EXPECT_EQ(PcDirectoryNameFor(s.copyContext(), "."), "_");
    EXPECT_EQ(PcDirectoryNameFor(s.copyContext(), "/"), "_");
    EXPECT_EQ(PcDirectoryNameFor(s.copyContext(), "a/b"), "ab");
    EXPECT_EQ(PcDirectoryNameFor(s.copyContext(), "Old Drafts"), "Old Drafts");
}

TEST(ExtensionForType, ThreePassesThenTheDefault) {
    TypeCreatorTable t;
    EXPECT_EQ(ExtensionForType(t, "TEXTttxt"), "TXT");
    EXPECT_EQ(ExtensionForType(t, "APPLMACS"), "COM");
    EXPECT_EQ(ExtensionForType(t, "WDBNMSWD"), "DOC");
    EXPECT_EQ(ExtensionForType(t, "TESTxxxx"), "TXT");
    EXPECT_EQ(ExtensionForType(t, "ZZZZzzzz"), "TXT");
    EXPECT_EQ(ExtensionForType(t, "PICTttxt"), "PCT");
    EXPECT_EQ(ExtensionForType(t, "TEXTBNHQ"), "HQX");
    EXPECT_EQ(FindExtensionRow(t, "MCW"), 8);
    EXPECT_EQ(FindExtensionRow(t, "ZIP"), -1);
}

TEST(LoadTypeCreatorFile, ChangesRowsOnceAndBeepsForUnknownExtensions) {
    test::TempDir dir;
    const std::string old = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    {
        std::ofstream f("KTCREAT.DAT", std::ios::binary);
        f << "# extension mappings\r\n  DOC W6BNMSWD\r\nZIP ZIP ????\r\n\tPCT \"PIC\n";
    }
    TypeCreatorTable t;
    test::RecordingUi ui;
    LoadTypeCreatorFile(t, ui);
    std::filesystem::current_path(old);
    EXPECT_EQ(ui.beeps, 1);
    // Row 1 now says W6BN/MSWD: WDBN/MSWD finds row 8 (MCW) in the first pass.
    EXPECT_EQ(ExtensionForType(t, "WDBNMSWD"), "MCW");
    EXPECT_EQ(std::string(t.rows[17].typeCreator.data()), "W6BNMSWD");
    // A short line stores what it has, line end included, and zeros after it.
    EXPECT_EQ(std::string(t.rows[19].typeCreator.data()), "\"PIC\n");
    // The file is read once: a second call changes nothing.
    LoadTypeCreatorFile(t, ui);
    EXPECT_EQ(ui.beeps, 1);
}

}  // namespace
}  // namespace quarry

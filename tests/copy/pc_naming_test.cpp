// PC names made from Macintosh names, and the extension table.

#include <gtest/gtest.h>

#include "app/session.h"
#include "copy/pc_naming.h"
#include "copy/type_creator.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

TEST(PcFileNameFor, LongAndShortNames) {
    struct Case {
        NamingMode mode;
        const char *macName, *typeCreator, *expected;  // in the mode's one-byte set
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        test::RecordingUi ui;
        Session s(ui);
        s.settings.setNamingMode(c.mode);
        EXPECT_EQ(PcFileNameFor(s.copyContext(), c.macName, c.typeCreator), c.expected) << c.macName;
    }
    // Where the file system has no long names, long ones are made short.
    test::RecordingUi ui;
    Session s(ui);
    s.settings.setNamingMode(NamingMode::Long);
    s.copy.longNamesAvailable = false;
    EXPECT_EQ(PcFileNameFor(s.copyContext(), "Annual report", "TEXTttxt"), "ANNUALRE.txt");
    EXPECT_EQ(PcDirectoryNameFor(s.copyContext(), "My Folder 2"), "MYFOLDER");
}

// Folder names that would leave the target ("..", ".", "/", "a/b") are checked end to end on
// hostile.hfs (tests/copy/copy_behaviour_test.cpp).

TEST(SetExtension, ReplacesOnlyShortExtensions) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"REPORT.txt", "01B", "REPORT.01b"}, {"Read Me", "TXT", "Read Me.txt"}, {"a.longer", "TXT", "a.longer.txt"},
        {"", "TXT", ".txt"},                 {"x.", "DOC", "x.doc"},
    };
    for (const auto& [name, ext, expected] : cases) {
        std::string n = name;
        SetExtension(n, ext);
        EXPECT_EQ(n, expected);
    }
    std::string report = "REPORT.txt", big = "X";
    MakeUniqueName(report, 43);
    MakeUniqueName(big, 32767);
    EXPECT_EQ(report, "REPORT.01b");
    EXPECT_EQ(big, "X.vvv");
}

TEST(ExtensionForType, ThreePassesThenTheDefault) {
    TypeCreatorTable t;
    for (const auto& [typeCreator, ext] : std::vector<std::pair<std::string, std::string>>{
             {"TEXTttxt", "TXT"}, {"APPLMACS", "COM"}, {"WDBNMSWD", "DOC"}, {"TESTxxxx", "TXT"},
             {"ZZZZzzzz", "TXT"}, {"PICTttxt", "PCT"}, {"TEXTBNHQ", "HQX"}})
        EXPECT_EQ(ExtensionForType(t, typeCreator), ext) << typeCreator;
    EXPECT_EQ(FindExtensionRow(t, "ZIP"), -1);
}

TEST(LoadTypeCreatorFile, ChangesRowsOnceAndBeepsForUnknownExtensions) {
    test::CurrentTempDir dir;  // the table is read from the current directory
    std::ofstream("KTCREAT.DAT", std::ios::binary) << "# extension mappings\r\n  DOC W6BNMSWD\r\nZIP ZIP ????\r\n\tPCT \"PIC\n";
    TypeCreatorTable t;
    test::RecordingUi ui;
    LoadTypeCreatorFile(t, ui);
    EXPECT_EQ(ui.beeps, 1);
    // Row 1 now says W6BN/MSWD: WDBN/MSWD finds row 8 (MCW) in the first pass.
    EXPECT_EQ(ExtensionForType(t, "WDBNMSWD"), "MCW");
    // A short line stores what it has, line end included, and zeros after it.
    EXPECT_EQ(ExtensionForType(t, std::string("\"PIC\n\0\0\0", 8)), "PCT");
    // The file is read once: a second call changes nothing.
    LoadTypeCreatorFile(t, ui);
    EXPECT_EQ(ui.beeps, 1);
}

}  // namespace
}  // namespace quarry

// A commit cut at every block it writes, as a power failure or a killed process cuts it: hfsutils
// lists the medium as the volume before the change or after it, never anything between; the
// files the change leaves alone read back as they were; the check finds nothing but what a cut
// may leave (blocks and nodes marked in use that nothing uses, counts not up to date), and the
// next change repairs that, after which hfsutils still changes the volume.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "app/navigation.h"
#include "commands/command_line.h"
#include "hfs/btree.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

namespace quarry::test {
namespace {

// drAtrb's "cleanly unmounted" bit: clear from a commit's first write to its last.
constexpr uint16_t kCleanlyUnmounted = 0x0100;
constexpr size_t kMdbAttributes = 1024 + 10;
const std::string kRepairMessage = "The volume was not closed cleanly; its counts and free space were repaired.";
const std::string kCutNote = "note: not closed cleanly: ";

using Medium = std::vector<uint8_t>;

Medium fixtureMedium(const char* name) {
    const std::string bytes = slurp(fixturePath(name));
    return Medium(bytes.begin(), bytes.end());
}

void writeImage(const std::string& path, const Medium& medium) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(medium.data()), static_cast<std::streamsize>(medium.size()));
}

bool cleanlyUnmounted(const Medium& medium) { return (readBe(medium, kMdbAttributes, 2) & kCleanlyUnmounted) != 0; }

// The catalog's shape, to pick out the commits that split nodes, add a level or grow the catalog.
struct Shape {
    uint16_t depth = 0;
    uint32_t used = 0;   // nodes in use
    uint32_t total = 0;  // nodes the catalog file holds
};

Shape catalogShape(const Session& session) {
    const uint8_t* h = session.volume.catalog.header.data();
    return {loadBE16(h + header::kDepth), loadBE32(h + header::kTotalNodes) - loadBE32(h + header::kFreeNodes),
            loadBE32(h + header::kTotalNodes)};
}

// Command lines run through the command line on one session over the medium, questions answered
// with yes, the first `cut` blocks written reaching the medium when a cut is asked for.
struct Run {
    Medium medium;
    uint64_t blocks = 0;           // blocks the lines wrote, lost ones included
    std::vector<Shape> shapes;     // the catalog's shape before the lines and after each
    std::vector<std::string> said; // the message boxes
};

Run runLines(const Medium& medium, const std::vector<std::string>& lines, std::optional<uint64_t> cut = std::nullopt) {
    MountedImage m("CUT", medium);
    Run run;
    if (cut) m.drive().cutAfterBlocks(*cut);
    m.session.listOnScreen = false;
    run.shapes.push_back(catalogShape(m.session));
    for (const std::string& line : lines) {
        m.ui.answers.assign(4, true);
        ExecuteCommandText(m.session, TypedText(m.session, line));
        run.shapes.push_back(catalogShape(m.session));
    }
    run.blocks = m.drive().blocksWritten();
    run.medium = m.drive().target(2).medium;
    run.said = m.ui.messageBoxes;
    return run;
}

// A commit picked from a run of lines: the volume before it, and its line.
struct Picked {
    std::string label;
    Medium medium;
    std::string line;
};

// From lines run one after another on the fixture, the first commit whose catalog shape before
// and after satisfies each predicate, with the volume it starts from.
std::vector<Picked> pickCommits(const char* fixture, const std::vector<std::string>& lines,
                                const std::vector<std::pair<std::string, std::function<bool(Shape, Shape)>>>& wanted,
                                const Medium& start) {
    const Run whole = runLines(start, lines);
    EXPECT_TRUE(whole.said.empty()) << whole.said[0];
    std::vector<Picked> picked;
    for (const auto& [label, test] : wanted) {
        size_t i = 0;
        while (i < lines.size() && !test(whole.shapes[i], whole.shapes[i + 1])) ++i;
        if (i == lines.size()) {
            ADD_FAILURE() << fixture << ": no commit of " << lines.size() << " lines " << label;
            continue;
        }
        picked.push_back({std::string(fixture) + ", " + label + " (line " + std::to_string(i + 1) + ")",
                          runLines(start, {lines.begin(), lines.begin() + static_cast<ptrdiff_t>(i)}).medium, lines[i]});
    }
    return picked;
}

struct CutCase {
    std::string label;
    Medium medium;                       // the volume before the change
    std::string line;                    // the change, as typed into the command line
    std::vector<std::string> untouched;  // files the change leaves alone
    // In a commit of many blocks: how many of the first and the last are cut after, and how many
    // between them, evenly spread.
    uint64_t head = 16, tail = 24, spread = 8;
};

// What is wrong with the medium a cut left, in words; empty when nothing is.
std::vector<std::string> cutFaults(const TempDir& dir, const Medium& cutMedium, const std::vector<std::string>& before,
                                   const std::vector<std::string>& after, const CutCase& c,
                                   const std::vector<std::string>& untouchedBytes) {
    std::vector<std::string> faults;
    const std::string image = dir.file("cut.hfs");
    writeImage(image, cutMedium);
    const std::vector<std::string> tree = hlsTree(image);
    if (tree != before && tree != after) faults.push_back("hfsutils lists neither the volume before nor after");
    if (hcopyMacBinaries(image, c.untouched) != untouchedBytes) faults.push_back("a file the change leaves alone reads otherwise");

    ProcessResult r = runCli({"--check", image});
    if (r.exitCode != 0 || !r.out.empty())
        faults.push_back("--check finds problems (exit " + std::to_string(r.exitCode) + "): " + r.out.substr(0, r.out.find('\n')));
    for (const std::string& line : outputLines(r.err))
        if (line.rfind(kCutNote, 0) != 0) faults.push_back("--check says \"" + line + "\"");
    if (!faults.empty()) return faults;  // what follows builds on a sound volume

    const bool clean = cleanlyUnmounted(cutMedium);
    r = runCli({"--write", "--yes", image, "MD \"Repaired after the cut\""});
    size_t said = 0;
    for (size_t at = r.err.find(kRepairMessage); at != std::string::npos; at = r.err.find(kRepairMessage, at + 1)) ++said;
    // Whether the run counts that message as a complaint is its own affair: the folder it makes
    // is looked for below.
    if (said != (clean ? 0u : 1u))
        faults.push_back("the next change " + std::string(clean ? "" : "of a volume not closed cleanly ") + "says: " + r.err);
    r = runCli({"--check", image});
    if (r.exitCode != 0 || r.err.find("not closed cleanly") != std::string::npos)
        faults.push_back("after the next change --check says: " + r.out + r.err);
    const std::string repaired = slurp(image);
    if (!cleanlyUnmounted(Medium(repaired.begin(), repaired.end()))) faults.push_back("the next change leaves it not closed cleanly");
    const bool changed = hfsutilsChange(image, {{"hmkdir", ":By hfsutils"}});
    const auto found = hlsLookup(image, {":Repaired after the cut", ":By hfsutils"});
    if (!changed || !found[0] || !found[1]) faults.push_back("hfsutils does not find the folders made after the cut");
    return faults;
}

// The change once whole, then cut after each block it writes.
void cutEverywhere(const CutCase& c) {
    SCOPED_TRACE(c.label + ": " + c.line);
    TempDir dir;
    const std::string beforeImage = dir.file("before.hfs"), afterImage = dir.file("after.hfs");
    writeImage(beforeImage, c.medium);
    const Run whole = runLines(c.medium, {c.line});
    ASSERT_TRUE(whole.said.empty()) << whole.said[0];
    writeImage(afterImage, whole.medium);
    const std::vector<std::string> before = hlsTree(beforeImage), after = hlsTree(afterImage);
    ASSERT_NE(before, after) << "the change changes nothing hfsutils lists";
    const std::vector<std::string> untouched = hcopyMacBinaries(beforeImage, c.untouched);
    ASSERT_EQ(hcopyMacBinaries(afterImage, c.untouched), untouched);
    const ProcessResult check = runCli({"--check", afterImage});
    EXPECT_EQ(check.exitCode, 0) << check.out;
    EXPECT_EQ(check.err.find("not closed cleanly"), std::string::npos) << check.err;
    EXPECT_TRUE(cleanlyUnmounted(whole.medium));

    // Every cut point; in a commit of many blocks (the first one after the mount writes the whole
    // tree beside the old one), the first and last few and a sample of the nodes between, whose
    // writes all go to nodes that no reader reaches before the switch.
    std::vector<uint64_t> points;
    for (uint64_t k = 0; k < whole.blocks; ++k)
        if (whole.blocks <= c.head + c.tail || k < c.head || k + c.tail >= whole.blocks || k % (whole.blocks / c.spread) == 0)
            points.push_back(k);
    std::string report;
    for (uint64_t k : points) {
        const Run cut = runLines(c.medium, {c.line}, k);
        for (const std::string& fault : cutFaults(dir, cut.medium, before, after, c, untouched))
            report += "\n  cut after " + std::to_string(k) + " of " + std::to_string(whole.blocks) + " blocks: " + fault;
    }
    EXPECT_TRUE(report.empty()) << report;
}

std::vector<std::string> numberedLines(const std::string& head, int count, const std::string& tail) {
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) lines.push_back(head + std::to_string(1000 + i) + tail);
    return lines;
}

bool splits(Shape a, Shape b) { return b.used == a.used + 1 && b.depth == a.depth; }
bool addsLevel(Shape a, Shape b) { return b.depth > a.depth; }
bool grows(Shape a, Shape b) { return b.total > a.total; }

TEST(Cut, SplitsNewLevelsAndAGrowingCatalog) {
    const std::vector<std::string> folders = numberedLines("MD \"Folder ", 120, " with a long name\"");
    for (const Picked& p : pickCommits("basic.hfs", folders, {{"splitting a leaf", splits}, {"adding a level", addsLevel}},
                                       fixtureMedium("basic.hfs")))
        cutEverywhere({p.label, p.medium, p.line, {":Puzzle", ":Docs:Manual"}});
    // Its three extents are full: the catalog grows into an extent the overflow tree records. The
    // volume is full, and has no room for the copy of the catalog that a commit writes beside
    // it: even a delete is refused, and says why. hfsutils makes room.
    const Medium full = fixtureMedium("catalog-overflow.hfs");
    const auto refused = runLines(full, {"CD Filler", "DEL F0*"});
    EXPECT_TRUE(refused.medium == full);
    EXPECT_EQ(refused.said, std::vector<std::string>{"There is no room on the volume for the new copy of its catalog that a change "
                                                     "writes beside the old one; the volume is not changed."});
    TempDir dir;
    const std::string roomy = dir.file("roomy.hfs");
    writeImage(roomy, full);
    ASSERT_TRUE(hfsutilsChange(roomy, {{"hdel", ":Filler:F0*"}}));
    const std::string roomyBytes = slurp(roomy);
    for (const Picked& p : pickCommits("catalog-overflow.hfs", folders, {{"growing the catalog", grows}},
                                       Medium(roomyBytes.begin(), roomyBytes.end())))
        cutEverywhere({p.label, p.medium, p.line, {":Filler:F110", ":Filler:F150"}});
}

// A catalog of 15,000 files whose node map goes on in map nodes. The first change grows the
// catalog, for room to write its copy, past what its map nodes cover; hfsutils reads the old tree
// only while the link to the new map node names a node its header counts, and the new tree only
// once that link is there. The commit writes the whole tree: its last blocks are the map nodes,
// the link, the switch and what follows it; those before go to nodes no reader reaches.
TEST(Cut, ACatalogGrowingPastItsMapNodes) {
    const std::vector<std::string> lines{"MD \"First\""};
    for (const Picked& p : pickCommits("crowded.hfs", lines, {{"growing past its map nodes", grows}}, fixtureMedium("crowded.hfs"))) {
        CutCase c{p.label, p.medium, p.line, {":f1", ":f15000"}};
        c.head = 4;
        c.tail = 16;
        c.spread = 2;
        cutEverywhere(c);
    }
}

TEST(Cut, DeletesRenamesSwapsAndPuts) {
    const Medium basic = fixtureMedium("basic.hfs");
    // A file put: its bytes go to blocks free on the medium before the commit, so a cut among
    // them leaves the volume as it was.
    TempDir pc;
    std::string bytes(40000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 / 5);
    std::ofstream(pc.file("Put here.txt"), std::ios::binary) << bytes;
    cutEverywhere({"fragmented.hfs, a file put", fixtureMedium("fragmented.hfs"), "PUT \"" + pc.file("Put here.txt") + "\"",
                   {":Scattered Resource", ":Filler:F001"}});
    cutEverywhere({"fragmented.hfs, overflow extents freed", fixtureMedium("fragmented.hfs"), "DEL \"Scattered Data\"",
                   {":Scattered Resource", ":Filler:F001"}});
    cutEverywhere({"basic.hfs, a folder with files", basic, "RD Docs", {":Puzzle", ":Big Forks"}});
    cutEverywhere({"basic.hfs, a folder's thread", basic, "REN Docs \"Papers and more\"", {":Puzzle", ":Read Me"}});
    cutEverywhere({"basic.hfs, both forks", basic, "SWAP \"Big Forks\"", {":Puzzle", ":Docs:Manual"}});
}

}  // namespace
}  // namespace quarry::test

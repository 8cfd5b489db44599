// Every folder of volumes made by hfsutils and genisoimage, walked by hls once and compared with
// what Quarry makes of it: the list (names, kinds, types and creators, size texts, valences,
// dates), the entries behind it (lookup keys, parents, Finder flags, lookups by name and by ID)
// and the test builder's own reading of the catalog; quarry-cli --json, each digest as
// sha256sum computes it from hcopy's bytes; and --dfxml, well-formed by xmllint, its byte runs
// pointing at the forks' bytes in the image.

#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <openssl/evp.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <tuple>

#include "app/navigation.h"
#include "common/charset.h"
#include "support/cli_run.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using nlohmann::json;
using test::MountedImage;
using test::OracleEntry;
using test::trim;

// The size text the list shows for a fork, computed here from the oracle's byte count.
std::string expectedSize(uint32_t bytes) { return bytes <= 9'999'999 ? std::to_string(bytes) : std::to_string(bytes / 1024) + "k"; }

// A date as the program shows it, against what hls showed: the day and month, and the year (of
// which the list shows the last two digits) or the time. `format` reads the text's fields in the
// order `order` names them: d(ay), m(onth), y(ear), Y(ears since 1900), h(our), M(inute).
void expectDate(const std::string& text, const char* format, std::string_view order, const test::HlsDate& hls, const char* what) {
    SCOPED_TRACE(std::string(what) + " " + text + ", hls: " + hls.text);
    int field[5] = {};
    ASSERT_EQ(std::sscanf(text.c_str(), format, &field[0], &field[1], &field[2], &field[3], &field[4]), 5);
    std::map<char, int> shown;
    for (size_t i = 0; i < order.size(); ++i) shown[order[i]] = field[i];
    const int year = shown.count('Y') ? shown['Y'] + 1900 : shown['y'];
    EXPECT_EQ(std::tuple(shown['d'], shown['m']), std::tuple(hls.day, hls.month));
    if (hls.year >= 0) {
        EXPECT_EQ(year, year < 100 ? hls.year % 100 : hls.year);
    }
    if (hls.hour >= 0) {
        EXPECT_EQ(std::tuple(shown['h'], shown['M']), std::tuple(hls.hour, hls.minute));
    }
}

// An entry as hls listed it, with its path as the program shows it (names joined with ":") and
// the raw Macintosh path hfsutils takes.
struct Seen {
    std::string path, hfsPath;
    OracleEntry entry;
};

struct Walk {
    MountedImage& m;
    const std::string& image;
    const test::HfsImage* builder;  // none where the catalog goes on past the MDB's extents
    bool copies;                    // whether the files are also copied and compared with hcopy
    std::map<uint32_t, Seen> seen = {};  // every entry hls listed, by catalog ID
    std::vector<std::string> cd = {};  // the CD lines from the root to the folder being walked
    int folders = 0, files = 0, dated = 0;
};

// The entries of the current folder through the seam, each also found again by its name typed
// (either case; "*" alone finds the first entry; a name holding "*" is reached from the list
// only) and, of its own kind only, by its key exactly.
void compareEntries(MountedVolume& volume, uint32_t folderID, std::map<uint32_t, OracleEntry>& theirs) {
    std::vector<VolumeEntry> entries;
    ASSERT_TRUE(volume.visitFolder(folderID, [&](const VolumeEntry& e) {
        entries.push_back(e);
        return true;
    }));
    ASSERT_EQ(entries.size(), theirs.size());
    EXPECT_EQ(volume.findEntry(folderID, "*", NameMatch::Pattern).value_or(VolumeEntry{}).id, entries.empty() ? 0 : entries[0].id);
    EXPECT_FALSE(volume.findEntry(folderID, "*", NameMatch::Exact));
    for (const VolumeEntry& e : entries) {
        SCOPED_TRACE("entry " + e.macName);
        ASSERT_EQ(theirs.count(e.id), 1u);
        const OracleEntry& o = theirs[e.id];
        EXPECT_EQ(e.key, o.name);
        EXPECT_EQ(e.parentID, folderID);
        EXPECT_EQ((e.finderFlags() & 0x4000) != 0, o.invisible);
        if (!o.isFolder) {
            EXPECT_EQ(e.locked, o.locked);
        }
        if (e.macName.find('*') == std::string::npos) {
            std::string upper = e.macName;
            for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            EXPECT_EQ(volume.findEntry(folderID, upper, NameMatch::Pattern).value_or(VolumeEntry{}).id, e.id) << upper;
        }
        EXPECT_EQ(volume.findEntry(folderID, e.key, NameMatch::Exact, e.kind).value_or(VolumeEntry{}).id, e.id);
        EXPECT_FALSE(volume.findEntry(folderID, e.key, NameMatch::Exact, e.isFolder() ? EntryKind::File : EntryKind::Folder));
        if (o.isFolder) {
            const std::optional<VolumeEntry> again = volume.folderOfId(e.id);
            EXPECT_EQ(again.value_or(VolumeEntry{}).key, e.key);
            EXPECT_EQ(again.value_or(VolumeEntry{}).parentID, folderID);
        }
    }
}

// The builder's records of the folder: names, IDs, valences, fork lengths and types as hls has
// them; and their catalog order, which the list keeps even where the folder spans many leaves.
void compareRecords(const test::HfsImage& image, uint32_t folderID, const FileList& list, std::map<uint32_t, OracleEntry>& theirs) {
    const std::vector<test::CatalogRecord> records = image.children(folderID);
    ASSERT_EQ(records.size(), theirs.size());
    ASSERT_EQ(list.entryCount, records.size());
    for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(list.entries[i].name(), records[i].name) << "list entry " << i;
    for (const test::CatalogRecord& r : records) {
        SCOPED_TRACE("builder's record " + r.name);
        ASSERT_EQ(theirs.count(r.id), 1u);
        const OracleEntry& o = theirs[r.id];
        EXPECT_EQ(r.name, o.name);
        ASSERT_EQ(r.type == test::catrec::kFolder, o.isFolder);
        if (o.isFolder) {
            EXPECT_EQ(image.recordData16(r, test::catfolder::kValence), o.valence);
        } else {
            EXPECT_EQ(image.recordData32(r, test::catfile::kDataLogicalLength), o.dataSize);
            EXPECT_EQ(image.recordData32(r, test::catfile::kRsrcLogicalLength), o.rsrcSize);
            EXPECT_EQ(image.recordData32(r, test::catfile::kFinderType), test::be32(o.type, 0));
            EXPECT_EQ(image.recordData32(r, test::catfile::kFinderType + 4), test::be32(o.creator, 0));
        }
    }
}

// The labels of the two attribute sheets, in the dialogs' order: "File Attributes", then
// "Advanced".
const std::vector<std::string> kSheetLabels = {"Name", "Creator", "Filetype", "Creation Date", "Last Mod. Date", "Data fork",
                                               "Resource fork", "Filename", "File #", "Data extents", "Ressource extents"};

// The ATTRIB sheets of quarry-cli's output, one label-to-value map per file. Fails the test when
// the lines do not come in whole sheets with the labels in order.
std::vector<std::map<std::string, std::string>> attributeSheets(const std::string& out) {
    const auto all = test::outputLines(out);
    EXPECT_EQ(all.size() % kSheetLabels.size(), 0u) << out;
    std::vector<std::map<std::string, std::string>> sheets;
    for (size_t i = 0; i + kSheetLabels.size() <= all.size(); i += kSheetLabels.size()) {
        std::map<std::string, std::string>& sheet = sheets.emplace_back();
        for (size_t j = 0; j < kSheetLabels.size(); ++j) {
            const auto f = test::tabFields(all[i + j]);
            EXPECT_EQ(f.size(), 2u) << all[i + j];
            EXPECT_EQ(f[0], kSheetLabels[j]);
            sheet[f[0]] = f.size() > 1 ? f[1] : "";
        }
    }
    return sheets;
}

// The dates the fixture script wrote, whole, where hls shows only a year or a time: day, month,
// years since 1900, hour, minute.
const std::map<std::string, std::pair<std::string, std::string>> kFixedDates = {
    {"Big Forks", {"4 3 101 5 6", "4 3 101 6 7"}},     {"Puzzle", {"17 5 92 9 30", "2 11 93 14 45"}},
    {"Old Timer", {"20 7 65 12 0", "31 12 69 23 59"}}, {"Resource Only", {"3 2 98 4 5", "3 2 98 4 5"}},
    {"Tool", {"9 8 96 10 11", "2 1 97 3 4"}}};

// Only the three extents of the catalog record, as the dialog shows them, in sectors.
std::string extentsText(const std::vector<test::Extent>& extents, uint32_t sectorsPerBlock) {
    std::string out;
    for (size_t i = 0; i < 3; ++i) {
        const test::Extent e = i < extents.size() ? extents[i] : test::Extent{};
        out += (i > 0 ? ", " : "") + std::to_string(e.startBlock * sectorsPerBlock) + "/" + std::to_string(e.blockCount * sectorsPerBlock);
    }
    return out;
}

// The folder's files through quarry-cli: both attribute sheets of each, as hls and the builder
// see it; and its data and resource forks copied, byte for byte as hcopy extracts them (an
// empty fork is reported and not copied).
void compareSheetsAndCopies(Walk& w, const std::string& hfsPath, const std::vector<OracleEntry>& theirs) {
    std::vector<std::string> args = {w.image};
    args.insert(args.end(), w.cd.begin(), w.cd.end());
    std::vector<OracleEntry> files;
    // hfsutils cannot address a name with a colon; --json and --dfxml describe that file.
    for (const OracleEntry& o : theirs)
        if (!o.isFolder && o.name.find(':') == std::string::npos) files.push_back(o), args.push_back("ATTRIB \"" + macNameToUtf8(o.name) + "\"");
    if (files.empty()) return;
    const auto r = test::runCli(args);
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_EQ(r.err, "");
    const auto sheets = attributeSheets(r.out);
    ASSERT_EQ(sheets.size(), files.size()) << r.out;
    const uint32_t sectorsPerBlock = w.builder ? w.builder->mdb32(test::mdb::kDrAlBlkSiz) / 512 : 0;
    for (size_t i = 0; i < files.size(); ++i) {
        const OracleEntry& o = files[i];
        std::map<std::string, std::string> sheet = sheets[i];
        SCOPED_TRACE("sheet of " + macNameToUtf8(o.name));
        EXPECT_EQ(sheet["Name"], macNameToUtf8(o.name));
        EXPECT_EQ(sheet["Filename"], sheet["Name"]);
        EXPECT_EQ(sheet["Creator"], o.creator);
        EXPECT_EQ(sheet["Filetype"], o.type);
        EXPECT_EQ(sheet["Data fork"], std::to_string(o.dataSize));
        EXPECT_EQ(sheet["Resource fork"], std::to_string(o.rsrcSize));
        expectDate(sheet["Creation Date"], "%d %d %d %d %d", "dmYhM", o.created, "created");
        expectDate(sheet["Last Mod. Date"], "%d %d %d %d %d", "dmYhM", o.modified, "modified");
        if (const auto d = kFixedDates.find(o.name); d != kFixedDates.end()) {
            EXPECT_EQ(std::pair(sheet["Creation Date"], sheet["Last Mod. Date"]), d->second);
            ++w.dated;
        }
        EXPECT_EQ(sheet["File #"], std::to_string(o.catalogId));
        if (!w.builder) continue;
        const test::CatalogRecord rec = w.builder->lookup((hfsPath == ":" ? "" : hfsPath) + ":" + o.name);
        EXPECT_EQ(sheet["Data extents"], extentsText(w.builder->forkExtents(rec, test::Fork::Data), sectorsPerBlock));
        EXPECT_EQ(sheet["Ressource extents"], extentsText(w.builder->forkExtents(rec, test::Fork::Resource), sectorsPerBlock));
    }

    if (!w.copies) return;
    for (const char* fork : {"/D", "/R"}) {
        test::TempDir target;
        args = {"--to", target.path(), w.image};
        args.insert(args.end(), w.cd.begin(), w.cd.end());
        args.push_back(std::string("COPY ") + fork + " /F *");
        const auto copy = test::runCli(args);
        ASSERT_TRUE(copy.succeeded()) << copy.err;
        const std::map<std::string, std::string> pcName = test::copiesReported(copy.out);
        for (const OracleEntry& o : files) {
            const std::string path = (hfsPath == ":" ? "" : hfsPath) + ":" + o.name;
            const std::string expected = fork == std::string("/D") ? test::hcopyData(w.image, path) : test::hcopyResource(w.image, path);
            const auto it = pcName.find(trim(macNameToUtf8(o.name)));
            EXPECT_EQ(it == pcName.end(), expected.empty()) << fork << " " << path << "\n" << copy.out;
            if (it != pcName.end()) {
                EXPECT_TRUE(test::slurp(target.file(it->second)) == expected) << fork << " " << path;
            }
        }
    }
}

void compareFolder(Walk& w, const std::string& hfsPath, const std::string& shown) {
    SCOPED_TRACE("folder " + hfsPath);
    const FileList& list = w.m.list();
    std::map<std::string, const ListEntry*> ours;
    for (uint16_t i = 0; i < list.entryCount; ++i) ours[list.entries[i].name()] = &list.entries[i];

    const std::vector<OracleEntry> theirs = test::hlsList(w.image, hfsPath);
    std::map<uint32_t, OracleEntry> byId;
    for (const OracleEntry& o : theirs) {
        byId[o.catalogId] = o;
        w.seen[o.catalogId] = {shown + (shown.empty() ? "" : ":") + macNameToUtf8(o.name), (hfsPath == ":" ? "" : hfsPath) + ":" + o.name, o};
    }
    compareEntries(*w.m.session.mounted, w.m.session.dir.currentDirID, byId);
    if (w.builder) compareRecords(*w.builder, w.m.session.dir.currentDirID, list, byId);
    compareSheetsAndCopies(w, hfsPath, theirs);
    ASSERT_EQ(ours.size(), theirs.size());
    std::vector<std::string> subfolders;
    for (const OracleEntry& o : theirs) {
        SCOPED_TRACE("entry " + o.name);
        auto it = ours.find(o.name);
        ASSERT_NE(it, ours.end()) << "missing from our list";
        const ListEntry& e = *it->second;
        EXPECT_EQ(e.isFolder(), o.isFolder);
        if (o.isFolder) {
            ++w.folders;
            EXPECT_EQ(trim(e.dataSizeText()), "<DIR>");
            EXPECT_EQ(trim(e.rsrcSizeText()), "");
            EXPECT_EQ(trim(e.signatureText()), "[" + std::to_string(o.valence) + "]");
            subfolders.push_back(o.name);
        } else {
            ++w.files;
            EXPECT_EQ(trim(e.dataSizeText()), expectedSize(o.dataSize));
            EXPECT_EQ(trim(e.rsrcSizeText()), expectedSize(o.rsrcSize));
            EXPECT_EQ(std::string(e.signatureText()), o.type + o.creator);
        }
        expectDate(std::string(e.modifiedText()), "%d/%d/%d %d:%d", "mdyhM", o.modified, "modified");
        expectDate(std::string(e.createdText()), "%d/%d/%d %d:%d", "mdyhM", o.created, "created");
    }
    for (const std::string& name : subfolders) {
        ASSERT_TRUE(enterDirectory(w.m.session, name, NameMatch::Exact)) << name;
        EXPECT_EQ(w.m.session.dir.currentName, name);
        w.cd.push_back("CD \"" + macNameToUtf8(name) + "\"");
        compareFolder(w, (hfsPath == ":" ? "" : hfsPath) + ":" + name, w.seen[w.m.session.dir.currentDirID].path);
        w.cd.pop_back();
        ASSERT_TRUE(changeToParent(w.m.session));
    }
}

std::vector<json> jsonLines(const std::string& text) {
    std::vector<json> out;
    for (const std::string& line : test::outputLines(text)) out.push_back(json::parse(line));
    return out;
}

// sha256sum's digest of the bytes.
std::string sha256sum(const test::TempDir& dir, const std::string& bytes) {
    const std::string path = dir.file("fork");
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const test::ProcessResult r = test::runProcess({"sha256sum", path});
    EXPECT_TRUE(r.succeeded()) << r.err;
    return r.out.substr(0, 64);
}

std::string joined(const json& path, const char* separator) {
    std::string out;
    for (const auto& name : path) out += (out.empty() ? "" : separator) + name.get<std::string>();
    return out;
}

std::string sha256(const std::string& bytes) {
    unsigned char sum[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), sum, &length, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) hex += {"0123456789abcdef"[sum[i] >> 4], "0123456789abcdef"[sum[i] & 15]};
    return hex;
}

// A string libxml2 hands over, taken into a std::string and freed.
std::string taken(xmlChar* v) {
    std::string out = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    return out;
}
std::string attribute(xmlNode* n, const char* name) { return taken(xmlGetProp(n, reinterpret_cast<const xmlChar*>(name))); }
std::string text(xmlNode* n) { return taken(xmlNodeGetContent(n)); }
std::vector<xmlNode*> children(xmlNode* n, const char* name) {
    std::vector<xmlNode*> out;
    for (xmlNode* c = n ? n->children : nullptr; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE && std::string(reinterpret_cast<const char*>(c->name)) == name) out.push_back(c);
    return out;
}

// The DFXML report of `image`, whose medium is the file `medium` (the image itself, or the volume
// inside a container), is well-formed (xmllint), has one fileobject per entry of the JSON lines,
// and for every fork the medium's bytes at its byte runs have the fork's length and digest; the
// digests are the JSON's, which the test below checks against hcopy.
void checkDfxml(const std::string& image, const std::string& medium, const std::string& container, const std::vector<json>& lines) {
    test::TempDir dir;
    const std::string report = dir.file("report.xml");
    const test::ProcessResult r = test::runCli({"--dfxml", report, image});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const test::ProcessResult lint = test::runProcess({"xmllint", "--noout", report});
    EXPECT_TRUE(lint.succeeded()) << lint.err;

    std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> doc(xmlReadFile(report.c_str(), nullptr, XML_PARSE_NONET), xmlFreeDoc);
    ASSERT_TRUE(doc);
    xmlNode* root = xmlDocGetRootElement(doc.get());
    const std::vector<xmlNode*> sources = children(root, "source");
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_EQ(text(children(sources[0], "image_filename").at(0)), image);
    EXPECT_EQ(children(sources[0], "container").empty() ? "" : text(children(sources[0], "container")[0]), container);
    const std::vector<xmlNode*> volumes = children(root, "volume");
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(text(children(volumes[0], "volume_name").at(0)), test::hmountVolumeName(medium));
    const std::vector<xmlNode*> objects = children(volumes[0], "fileobject");
    ASSERT_EQ(objects.size(), lines.size());

    const std::string bytesOfMedium = test::slurp(medium);
    for (size_t i = 0; i < objects.size(); ++i) {
        const json& o = lines[i];
        SCOPED_TRACE(joined(o["path"], "/"));
        EXPECT_EQ(text(children(objects[i], "filename").at(0)), joined(o["path"], "/"));
        EXPECT_EQ(text(children(objects[i], "inode").at(0)), std::to_string(o["id"].get<uint32_t>()));
        EXPECT_EQ(text(children(objects[i], "name_type").at(0)), o["kind"] == "folder" ? "d" : "r");
        EXPECT_EQ(text(children(objects[i], "mtime").at(0)), o["modified"]);
        if (o["kind"] == "folder") continue;
        EXPECT_EQ(text(children(objects[i], "filesize").at(0)), std::to_string(o["data"].get<uint32_t>()));
        const std::vector<xmlNode*> runs = children(objects[i], "byte_runs");
        ASSERT_EQ(runs.size(), 2u);
        for (xmlNode* fork : runs) {
            const bool rsrc = attribute(fork, "facet") == "resource";
            std::string bytes;
            for (xmlNode* run : children(fork, "byte_run")) {
                EXPECT_EQ(std::stoull(attribute(run, "file_offset")), bytes.size());
                bytes += bytesOfMedium.substr(std::stoull(attribute(run, "img_offset")), std::stoull(attribute(run, "len")));
            }
            EXPECT_EQ(bytes.size(), o[rsrc ? "rsrc" : "data"].get<uint32_t>());
            const std::vector<xmlNode*> digest = children(rsrc ? fork : objects[i], "hashdigest");
            ASSERT_EQ(digest.size(), 1u);
            EXPECT_EQ(attribute(digest[0], "type"), "sha256");
            EXPECT_EQ(text(digest[0]), sha256(bytes));
            EXPECT_EQ(text(digest[0]), o[rsrc ? "sha256_rsrc" : "sha256_data"]);
        }
    }
}

class VolumeListing : public ::testing::TestWithParam<const char*> {};

TEST_P(VolumeListing, MatchesHlsAndHcopyInListJsonAndDfxml) {
    const std::string image = test::fixturePath(GetParam());
    MountedImage m(image);
    EXPECT_EQ(m.session.volume.volumeName(), test::hmountVolumeName(image));
    EXPECT_EQ(m.session.mounted->figures().macName, test::hmountVolumeName(image));
    test::Bytes bytes = test::readFile(image);
    // genisoimage's HFS partition begins at sector 16; hfsutils' catalog-overflow.hfs has a
    // catalog the builder does not follow into the extents tree.
    const test::HfsImage builder(bytes, image.ends_with(".iso") ? 16 * 512 : 0);
    // Copies are compared with hcopy's bytes on the volumes of odd forks: every file of the big
    // volumes would be an hcopy each.
    const std::string name = GetParam();
    Walk w{m, image, name == "catalog-overflow.hfs" ? nullptr : &builder,
           name == "basic.hfs" || name == "fragmented.hfs" || name == "hybrid.iso" || name == "short-threads.hfs"};
    compareFolder(w, ":", "");
    EXPECT_GT(w.files + w.folders, 1);
    EXPECT_EQ(w.dated, name == "basic.hfs" || name == "short-threads.hfs" ? 4 : name == "hybrid.iso" ? 1 : 0);
    EXPECT_TRUE(m.session.volume.catalog.fault.empty()) << m.session.volume.catalog.fault;
    EXPECT_EQ(m.session.dir.currentDirID, kRootDirId);
    EXPECT_EQ(m.session.dir.currentName, "Root  ");

    const test::ProcessResult r = test::runCli({"--json", "--hash", image});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<json> ours = jsonLines(r.out);
    ASSERT_EQ(ours.size(), w.seen.size());
    test::TempDir dir;
    // Each hcopy mounts a copy of the image: the digests are checked for the first files and
    // for every fork larger than the 4 KB fillers of the big volumes.
    int digestsChecked = 0;
    std::set<json> folders = {json::array()};
    for (const json& o : ours) {
        const std::string path = joined(o["path"], ":");
        SCOPED_TRACE("--json " + path);
        // Folders come before their contents.
        json parent = o["path"];
        parent.erase(parent.size() - 1);
        EXPECT_TRUE(folders.count(parent));
        const auto it = w.seen.find(o["id"].get<uint32_t>());
        ASSERT_NE(it, w.seen.end());
        const OracleEntry& e = it->second.entry;
        EXPECT_EQ(path, it->second.path);
        EXPECT_EQ(o["kind"], e.isFolder ? "folder" : "file");
        expectDate(o["created"], "%d-%d-%dT%d:%d", "ymdhM", e.created, "created");
        expectDate(o["modified"], "%d-%d-%dT%d:%d", "ymdhM", e.modified, "modified");
        if (e.isFolder) {
            folders.insert(o["path"]);
            EXPECT_EQ(o["items"], e.valence);
            continue;
        }
        EXPECT_EQ(o["data"], e.dataSize);
        EXPECT_EQ(o["rsrc"], e.rsrcSize);
        EXPECT_EQ(o["type"], macNameToUtf8(e.type));
        EXPECT_EQ(o["creator"], macNameToUtf8(e.creator));
        EXPECT_EQ((o["flags"].get<int>() & 0x4000) != 0, e.invisible);
        // hfsutils cannot address a name with a colon; the DFXML check reads that fork through its runs.
        if (e.name.find(':') != std::string::npos || (++digestsChecked > 25 && e.dataSize + e.rsrcSize <= 4096)) continue;
        EXPECT_EQ(o["sha256_data"], sha256sum(dir, test::hcopyData(image, it->second.hfsPath))) << "data";
        EXPECT_EQ(o["sha256_rsrc"], sha256sum(dir, test::hcopyResource(image, it->second.hfsPath))) << "resource";
    }
    checkDfxml(image, image, "", ours);
}

// In a container the runs lie in the medium inside it, and the source says so.
TEST(VolumeReportOfAContainer, DfxmlRunsLieInTheImageInside) {
    const std::string image = test::fixturePath("containers/basic.dc42");
    checkDfxml(image, test::fixturePath("basic.hfs"), "DiskCopy 4.2", jsonLines(test::runCli({"--json", "--hash", image}).out));
}

TEST(AttributeSheets, FindTheFileAsTypedAndNameWhatIsNotThere) {
    const std::string image = test::fixturePath("basic.hfs");
    const auto r = test::runCli({image, "ATTRIB e*", "a puzzle", "ATTRIB *", "ATTRIB Docs", "ATTRIB \"No Such File\"",
                           "ATTRIB", "CD Docs", "ATTRIB read*", "ATTRIB Puzzle"});
    // A name that is not there, a folder and a missing name are said, and the run goes on.
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_EQ(r.err,
              "Quarry - : No such file: Docs\n"
              "Quarry - : No such file: No Such File\n"
              "Quarry - : usage: ATTRIB name\n"
              "Quarry - : No such file: Puzzle\n");
    const auto sheets = attributeSheets(r.out);
    ASSERT_EQ(sheets.size(), 4u) << r.out;
    // "e*" is the first file in catalog order whose name begins with e (Either/Or, before Empty
    // File); the case of a typed name does not matter; "*" is the first file of the folder.
    auto idOf = [&](const char* path) {
        const auto o = test::hlsList(image, path);
        return o.size() == 1 ? std::to_string(o.front().catalogId) : std::string("?");
    };
    EXPECT_EQ(sheets[0].at("Name"), "Either/Or");
    EXPECT_EQ(sheets[0].at("File #"), idOf(":Either/Or"));
    EXPECT_EQ(sheets[1].at("Name"), "Puzzle");
    EXPECT_EQ(sheets[2].at("Name"), "aardvark");
    // In Docs, "read*" is Docs' own Read Me, not the root's.
    EXPECT_EQ(sheets[3].at("Name"), "Read Me");
    EXPECT_EQ(sheets[3].at("File #"), idOf(":Docs:Read Me"));
    EXPECT_NE(sheets[3].at("File #"), idOf(":Read Me"));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, VolumeListing,
                         ::testing::Values("basic.hfs", "many.hfs", "fragmented.hfs", "catalog-overflow.hfs", "hybrid.iso",
                                           "names-4.hfs", "short-threads.hfs", "formats.hfs"),
                         test::FixtureParamName());

}  // namespace
}  // namespace quarry

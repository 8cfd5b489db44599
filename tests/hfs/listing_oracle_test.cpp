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
#include <sstream>
#include <string>

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

// One date field ("mm/dd/yy hh:mm") against what hls showed: the day, and the time or the year.
void expectDate(std::string_view text, const test::HlsDate& hls, const char* what) {
    std::string shown(text);
    char theirs[32];
    if (hls.year >= 0) {
        std::snprintf(theirs, sizeof theirs, "%02d/%02d/%02d ??:??", hls.month, hls.day, hls.year % 100);
        if (shown.size() == 14) shown.replace(9, 5, "??:??");
    } else {
        std::snprintf(theirs, sizeof theirs, "%02d/%02d/?? %02d:%02d", hls.month, hls.day, hls.hour, hls.minute);
        if (shown.size() == 14) shown.replace(6, 2, "??");
    }
    EXPECT_EQ(shown, theirs) << what << ", hls: " << hls.text;
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
    std::map<uint32_t, Seen> seen;  // every entry hls listed, by catalog ID
    int folders = 0, files = 0;
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

// The builder's records of the folder: names, IDs, valences, fork lengths and types as hls has them.
void compareRecords(const test::HfsImage& image, uint32_t folderID, std::map<uint32_t, OracleEntry>& theirs) {
    const std::vector<test::CatalogRecord> records = image.children(folderID);
    ASSERT_EQ(records.size(), theirs.size());
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
    if (w.builder) compareRecords(*w.builder, w.m.session.dir.currentDirID, byId);
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
        expectDate(e.modifiedText(), o.modified, "modified");
        expectDate(e.createdText(), o.created, "created");
    }
    for (const std::string& name : subfolders) {
        ASSERT_TRUE(enterDirectory(w.m.session, name, NameMatch::Exact)) << name;
        EXPECT_EQ(w.m.session.dir.currentName, name);
        compareFolder(w, (hfsPath == ":" ? "" : hfsPath) + ":" + name, w.seen[w.m.session.dir.currentDirID].path);
        ASSERT_TRUE(changeToParent(w.m.session));
    }
}

std::vector<json> jsonLines(const std::string& text) {
    std::vector<json> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(json::parse(line));
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

// "1995-04-06T16:18:00" against what hls showed: the day, and the time or the year.
void expectIsoDate(const std::string& iso, const test::HlsDate& hls, const char* what) {
    ASSERT_EQ(iso.size(), 19u) << iso;
    EXPECT_EQ(std::stoi(iso.substr(5, 2)), hls.month) << what << " " << iso << ", hls: " << hls.text;
    EXPECT_EQ(std::stoi(iso.substr(8, 2)), hls.day) << what << " " << iso << ", hls: " << hls.text;
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d", hls.hour, hls.minute);
    if (hls.year >= 0) {
        EXPECT_EQ(std::stoi(iso.substr(0, 4)), hls.year) << what << " " << iso;
    }
    if (hls.hour >= 0) {
        EXPECT_EQ(iso.substr(11, 5), time) << what << " " << iso;
    }
}

std::string sha256(const std::string& bytes) {
    unsigned char sum[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), sum, &length, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        static constexpr char kHex[] = "0123456789abcdef";
        hex += kHex[sum[i] >> 4];
        hex += kHex[sum[i] & 15];
    }
    return hex;
}

std::string attribute(xmlNode* n, const char* name) {
    xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
    std::string out = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    return out;
}
std::string text(xmlNode* n) {
    xmlChar* v = xmlNodeGetContent(n);
    std::string out = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    return out;
}
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
    Walk w{m, image, std::string(GetParam()) == "catalog-overflow.hfs" ? nullptr : &builder};
    compareFolder(w, ":", "");
    EXPECT_GT(w.files + w.folders, 1);
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
        expectIsoDate(o["created"], e.created, "created");
        expectIsoDate(o["modified"], e.modified, "modified");
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

INSTANTIATE_TEST_SUITE_P(Fixtures, VolumeListing,
                         ::testing::Values("basic.hfs", "many.hfs", "fragmented.hfs", "catalog-overflow.hfs", "hybrid.iso",
                                           "names-4.hfs", "short-threads.hfs", "formats.hfs"),
                         test::FixtureParamName());

}  // namespace
}  // namespace quarry

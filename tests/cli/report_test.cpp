// quarry-cli --json and --dfxml: every entry of every fixture volume as hfsutils sees it, each
// digest as sha256sum computes it from hcopy's bytes, each DFXML file well-formed by xmllint and
// its byte runs pointing at the fork's bytes in the image.

#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <openssl/evp.h>

#include <fstream>
#include <map>
#include <set>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/charset.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using nlohmann::json;

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

struct Seen {
    std::string path;     // names joined with ":" as the program shows them
    std::string hfsPath;  // the raw Macintosh path that hfsutils takes
    test::OracleEntry entry;
};

// Every entry below folder `hfsPath` as hls -l -i lists it, by catalog ID.
void hlsWalk(const std::string& image, const std::string& hfsPath, const std::string& shown, std::map<uint32_t, Seen>& out) {
    for (const test::OracleEntry& e : test::hlsList(image, hfsPath)) {
        const std::string path = shown + (shown.empty() ? "" : ":") + macNameToUtf8(e.name);
        const std::string inside = (hfsPath == ":" ? "" : hfsPath) + ":" + e.name;
        out[e.catalogId] = {path, inside, e};
        if (e.isFolder) hlsWalk(image, inside, path, out);
    }
}

std::string joined(const json& path, const char* separator) {
    std::string out;
    for (const auto& name : path) out += (out.empty() ? "" : separator) + name.get<std::string>();
    return out;
}

// "1995-04-06T16:18:00" against what hls showed: the day, and the time or the year.
void expectDate(const std::string& iso, const test::HlsDate& hls, const char* what) {
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

class VolumeReport : public ::testing::TestWithParam<const char*> {};

TEST_P(VolumeReport, JsonDescribesEveryEntryAsHfsutilsSeesIt) {
    const std::string image = test::fixturePath(GetParam());
    const test::ProcessResult r = test::runCli({"--json", "--hash", image});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::map<uint32_t, Seen> theirs;
    hlsWalk(image, ":", "", theirs);
    const std::vector<json> ours = jsonLines(r.out);
    ASSERT_EQ(ours.size(), theirs.size());

    test::TempDir dir;
    // Each hcopy mounts a copy of the image: the digests are checked for the first files and
    // for every fork larger than the 4 KB fillers of the big volumes.
    int digestsChecked = 0;
    std::set<json> folders = {json::array()};
    for (const json& o : ours) {
        const std::string path = joined(o["path"], ":");
        SCOPED_TRACE(path);
        // Folders come before their contents.
        json parent = o["path"];
        parent.erase(parent.size() - 1);
        EXPECT_TRUE(folders.count(parent));
        const auto it = theirs.find(o["id"].get<uint32_t>());
        ASSERT_NE(it, theirs.end());
        const test::OracleEntry& e = it->second.entry;
        EXPECT_EQ(path, it->second.path);
        EXPECT_EQ(o["kind"], e.isFolder ? "folder" : "file");
        expectDate(o["created"], e.created, "created");
        expectDate(o["modified"], e.modified, "modified");
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
        // hfsutils cannot address a name with a colon; the DFXML test checks that fork through its runs.
        if (e.name.find(':') != std::string::npos || (++digestsChecked > 25 && e.dataSize + e.rsrcSize <= 4096)) continue;
        EXPECT_EQ(o["sha256_data"], sha256sum(dir, test::hcopyData(image, it->second.hfsPath))) << "data";
        EXPECT_EQ(o["sha256_rsrc"], sha256sum(dir, test::hcopyResource(image, it->second.hfsPath))) << "resource";
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
// digests are the JSON's, which the test above checks against hcopy.
void checkDfxml(const std::string& image, const std::string& medium, const std::string& container) {
    test::TempDir dir;
    const std::string report = dir.file("report.xml");
    const test::ProcessResult r = test::runCli({"--dfxml", report, image});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const test::ProcessResult lint = test::runProcess({"xmllint", "--noout", report});
    EXPECT_TRUE(lint.succeeded()) << lint.err;
    const std::vector<json> lines = jsonLines(test::runCli({"--json", "--hash", image}).out);

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

TEST_P(VolumeReport, DfxmlByteRunsHoldTheForks) { checkDfxml(test::fixturePath(GetParam()), test::fixturePath(GetParam()), ""); }

// In a container the runs lie in the medium inside it, and the source says so.
TEST(VolumeReportOfAContainer, DfxmlRunsLieInTheImageInside) {
    checkDfxml(test::fixturePath("containers/basic.dc42"), test::fixturePath("basic.hfs"), "DiskCopy 4.2");
}

// Damage is said on standard error and makes the status 1; what is readable is still listed.
TEST(VolumeReportOfADamagedVolume, ListsWhatIsReadable) {
    test::TempDir dir;
    const std::string image =
        test::bentFixture(dir, "basic.hfs", [](test::Bytes& b) { test::writeBe(b, test::HfsImage(b).lookup(":Hidden").dataOffset, 1, 9); });
    const test::ProcessResult r = test::runCli({"--json", image});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("unknown record type 9"), std::string::npos) << r.err;
    const std::vector<json> lines = jsonLines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0]["path"], json::array({"aardvark"}));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, VolumeReport,
                         ::testing::Values("basic.hfs", "many.hfs", "fragmented.hfs", "catalog-overflow.hfs", "hybrid.iso",
                                           "names-4.hfs", "formats.hfs"), test::FixtureParamName());

}  // namespace
}  // namespace quarry

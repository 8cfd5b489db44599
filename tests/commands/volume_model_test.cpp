// Random changes against a model: thousands of folder creations, deletions, renames and fork
// swaps in random folders, with long and odd names, on a copy of a volume made by hfsutils.
// After every commit the folder is listed and compared with the model and the volume is checked;
// at the end hfsutils lists the whole volume and must see exactly the model. One commit in ten is
// also cut at a random block, as a power failure cuts it: the volume read again from the medium
// is the model before that step or after it, and the run goes on from whichever it is.
//
// QUARRY_MODEL_START=n starts the random sequence elsewhere; QUARRY_MODEL_STEPS=n another length.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>

#include "app/navigation.h"
#include "commands/volume_changes.h"
#include "common/charset.h"
#include "hfs/btree.h"
#include "hfs/volume_check.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

namespace quarry::test {
namespace {

struct Node {
    std::string name;  // Macintosh bytes
    bool folder = true;
    uint32_t data = 0, rsrc = 0;
    Node* parent = nullptr;
    std::vector<std::unique_ptr<Node>> children;

    Node* find(std::string_view n) {
        for (auto& c : children)
            if (compareNames(c->name, n) == 0) return c.get();
        return nullptr;
    }
    void sortChildren() {
        std::sort(children.begin(), children.end(), [](const auto& a, const auto& b) { return compareNames(a->name, b->name) < 0; });
    }
    std::string path() const { return parent ? parent->path() + ":" + name : ""; }
    std::unique_ptr<Node> clone(Node* newParent) const {
        auto copy = std::make_unique<Node>(Node{name, folder, data, rsrc, newParent, {}});
        for (const auto& c : children) copy->children.push_back(c->clone(copy.get()));
        return copy;
    }
    void lines(std::vector<std::string>& out) const {
        for (const auto& c : children) {
            out.push_back(c->path() + (c->folder ? "\td " + std::to_string(c->children.size())
                                                 : "\tf " + std::to_string(c->data) + " " + std::to_string(c->rsrc)));
            c->lines(out);
        }
    }
};

// The model of a folder as Quarry lists it: names in catalog order, and what each is.
std::vector<std::string> listing(Node& folder) {
    folder.sortChildren();
    std::vector<std::string> out;
    for (const auto& c : folder.children)
        out.push_back(c->name + (c->folder ? " d" : " f " + std::to_string(c->data) + " " + std::to_string(c->rsrc)));
    return out;
}

std::vector<std::string> listing(Session& session) {
    std::vector<std::string> out;
    EXPECT_TRUE(walkFolder(session.volume, session.dir.currentDirID, [&](const uint8_t* key) {
        const std::string name(reinterpret_cast<const char*>(key + catkey::kName), catalogKeyNameLength(key));
        const uint8_t* data = recordData(key);
        out.push_back(name + (recordType(key) == catrec::kFolder
                                  ? " d"
                                  : " f " + std::to_string(loadBE32(data + catrec::kDataLength)) + " " +
                                        std::to_string(loadBE32(data + catrec::kRsrcLength))));
        return true;
    }));
    return out;
}

void loadModel(Session& session, Node& folder, uint32_t folderID) {
    std::vector<std::pair<std::string, uint32_t>> subfolders;
    walkFolder(session.volume, folderID, [&](const uint8_t* key) {
        auto node = std::make_unique<Node>();
        node->name.assign(reinterpret_cast<const char*>(key + catkey::kName), catalogKeyNameLength(key));
        node->parent = &folder;
        const uint8_t* data = recordData(key);
        node->folder = recordType(key) == catrec::kFolder;
        if (node->folder) subfolders.push_back({node->name, loadBE32(data + catrec::kDirId)});
        else node->data = loadBE32(data + catrec::kDataLength), node->rsrc = loadBE32(data + catrec::kRsrcLength);
        folder.children.push_back(std::move(node));
        return true;
    });
    for (const auto& [name, id] : subfolders) loadModel(session, *folder.find(name), id);
}

// A random name of 1 to 31 characters from `chars`, a quarter of them 31 long. Trailing spaces
// are dropped by the searches, so a name ends in something else.
std::string randomName(std::mt19937& random, const std::string& chars) {
    const auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    std::string name(static_cast<size_t>(below(4) == 0 ? 31 : 1 + below(31)), ' ');
    for (char& c : name) c = chars[static_cast<size_t>(below(static_cast<int>(chars.size())))];
    if (name.back() == ' ') name.back() = 'x';
    return name;
}

// What MakeDirectory makes of a typed name.
std::string folderNameFor(std::string typed) {
    for (size_t i = 1; i < typed.size(); ++i)
        if (typed[i] >= 'A' && typed[i] <= 'Z') typed[i] = static_cast<char>(typed[i] - 'A' + 'a');
    std::string mac = TranslateName(typed, AnsiToMac);
    if (mac.size() > kMaxNameLength) mac.resize(kMaxNameLength);
    return mac.empty() ? "New folder" : mac;
}

// drAtrb's "cleanly unmounted" bit: clear from a commit's first write to its last.
constexpr uint16_t kCleanlyUnmounted = 0x0100;
constexpr size_t kMdbAttributes = 1024 + 10;
const std::string kRepairMessage = "The volume was not closed cleanly; its counts and free space were repaired.";

unsigned long fromEnvironment(const char* name, unsigned long fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::strtoul(v, nullptr, 10) : fallback;
}

TEST(VolumeModel, RandomChangesMatchTheModelAndHfsutils) {
    const unsigned long start = fromEnvironment("QUARRY_MODEL_START", 20261207);
    const unsigned long steps = fromEnvironment("QUARRY_MODEL_STEPS", 2000);
    SCOPED_TRACE("QUARRY_MODEL_START=" + std::to_string(start));
    const std::string fixture = slurp(fixturePath("basic.hfs"));
    auto mounted = std::make_unique<MountedImage>("MODEL", std::vector<uint8_t>(fixture.begin(), fixture.end()));
    ASSERT_EQ(mounted->mountResult, 1);
    mounted->session.listOnScreen = false;
    Node root;
    loadModel(mounted->session, root, kRootDirId);
    Node* here = &root;
    // The volume as a new process finds it on the medium, in the folder the model is in.
    auto remount = [&](const std::vector<uint8_t>& medium) {
        auto m = std::make_unique<MountedImage>("MODEL", medium);
        m->session.listOnScreen = false;
        std::vector<const Node*> path;
        for (const Node* n = here; n->parent; n = n->parent) path.insert(path.begin(), n);
        for (const Node* n : path) EXPECT_TRUE(enterDirectory(m->session, n->name, NameMatch::Exact)) << n->path();
        return m;
    };
    // A commit that a cut left unfinished is repaired at the next one, which says so once.
    bool repairDue = false;
    auto repairsSaid = [&](RecordingUi& ui) {
        size_t said = 0;
        for (auto* texts : {&ui.timedMessages, &ui.messageBoxes}) {
            const auto end = std::remove(texts->begin(), texts->end(), kRepairMessage);
            said += static_cast<size_t>(texts->end() - end);
            texts->erase(end, texts->end());
        }
        return said;
    };

    uint16_t deepest = 0;
    int cutsMade = 0, cutsBefore = 0;
    std::mt19937 random(static_cast<std::mt19937::result_type>(start));
    const auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    // The cuts draw from a generator of their own, so that the changes are those of the same
    // start without cuts.
    std::mt19937 cuts(static_cast<std::mt19937::result_type>(start + 1));
    // Names as a person types them (Windows characters), for new folders, and as the catalog
    // holds them (every Macintosh byte but the colon and DEL), for renames.
    const std::string typedChars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 -_.()!&'*/?[]\xE9\xE8\xFC\xC4\xF1\xDF";
    std::string storedChars;
    for (int c = 0x20; c <= 0xFF; ++c)
        if (c != ':' && c != 0x7F) storedChars += static_cast<char>(c);
    for (unsigned long step = 0; step < steps; ++step) {
        SCOPED_TRACE("step " + std::to_string(step) + " in " + here->path());
        Session* session = &mounted->session;
        auto pick = [&](bool filesOnly) -> Node* {
            std::vector<Node*> candidates;
            for (auto& c : here->children)
                if (!filesOnly || !c->folder) candidates.push_back(c.get());
            return candidates.empty() ? nullptr : candidates[static_cast<size_t>(below(static_cast<int>(candidates.size())))];
        };
        const int op = below(100);
        std::string what;
        // The change, run on a session; what it does to the model; the timed messages it gives.
        std::function<bool(MountedImage&)> change;
        std::function<void()> apply;
        size_t complaints = 0;
        if (op < 12) {
            Node* folder = pick(false);
            if (below(3) == 0 && here->parent) {
                ASSERT_TRUE(changeToParent(*session));
                here = here->parent;
            } else if (folder && folder->folder && here->path().size() < 200) {
                ASSERT_TRUE(enterDirectory(*session, folder->name, NameMatch::Exact));
                here = folder;
            }
            ASSERT_EQ(listing(*session), listing(*here));
            continue;
        } else if (op < 50) {
            const std::string typed = randomName(random, typedChars);
            const std::string name = folderNameFor(typed);
            what = "MD " + name;
            const bool taken = here->find(name) != nullptr;
            change = [=](MountedImage& m) { return ApplyVolumeChange(m.session, [&] { return MakeDirectory(m.session, typed); }); };
            apply = [=] {
                if (taken) return;
                auto node = std::make_unique<Node>();
                node->name = name;
                node->parent = here;
                here->children.push_back(std::move(node));
            };
            complaints = taken ? 1 : 0;
        } else if (op < 68) {
            Node* victim = pick(false);
            if (!victim) continue;
            what = "DEL " + victim->name;
            const std::string name = victim->name;
            change = [=](MountedImage& m) {
                m.ui.answers.assign(1, true);
                return ApplyVolumeChange(m.session, [&]() -> Status {
                    Result<DeleteOutcome> r = DeleteEntries(m.session, name, NameMatch::Exact);
                    return r ? Status::ok() : Status(Fault{r.fault()});
                });
            };
            apply = [=] {
                here->children.erase(std::find_if(here->children.begin(), here->children.end(),
                                                  [&](const auto& c) { return c.get() == victim; }));
            };
        } else if (op < 92) {
            Node* entry = pick(false);
            if (!entry) continue;
            // Now and then the name of another entry, spelt otherwise: refused.
            Node* other = pick(false);
            std::string name = randomName(random, storedChars);
            if (below(5) == 0 && other) {
                name = other->name;
                for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
            }
            what = "REN " + entry->name + " -> " + name;
            Node* holder = here->find(name);
            const bool refused = holder && holder != entry;
            const std::string from = entry->name;
            change = [=](MountedImage& m) {
                return ApplyVolumeChange(m.session, [&] { return RenameEntries(m.session, from, name, NameMatch::Exact); });
            };
            apply = [=] {
                if (!refused) entry->name = name;
            };
            complaints = refused ? 1 : 0;
        } else {
            Node* file = pick(true);
            if (!file) continue;
            what = "SWAP " + file->name;
            const std::string name = file->name;
            change = [=](MountedImage& m) {
                return ApplyVolumeChange(m.session, [&]() -> Status {
                    Result<int> r = SwapForks(m.session, name, NameMatch::Exact);
                    if (!r) return Fault{r.fault()};
                    return *r == 0 ? Status::ok() : Status(Fault{"not swapped"});
                });
            };
            apply = [=] { std::swap(file->data, file->rsrc); };
        }
        SCOPED_TRACE(what);
        const bool cut = std::uniform_int_distribution<int>(0, 9)(cuts) == 0;
        const std::vector<uint8_t> before = cut ? mounted->drive().target(2).medium : std::vector<uint8_t>();
        std::vector<std::unique_ptr<Node>> modelBefore;
        if (cut)
            for (const auto& c : here->children) modelBefore.push_back(c->clone(here));
        const std::vector<std::string> listedBefore = listing(*here);
        mounted->drive().resetBlocksWritten();
        mounted->ui.timedMessages.clear();
        ASSERT_TRUE(change(*mounted));
        const uint64_t written = mounted->drive().blocksWritten();
        EXPECT_EQ(repairsSaid(mounted->ui), repairDue && written > 0 ? 1u : 0u);
        if (written > 0) {
            repairDue = false;
            EXPECT_NE(loadBE16(mounted->drive().target(2).medium.data() + kMdbAttributes) & kCleanlyUnmounted, 0u) << "left not closed cleanly";
        }
        EXPECT_EQ(mounted->ui.timedMessages.size(), complaints);
        ASSERT_TRUE(mounted->ui.messageBoxes.empty()) << mounted->ui.messageBoxes[0];
        apply();
        if (cut && written > 0) {
            // The same change again from the same medium, in a process that dies after k blocks.
            const uint64_t k = std::uniform_int_distribution<uint64_t>(0, written - 1)(cuts);
            SCOPED_TRACE("cut after " + std::to_string(k) + " of " + std::to_string(written) + " blocks");
            auto dying = remount(before);
            dying->drive().cutAfterBlocks(k);
            (void)change(*dying);
            const std::vector<uint8_t> left = dying->drive().target(2).medium;
            dying.reset();
            mounted = remount(left);
            session = &mounted->session;
            const std::vector<std::string> listed = listing(*session);
            const std::vector<std::string> listedAfter = listing(*here);
            ASSERT_TRUE(listed == listedBefore || listed == listedAfter) << "the folder is neither as before nor as after";
            if (listed != listedAfter) {
                here->children = std::move(modelBefore);
                ++cutsBefore;
            }
            ++cutsMade;
            const VolumeCheckResult check = checkVolume(session->volumeContext());
            ASSERT_TRUE(check.sound()) << check.problems[0];
            for (const std::string& note : check.notes) EXPECT_EQ(note.rfind("not closed cleanly: ", 0), 0u) << note;
            repairDue = (loadBE16(left.data() + kMdbAttributes) & kCleanlyUnmounted) == 0;
        }
        ASSERT_EQ(listing(*session), listing(*here));
        const VolumeCheckResult check = checkVolume(session->volumeContext());
        ASSERT_TRUE(check.sound()) << check.problems[0];
        deepest = std::max(deepest, loadBE16(session->volume.catalog.header.data() + header::kDepth));
    }

    // The catalog grew past 11 leaves, and so to an index of two levels.
    EXPECT_GE(deepest, 3);
    // Cuts left volumes both as before and as after their steps.
    EXPECT_GT(cutsMade, 100);
    EXPECT_GT(cutsBefore, 0);
    EXPECT_LT(cutsBefore, cutsMade);
    std::vector<std::string> expected;
    root.lines(expected);
    std::sort(expected.begin(), expected.end());
    TempDir dir;
    const std::string image = dir.file("model.hfs");
    std::ofstream(image, std::ios::binary)
        .write(reinterpret_cast<const char*>(mounted->drive().target(2).medium.data()),
               static_cast<std::streamsize>(mounted->drive().target(2).medium.size()));
    const std::vector<std::string> seen = hlsTree(image);
    std::vector<std::string> onlySeen, onlyModel;
    std::set_difference(seen.begin(), seen.end(), expected.begin(), expected.end(), std::back_inserter(onlySeen));
    std::set_difference(expected.begin(), expected.end(), seen.begin(), seen.end(), std::back_inserter(onlyModel));
    // hfsutils takes paths of at most 255 characters, so the walk stays shallower than that.
    onlySeen.resize(std::min<size_t>(onlySeen.size(), 3));
    onlyModel.resize(std::min<size_t>(onlyModel.size(), 3));
    EXPECT_EQ(onlySeen, onlyModel) << "hfsutils sees the first, the model holds the second";
    EXPECT_EQ(seen.size(), expected.size());
}

}  // namespace
}  // namespace quarry::test

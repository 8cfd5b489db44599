#pragma once
// The checksum manifest: one line for every PC file a copy wrote, in the form `sha256sum -c`
// checks ("<64 hex digits>  <path relative to the target>"), so that an archivist can prove
// later that nothing changed on the way. Each file is read back once it is closed, so that a
// line states what is on the disk, not what the copy meant to write.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace quarry {

struct CopyContext;

class ChecksumManifest {
public:
    ChecksumManifest() = default;
    ~ChecksumManifest();
    ChecksumManifest(const ChecksumManifest&) = delete;
    ChecksumManifest& operator=(const ChecksumManifest&) = delete;

    // Opens path (creating it) for this run's lines. A file already there is replaced only when
    // it is empty or already a manifest, every line in the form above: anything else is a
    // person's file, which is refused and left as it is.
    Status open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    // The name as it was given to open.
    const std::string& name() const { return name_; }
    uint32_t fileCount() const { return fileCount_; }

    // Reads the file at `file` back and adds its line under the name `listed`.
    Status add(const std::string& file, std::string_view listed);
    // Closes the manifest; a failure to close is its last chance to report a lost write.
    Status close();

private:
    int fd_ = -1;
    std::string name_;
    uint32_t fileCount_ = 0;
    std::vector<unsigned char> buffer_;
};

// The line for a file: GNU's form, which escapes a path holding a backslash, CR or LF by a
// leading backslash on the line and "\\", "\r", "\n" in the path.
std::string ManifestLine(std::string_view hexDigest, std::string_view path);
// Whether a line (without its LF) is in the form that sha256sum writes, text or binary mode.
bool IsManifestLine(std::string_view line);
// The manifest kept beside a log: the log's name with the extension .sha256.
std::string ManifestNameForLog(const std::string& logName);

// The copy engine's one call for each PC file it finished whole: adds the file (named relative
// to the current directory) to the manifest when one is open. A file that cannot be read back or
// listed counts as a failed copy, with a message.
void AddToManifest(const CopyContext& context, const std::string& pcName);

}  // namespace quarry

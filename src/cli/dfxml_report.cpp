#include "cli/dfxml_report.h"

#include <libxml/xmlwriter.h>

#include <memory>


namespace quarry::cli {
namespace {

constexpr uint64_t kSectorBytes = 512;

constexpr const char* kDfxmlNamespace = "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML";
constexpr const char* kDfxmlVersion = "1.2.0";

const xmlChar* x(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

// XML 1.0 has no form for most control characters, not even as references; a name that holds
// one shows U+FFFD there.
std::string xmlText(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && c != '\t' && c != '\n' && c != '\r')
            out += "\xEF\xBF\xBD";
        else
            out += c;
    }
    return out;
}

class Writer {
public:
    explicit Writer(const std::string& file) : w_(xmlNewTextWriterFilename(file.c_str(), 0)) {
        if (w_) xmlTextWriterSetIndent(w_.get(), 1);
    }
    bool open() const { return w_ != nullptr; }
    bool ok() const { return ok_; }

    void start(const char* name) { check(xmlTextWriterStartElement(w_.get(), x(name))); }
    void end() { check(xmlTextWriterEndElement(w_.get())); }
    void attribute(const char* name, const std::string& value) {
        check(xmlTextWriterWriteAttribute(w_.get(), x(name), x(xmlText(value).c_str())));
    }
    void element(const char* name, const std::string& value) {
        check(xmlTextWriterWriteElement(w_.get(), x(name), x(xmlText(value).c_str())));
    }
    void element(const char* name, uint64_t value) { element(name, std::to_string(value)); }
    void digest(const std::string& sha256) {
        if (sha256.empty()) return;
        start("hashdigest");
        attribute("type", "sha256");
        check(xmlTextWriterWriteString(w_.get(), x(sha256.c_str())));
        end();
    }
    void startDocument() { check(xmlTextWriterStartDocument(w_.get(), nullptr, "UTF-8", nullptr)); }
    void endDocument() { check(xmlTextWriterEndDocument(w_.get())); }
    // Writes what is still buffered; false when the file could not take it.
    bool close() {
        const bool flushed = w_ && xmlTextWriterFlush(w_.get()) >= 0;
        w_.reset();
        return ok_ && flushed;
    }

private:
    void check(int result) { ok_ = ok_ && result >= 0; }
    struct Free {
        void operator()(xmlTextWriterPtr w) const { xmlFreeTextWriter(w); }
    };
    std::unique_ptr<xmlTextWriter, Free> w_;
    bool ok_ = true;
};

void writeRuns(Writer& w, const ReportFork& fork, const char* facet) {
    w.start("byte_runs");
    if (facet) w.attribute("facet", facet);
    for (const ForkRun& run : fork.runs) {
        w.start("byte_run");
        w.attribute("file_offset", std::to_string(run.forkOffset));
        w.attribute("img_offset", std::to_string(run.mediumOffset));
        w.attribute("len", std::to_string(run.length));
        w.end();
    }
    // The data fork's digest is the file object's own; another fork's goes with its runs.
    if (facet) w.digest(fork.sha256);
    w.end();
}

}  // namespace

Result<ReportSummary> WriteDfxml(MountedVolume& volume, const bool& ending, const std::string& file, const DfxmlSource& source,
                                 const std::vector<std::string>& commandLine,
                                 const std::function<void(const std::string&)>& fault) {
    Writer w(file);
    if (!w.open()) return Fault{"cannot write the DFXML report " + file};
    const VolumeFigures figures = volume.figures();
    w.startDocument();
    w.start("dfxml");
    w.attribute("xmlns", kDfxmlNamespace);
    w.attribute("xmlns:dc", "http://purl.org/dc/elements/1.1/");
    w.attribute("version", kDfxmlVersion);
    w.start("metadata");
    w.element("dc:type", "Disk Image");
    w.end();

    w.start("creator");
    w.attribute("version", "1.0");
    w.element("program", "quarry-cli");
    w.element("version", QUARRY_VERSION);
    w.start("execution_environment");
    std::string line;
    for (const std::string& a : commandLine) line += (line.empty() ? "" : " ") + a;
    w.element("command_line", line);
    w.end();
    w.end();

    w.start("source");
    w.element("image_filename", source.path);
    // The byte runs are offsets in the medium; a container's medium is the image inside it.
    if (!source.container.empty()) w.element("container", source.container);
    if (!source.member.empty()) w.element("member", source.member);
    w.element("imagesize", source.size);
    w.end();

    w.start("volume");
    // The volume's header lies 1024 bytes into it, in every Macintosh format.
    w.attribute("offset", std::to_string((figures.headerSector >= 2 ? figures.headerSector - 2 : 0) * kSectorBytes));
    std::string type(volumeFormatName(volume.format()));
    for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    w.element("ftype_str", type);
    w.element("volume_name", figures.macName);
    w.element("block_size", figures.blockSize);
    w.element("block_count", figures.totalBlocks);
    w.element("first_block_offset", figures.firstBlockSector * kSectorBytes);
    w.element("crtime", EntryDateIso(figures.created));
    w.element("mtime", EntryDateIso(figures.modified));

    const ReportSummary summary = ReportVolume(volume, ending, ReportDigests::Sha256, [&](const ReportEntry& e) {
        std::string path;
        for (const std::string& name : e.path) path += (path.empty() ? "" : "/") + name;
        w.start("fileobject");
        w.element("filename", path);
        w.element("name_type", e.isFolder() ? "d" : "r");
        w.element("filesize", e.isFolder() ? uint64_t{0} : e.data.length);
        w.element("inode", e.id());
        w.element("crtime", EntryDateIso(e.record.created));
        w.element("mtime", EntryDateIso(e.record.modified));
        if (!e.isFolder()) {
            w.digest(e.data.sha256);
            writeRuns(w, e.data, nullptr);
            writeRuns(w, e.rsrc, "resource");
            for (const ReportFork* fork : {&e.data, &e.rsrc})
                if (!fork->fault.empty()) fault(std::string(fork == &e.data ? "data" : "resource") + " fork of " + path + ": " + fork->fault);
        }
        w.end();
    });
    w.end();  // volume
    w.end();  // dfxml
    w.endDocument();
    if (!w.close()) return Fault{"cannot write the DFXML report " + file};
    return summary;
}

}  // namespace quarry::cli

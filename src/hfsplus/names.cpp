#include "hfsplus/names.h"

#include <iconv.h>
#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

namespace quarry::hfsplus {
namespace {

void appendUtf8(std::string& out, char32_t c) {
    utf8proc_uint8_t buf[4];
    const utf8proc_ssize_t n = utf8proc_encode_char(static_cast<utf8proc_int32_t>(c), buf);
    out.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
}

// Runs utf8proc over the text with the given options; nothing when it is not valid UTF-8.
bool mapText(std::string_view text, utf8proc_option_t options, std::string& out) {
    utf8proc_uint8_t* result = nullptr;
    const utf8proc_ssize_t n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                                            static_cast<utf8proc_ssize_t>(text.size()), &result, options);
    if (n < 0) return false;
    std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(result, &std::free);
    out.assign(reinterpret_cast<const char*>(result), static_cast<size_t>(n));
    return true;
}

std::u32string codePoints(std::string_view utf8) {
    std::u32string out;
    auto p = reinterpret_cast<const utf8proc_uint8_t*>(utf8.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(utf8.size());
    while (left > 0) {
        utf8proc_int32_t c = 0;
        const utf8proc_ssize_t n = utf8proc_iterate(p, left, &c);
        if (n <= 0) return out;
        out.push_back(static_cast<char32_t>(c));
        p += n;
        left -= n;
    }
    return out;
}

// The code points HFS+ name comparison passes over (its case-folding table maps them to 0):
// the joiners and direction marks, the deprecated format characters and the byte order mark.
bool ignoredByHfsPlus(char32_t c) {
    return (c >= 0x200C && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x206A && c <= 0x206F) || c == 0xFEFF;
}

struct MacCharset {
    uint32_t encoding;
    const char* iconvName;
};
// Apple's text encoding numbers of the 8-bit Macintosh scripts glibc converts.
constexpr MacCharset kMacCharsets[] = {
    {0, "MACINTOSH"}, {7, "MAC-CYRILLIC"}, {29, "MAC-CENTRALEUROPE"}, {37, "MAC-IS"}, {152, "MACUKRAINIAN"},
};

// The converters from UTF-8 to the charsets above, opened once per thread as names need them
// (opening one costs more than converting a name) and closed with the thread.
class Converters {
public:
    ~Converters() {
        for (auto& [charset, cd] : open_)
            if (cd != kNone) iconv_close(cd);
    }
    iconv_t to(const char* charset) {
        for (auto& [name, cd] : open_)
            if (name == charset) return cd;
        return open_.emplace_back(charset, iconv_open(charset, "UTF-8")).second;
    }
    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

private:
    std::vector<std::pair<const char*, iconv_t>> open_;
};

thread_local Converters converters;

}  // namespace

std::string utf16ToUtf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

std::u16string utf8ToUtf16(std::string_view text) {
    std::u16string out;
    auto p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
    while (left > 0) {
        utf8proc_int32_t c = 0;
        const utf8proc_ssize_t n = utf8proc_iterate(p, left, &c);
        if (n <= 0) return {};
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        p += n;
        left -= n;
    }
    return out;
}

std::string toNfc(std::string_view utf8) {
    // ASCII text is its own normal form.
    if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(utf8);
    std::string out;
    if (!mapText(utf8, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE), out)) return std::string(utf8);
    return out;
}

std::string toMacEncoding(std::string_view nfcUtf8, uint32_t textEncoding) {
    const char* charset = "MACINTOSH";
    for (const MacCharset& m : kMacCharsets)
        if (m.encoding == textEncoding) charset = m.iconvName;
    iconv_t cd = Converters::kNone;
    std::string out;
    out.reserve(nfcUtf8.size());
    // One character at a time, so that a character the charset lacks becomes one '?'.
    auto p = reinterpret_cast<const utf8proc_uint8_t*>(nfcUtf8.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(nfcUtf8.size());
    while (left > 0) {
        utf8proc_int32_t c = 0;
        utf8proc_ssize_t n = utf8proc_iterate(p, left, &c);
        if (n <= 0) n = 1;  // a stray byte: one '?'
        // Every charset of the table keeps ASCII as it is.
        if (c >= 0 && c < 0x80) {
            out.push_back(static_cast<char>(c));
            p += n;
            left -= n;
            continue;
        }
        if (cd == Converters::kNone && (cd = converters.to(charset)) == Converters::kNone) return std::string(nfcUtf8.size(), '?');
        char in[4];
        std::copy(p, p + n, in);
        char mac[8];
        char* inPtr = in;
        size_t inLeft = static_cast<size_t>(n);
        char* outPtr = mac;
        size_t outLeft = sizeof mac;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (c >= 0 && iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) && inLeft == 0)
            out.append(mac, static_cast<size_t>(outPtr - mac));
        else
            out.push_back('?');
        p += n;
        left -= n;
    }
    return out;
}

namespace {

// What a name is compared as: decomposed, and on HFS+ each code point lowered on its own (the
// Mac's comparison table lowers one character to one, so "ß" stays one character and is no
// "ss") without the code points the comparison ignores.
bool comparableForm(std::string_view utf8, NameComparison comparison, std::u32string& out) {
    std::string decomposed;
    if (!mapText(utf8, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_DECOMPOSE), decomposed)) return false;
    out = codePoints(decomposed);
    if (comparison == NameComparison::CaseFolding) {
        for (char32_t& c : out) c = static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(c)));
        std::erase_if(out, ignoredByHfsPlus);
    }
    return true;
}

}  // namespace

NamePattern::NamePattern(std::string_view typed, NameComparison comparison) : comparison_(comparison) {
    if (!typed.empty() && typed.front() == '*') {
        everything_ = true;
        return;
    }
    const size_t star = typed.find('*');
    prefix_ = star != std::string_view::npos;
    valid_ = comparableForm(typed.substr(0, star), comparison, wanted_);
}

std::u32string NamePattern::comparable(std::u16string_view stored) const {
    std::u32string out;
    if (!comparableForm(utf16ToUtf8(stored), comparison_, out)) return {};
    return out;
}

bool NamePattern::matches(std::u16string_view stored) const {
    if (everything_) return true;
    if (!valid_) return false;
    const std::u32string name = comparable(stored);
    if (prefix_) return name.compare(0, wanted_.size(), wanted_) == 0 && name.size() >= wanted_.size();
    return name == wanted_;
}

}  // namespace quarry::hfsplus

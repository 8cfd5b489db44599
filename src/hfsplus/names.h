#pragma once
// Names on an HFS+ volume: stored as UTF-16 in Apple's decomposed form; shown as NFC UTF-8
// (utf8proc); given to Macintosh-side code in the volume's 8-bit text encoding (glibc's iconv);
// and compared with a typed name by HFS+ case folding (HFS+) or exactly (HFSX).

#include <cstdint>
#include <string>
#include <string_view>

namespace quarry::hfsplus {

// UTF-16 as stored to UTF-8, unpaired surrogates as U+FFFD; nothing is normalised.
std::string utf16ToUtf8(std::u16string_view units);
// UTF-8 to UTF-16; empty when the text is not valid UTF-8.
std::u16string utf8ToUtf16(std::string_view text);
// The text in Unicode's composed form (NFC); as given when it is not valid UTF-8.
std::string toNfc(std::string_view utf8);
// The name in the Macintosh 8-bit encoding that `textEncoding` (the catalog record's hint) names
// where glibc knows it (Mac Roman, Central European, Cyrillic, Ukrainian, Icelandic), in Mac Roman
// otherwise; each character that the encoding lacks becomes '?'.
std::string toMacEncoding(std::string_view nfcUtf8, uint32_t textEncoding);

enum class NameComparison { CaseFolding, Binary };  // HFS+, HFSX

// A typed name or pattern prepared once for comparing with many stored names. A '*' ends the
// part compared (the name matches when it begins with what comes before it); a leading '*'
// matches every name. Without '*' the whole name must be equal. HFS+ compares the names
// decomposed, each character lowered and without the code points its comparison ignores; HFSX
// compares the decomposed forms exactly.
class NamePattern {
public:
    NamePattern(std::string_view typed, NameComparison comparison);
    bool matches(std::u16string_view stored) const;
    bool matchesEverything() const { return everything_; }

private:
    std::u32string comparable(std::u16string_view stored) const;

    NameComparison comparison_;
    bool everything_ = false;
    bool prefix_ = false;
    bool valid_ = true;
    std::u32string wanted_;
};

}  // namespace quarry::hfsplus

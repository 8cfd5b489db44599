// Fuzz harness: the input is a line typed on the command line (Windows character set).

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/settings.h"
#include "commands/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quarry;
    const std::string text(reinterpret_cast<const char*>(data), size);
    AppSettings settings;
    const ParsedCommand parsed = ParseCommandLine(settings, text);
    // A code the parser returns is one the word table holds.
    if (parsed.code != word::kNone && !CommandWordText(parsed.code)) __builtin_trap();
    for (const auto& arg : {parsed.firstArg, parsed.secondArg}) {
        if (!arg) continue;
        const std::string mac = MacNameFromInput(*arg);
        if (mac.size() > arg->size()) __builtin_trap();
    }
    std::string word = text.substr(0, text.find(' '));
    const int code = LookupCommandWord(word);
    if (code != word::kNone && !CommandWordText(code)) __builtin_trap();
    MacNameFromInput(text);
    return 0;
}

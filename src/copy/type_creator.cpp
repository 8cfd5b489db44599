#include "copy/type_creator.h"

#include <cstdio>
#include <cstring>

#include "common/ui_port.h"

namespace quarry {
namespace {

struct BuiltInRow {
    const char* extension;
    const char* typeCreator;
};

// Rows 22 to 36 are blank places; row 0's extension is the default.
constexpr BuiltInRow kBuiltIn[kTypeCreatorRows] = {
    {"TXT", "TEXT????"}, {"DOC", "WDBNMSWD"}, {"TIF", "TIFF????"}, {"WP4", "WP42SSIW"}, {"WP5", "WP50SSIW"},
    {"MW4", "WORDMACA"}, {"MW2", "MW2DMWII"}, {"XLS", "XLS5XCEL"}, {"MCW", "WDBNMSWD"}, {"FH3", "FHD3FHA3"},
    {"PM5", "ALB5ALD5"}, {"EPS", "EPSF????"}, {"QXD", "XDOCXPR3"}, {"XLS", "XLS4XCEL"}, {"CWK", "WORDBOBO"},
    {"PPT", "SLD3PPT3"}, {"EPS", "EPSPXPR3"}, {"DOC", "W6BNMSWD"}, {"CWK", "CWWPBOBO"}, {"PCT", "PICT????"},
    {"HQX", "TEXTBNHQ"}, {"DIR", "MV93MD93"}, {"   ", "        "}, {"   ", "        "}, {"   ", "        "},
    {"   ", "        "}, {"   ", "        "}, {"   ", "        "}, {"   ", "        "}, {"   ", "        "},
    {"   ", "        "}, {"   ", "        "}, {"   ", "        "}, {"   ", "        "}, {"   ", "        "},
    {"   ", "        "}, {"   ", "        "}, {"RAG", "R#      "}, {"COM", "APPL????"}, {"EXE", "APPL????"},
};

constexpr size_t kLineLimit = 80;  // bytes read per line, the terminating zero included

bool isWhite(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

TypeCreatorTable::TypeCreatorTable() {
    for (size_t i = 0; i < kTypeCreatorRows; ++i) {
        std::memcpy(rows[i].extension.data(), kBuiltIn[i].extension, 3);
        std::memcpy(rows[i].typeCreator.data(), kBuiltIn[i].typeCreator, 8);
    }
}

std::string ExtensionForType(const TypeCreatorTable& table, std::string_view tc) {
    auto firstMatching = [&](size_t n) -> const TypeCreatorRow* {
        if (tc.size() < n) return nullptr;
        for (const TypeCreatorRow& row : table.rows)
            if (std::memcmp(row.typeCreator.data(), tc.data(), n) == 0) return &row;
        return nullptr;
    };
    for (size_t n : {size_t{8}, size_t{4}, size_t{2}}) {
        if (const TypeCreatorRow* row = firstMatching(n)) return std::string(row->extension.data(), 3);
    }
    return std::string(table.rows[0].extension.data(), 3);
}

int FindExtensionRow(const TypeCreatorTable& table, std::string_view extension) {
    for (size_t i = 0; i < kTypeCreatorRows; ++i) {
        const TypeCreatorRow& row = table.rows[i];
        if (row.extension[0] == '\0') return static_cast<int>(i);
        if (extension.size() == 3 && std::memcmp(row.extension.data(), extension.data(), 3) == 0) return static_cast<int>(i);
    }
    return -1;
}

void LoadTypeCreatorFile(TypeCreatorTable& table, UiPort& ui) {
    if (table.fileLoaded) return;
    table.fileLoaded = true;
    std::FILE* f = std::fopen(kTypeCreatorFileName, "rb");
    if (!f) return;
    char line[kLineLimit];
    while (std::fgets(line, sizeof line, f)) {
        if (line[0] == '#') continue;
        const size_t len = std::strlen(line);
        size_t i = 0;
        while (i < len && isWhite(line[i])) ++i;
        if (len - i < 3) continue;
        const std::string ext(line + i, 3);
        size_t tc = i + 3;
        while (tc < len && isWhite(line[tc])) ++tc;
        // A double quote after the start of the type and creator begins them there, quote
        // included, as files written for earlier releases expect.
        if (const char* quote = std::strchr(line + tc, '"')) tc = static_cast<size_t>(quote - line);
        const int row = FindExtensionRow(table, ext);
        if (row < 0) {
            ui.beep();
            continue;
        }
        TypeCreatorRow& r = table.rows[static_cast<size_t>(row)];
        std::memcpy(r.extension.data(), ext.data(), 3);
        r.typeCreator.fill('\0');
        std::memcpy(r.typeCreator.data(), line + tc, std::min<size_t>(8, len - tc));
    }
    std::fclose(f);
}

}  // namespace quarry

#pragma once
// Macintosh type and creator to a three-letter PC extension: a built-in table of 40 rows whose
// type and creator the optional text file "KTCREAT.DAT" can change.

#include <array>
#include <string>
#include <string_view>

namespace quarry {

class UiPort;

inline constexpr size_t kTypeCreatorRows = 40;
inline constexpr const char* kTypeCreatorFileName = "KTCREAT.DAT";

struct TypeCreatorRow {
    std::array<char, 4> extension{};    // three characters and a zero
    std::array<char, 9> typeCreator{};  // type, creator and a zero
};

struct TypeCreatorTable {
    TypeCreatorTable();
    std::array<TypeCreatorRow, kTypeCreatorRows> rows;
    // The file is read once per process, when the first PC name is made.
    bool fileLoaded = false;
};

// The extension for 8 bytes of type and creator (not lower-cased).
std::string ExtensionForType(const TypeCreatorTable& table, std::string_view typeCreator);
int FindExtensionRow(const TypeCreatorTable& table, std::string_view extension);
// Reads "KTCREAT.DAT" from the current directory, once. A line naming an extension the table
// does not have beeps.
void LoadTypeCreatorFile(TypeCreatorTable& table, UiPort& ui);

}  // namespace quarry

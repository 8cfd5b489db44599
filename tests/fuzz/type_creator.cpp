// Fuzz harness: the input is the type/creator file KTCREAT.DAT, read from the current
// directory as the copy reads it (the harness works in a directory of its own).

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "copy/type_creator.h"
#include "support/recording_ui.h"

namespace {

// A directory of the harness's own, made once and emptied at exit.
const char* ownDirectory() {
    static char name[] = "/tmp/quarry-fuzz-XXXXXX";
    static const bool made = [] {
        if (!mkdtemp(name)) __builtin_trap();
        std::atexit([] {
            std::remove((std::string(name) + "/" + quarry::kTypeCreatorFileName).c_str());
            rmdir(name);
        });
        return true;
    }();
    (void)made;
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quarry;
    // The file is read from the current directory; the fuzzer's own paths are relative to the
    // one it started in, so the harness goes back there at once.
    const int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (home < 0 || chdir(ownDirectory()) != 0) __builtin_trap();
    std::FILE* f = std::fopen(kTypeCreatorFileName, "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) __builtin_trap();
    test::RecordingUi ui;
    TypeCreatorTable table;
    LoadTypeCreatorFile(table, ui);
    if (fchdir(home) != 0) __builtin_trap();
    close(home);
    for (const TypeCreatorRow& row : table.rows) {
        // Every row stays a terminated extension and a terminated type and creator.
        if (row.extension[3] != '\0' || row.typeCreator[8] != '\0') __builtin_trap();
        const std::string tc(row.typeCreator.data(), 8);
        const std::string ext = ExtensionForType(table, tc);
        if (ext.size() > 3) __builtin_trap();
        if (FindExtensionRow(table, std::string(row.extension.data(), 3)) < 0) __builtin_trap();
    }
    return 0;
}

#include "common/work_file.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/messages.h"
#include "common/ui_port.h"

namespace quarry {

bool HasFreeSpace(const std::string& path, uint64_t bytes) {
    struct statvfs fs {};
    if (statvfs(path.c_str(), &fs) != 0) return false;
    const uint64_t cluster = fs.f_frsize ? fs.f_frsize : fs.f_bsize;
    if (cluster == 0) return false;
    return bytes / cluster < static_cast<uint64_t>(fs.f_bavail);
}

int CreateWorkFile(UiPort& ui, std::string& pathOut, const char* prefix, uint64_t bytes) {
    const char* env = std::getenv("TMPDIR");
    const std::string dir = env && *env ? env : "/tmp";
    if (!HasFreeSpace(dir, bytes)) {
        ui.fatalError(messageText(Msg::NoTempSpace));
        return -1;
    }
    std::string pattern = dir + "/" + prefix + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        ui.fatalError(std::string(messageText(Msg::NoTempSpace)) + " (" + dir + ": " + std::strerror(errno) + ")");
        return -1;
    }
    pathOut = name.data();
    return fd;
}

}  // namespace quarry

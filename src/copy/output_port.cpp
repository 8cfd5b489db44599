#include "copy/output_port.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "copy/copy_context.h"

namespace quarry {

int OpenOutputPort(const CopyContext& context, int port) {
    if (port <= 0 || port >= static_cast<int>(OutputPortNames.size())) return -1;
    const std::string& device = context.state.portDevices[static_cast<size_t>(port)];
    // No controlling terminal is taken from a serial line; the device keeps the speed and
    // handshake the system gave it.
    const int fd = ::open(device.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        context.fatal(std::string("Error opening file:") + OutputPortNames[static_cast<size_t>(port)] + " (" + device + ": " +
                      std::strerror(errno) + ")");
        return -1;
    }
    return fd;
}

int PortIndexOf(const char* name) {
    for (size_t i = 1; i < OutputPortNames.size(); ++i)
        if (strcasecmp(name, OutputPortNames[i]) == 0) return static_cast<int>(i);
    return -1;
}

}  // namespace quarry

#include "platform/fs/ReadToEnd.h"

#include <cerrno>
#include <unistd.h>

namespace Platform {

void readToEnd(int fd, std::string& contents)
{
    char buffer[65536];
    while (true) {
        ssize_t count = ::read(fd, buffer, sizeof(buffer));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        contents.append(buffer, static_cast<size_t>(count));
    }
}

} // namespace Platform

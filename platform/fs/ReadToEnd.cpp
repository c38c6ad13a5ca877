#include "platform/fs/ReadToEnd.h"

#include <cerrno>
#include <unistd.h>

namespace Platform {

bool readToEnd(int fd, std::string& contents, size_t limit)
{
    char buffer[65536];
    while (true) {
        ssize_t count = ::read(fd, buffer, sizeof(buffer));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return false;
        if (!count)
            return true;
        size_t room = contents.size() < limit ? limit - contents.size() : 0;
        if (static_cast<size_t>(count) > room) {
            contents.append(buffer, room);
            return false;
        }
        contents.append(buffer, static_cast<size_t>(count));
    }
}

} // namespace Platform

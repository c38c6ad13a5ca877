#include "tools/kestrel/Demo.h"

#include <cstdio>

namespace Kestrel {

int runDemo(const std::vector<std::string>&)
{
    std::fputs("kestrel: the demo is not available yet\n", stderr);
    return 2;
}

} // namespace Kestrel

// libFuzzer target: the XML reader (and whatever the bytes turn out to be), the lookup and the
// writer, on arbitrary bytes.
#include "FuzzPlistChecks.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzPlist::check(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}

// libFuzzer target: the binary reader, the lookup and the writer. Inputs that lose their magic
// get it back, so that mutations keep exercising the binary form.
#include "FuzzPlistChecks.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (size >= 8 && !std::memcmp(data, "bplist00", 8)) {
        FuzzPlist::check(bytes);
        return 0;
    }
    std::string withMagic = "bplist00";
    withMagic.append(bytes);
    FuzzPlist::check(withMagic);
    return 0;
}

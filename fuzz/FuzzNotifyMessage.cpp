// libFuzzer target: decoding the datagrams a notify endpoint receives. Whatever decodes must
// encode back to the very same bytes, and a name is accepted exactly when it is 1 to 1024
// bytes of strict UTF-8 without NUL (checked against a plain code-point decoder).
#include "platform/notify/NotifyMessage.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace Platform;

namespace {

// One code point at a time, by the definition: the shortest form, no surrogates, nothing past
// U+10FFFF.
bool isStrictUtf8(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        auto lead = static_cast<unsigned char>(text[i]);
        size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        if (!length || i + length > text.size())
            return false;
        uint32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            auto continuation = static_cast<unsigned char>(text[i + k]);
            if ((continuation & 0xC0) != 0x80)
                return false;
            codePoint = codePoint << 6 | (continuation & 0x3F);
        }
        static constexpr uint32_t smallest[] = { 0, 0, 0x80, 0x800, 0x10000 };
        if (codePoint < smallest[length] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view bytes(reinterpret_cast<const char*>(data), size);

    if (auto message = decodeNotifyMessage(bytes)) {
        bool isPost = message->kind == NotifyMessageKind::Post;
        auto encoded = isPost ? notifyPostMessage(message->name)
                              : notifyControlMessage(message->kind, message->nonce, message->sequence);
        if (encoded != bytes)
            __builtin_trap();
        if (isPost && (message->name.data() != bytes.data() + 1 || !isValidNotificationName(message->name)))
            __builtin_trap();
    }

    bool valid = !bytes.empty() && bytes.size() <= maximumNotificationNameLength
        && bytes.find('\0') == std::string_view::npos && isStrictUtf8(bytes);
    if (isValidNotificationName(bytes) != valid)
        __builtin_trap();
    // The decoded name points into the datagram, which must outlive it.
    std::string datagram = notifyPostMessage(bytes);
    auto posted = decodeNotifyMessage(datagram);
    if (valid != posted.has_value() || (posted && posted->name != bytes))
        __builtin_trap();
    return 0;
}

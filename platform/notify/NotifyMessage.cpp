#include "platform/notify/NotifyMessage.h"

#include "platform/plist/Encoding.h"

#include <cstring>

namespace Platform {

bool isValidNotificationName(std::string_view name)
{
    size_t errorOffset = 0;
    return !name.empty() && name.size() <= maximumNotificationNameLength && name.find('\0') == std::string_view::npos
        && Plist::isValidUtf8(name, errorOffset);
}

std::string notifyPostMessage(std::string_view name)
{
    std::string message;
    message.reserve(1 + name.size());
    message += static_cast<char>(NotifyMessageKind::Post);
    message += name;
    return message;
}

std::string notifyControlMessage(NotifyMessageKind kind, uint64_t nonce, uint64_t sequence)
{
    std::string message(notifyControlMessageSize, '\0');
    message[0] = static_cast<char>(kind);
    std::memcpy(message.data() + 1, &nonce, sizeof(nonce));
    std::memcpy(message.data() + 1 + sizeof(nonce), &sequence, sizeof(sequence));
    return message;
}

std::optional<NotifyMessage> decodeNotifyMessage(std::string_view datagram)
{
    if (datagram.empty())
        return std::nullopt;
    NotifyMessage message;
    message.kind = static_cast<NotifyMessageKind>(datagram[0]);
    switch (message.kind) {
    case NotifyMessageKind::Post:
        message.name = datagram.substr(1);
        if (!isValidNotificationName(message.name))
            return std::nullopt;
        return message;
    case NotifyMessageKind::Marker:
    case NotifyMessageKind::Quit:
        if (datagram.size() != notifyControlMessageSize)
            return std::nullopt;
        std::memcpy(&message.nonce, datagram.data() + 1, sizeof(message.nonce));
        std::memcpy(&message.sequence, datagram.data() + 1 + sizeof(message.nonce), sizeof(message.sequence));
        return message;
    }
    return std::nullopt;
}

} // namespace Platform

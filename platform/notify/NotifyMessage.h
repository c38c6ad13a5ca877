// The datagrams between the notify endpoints of a device: how a post and the two control
// messages are laid out, and the strict decoding every received datagram goes through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Platform {

// Longer names are refused at post time; an empty name is refused too.
constexpr size_t maximumNotificationNameLength = 1024;

// Datagrams start with one of these bytes. A post carries the name after it; the two
// control messages carry a 64-bit nonce and a 64-bit sequence number, and are only honoured
// by the endpoint whose nonce they carry.
enum class NotifyMessageKind : char {
    Post = 'P',
    Marker = 'M',
    Quit = 'Q',
};

constexpr size_t notifyControlMessageSize = 1 + 2 * sizeof(uint64_t);
constexpr size_t maximumNotifyMessageSize = 1 + maximumNotificationNameLength;
static_assert(maximumNotifyMessageSize >= notifyControlMessageSize);

struct NotifyMessage {
    NotifyMessageKind kind { NotifyMessageKind::Post };
    std::string_view name; // a post's; it points into the decoded datagram
    uint64_t nonce { 0 }; // a control message's
    uint64_t sequence { 0 };
};

// A name that can travel: 1 to maximumNotificationNameLength bytes of strict UTF-8 (no
// overlong forms, surrogates or code points past U+10FFFF) with no NUL in it.
bool isValidNotificationName(std::string_view);

std::string notifyPostMessage(std::string_view name);
std::string notifyControlMessage(NotifyMessageKind, uint64_t nonce, uint64_t sequence);

// The message a datagram carries, or nullopt when it is malformed: empty, of an unknown kind,
// a post whose name is not valid, a control message of any other size than its own.
std::optional<NotifyMessage> decodeNotifyMessage(std::string_view datagram);

} // namespace Platform

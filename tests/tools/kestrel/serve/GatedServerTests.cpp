// The gate hands a worker only whole requests: when a request is whole, and which ones
// it does not wait for.
#include "tools/kestrel/serve/GatedServer.h"

#include <gtest/gtest.h>

using namespace Kestrel;
using Status = RequestExtent::Status;

TEST(GatedServer, ARequestIsWholeWithItsHeadAndTheBodyItAnnounces)
{
    constexpr size_t maxHead = 1024;
    constexpr size_t maxBody = 64;
    auto extent = [](std::string_view received) { return requestExtent(received, maxHead, maxBody); };

    EXPECT_EQ(extent("GET /api/state HTTP/1.1\r\nHost: x").status, Status::Incomplete);
    auto get = extent("GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(get.status, Status::Whole);
    EXPECT_EQ(get.requestLine, "GET /api/events HTTP/1.1");

    std::string head = "POST /api/command HTTP/1.1\r\ncontent-length: 5\r\n\r\n";
    EXPECT_EQ(extent(head + "{\"co").status, Status::Incomplete);
    auto post = extent(head + "{\"c\":GET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(post.status, Status::Whole);
    EXPECT_EQ(post.length, head.size() + 5) << "a second request sent behind it is not part of it";

    // Refused without their bodies, so not waited for.
    EXPECT_EQ(extent("POST / HTTP/1.1\r\nContent-Length: 65\r\n\r\n").status, Status::Whole);
    EXPECT_EQ(extent("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n").status, Status::Whole);
    EXPECT_EQ(extent("POST / HTTP/1.1\r\nContent-Length: 5x\r\n\r\n").status, Status::Whole);

    EXPECT_EQ(extent(std::string(maxHead + 1, 'a')).status, Status::HeadTooLarge);
    EXPECT_EQ(extent("GET / HTTP/1.1\r\nX: " + std::string(maxHead, 'a') + "\r\n\r\n").status, Status::HeadTooLarge);
}

// The rules every request meets before a handler sees it.
#include "tools/kestrel/serve/RequestGuard.h"

#include <gtest/gtest.h>

using namespace Kestrel;

namespace {

constexpr int port = 8340;

RequestFacts post(std::optional<std::string> contentType, std::optional<std::string> origin = std::nullopt,
    std::string host = "127.0.0.1:8340")
{
    return { "POST", host, origin, contentType };
}

TEST(RequestGuard, OnlyTheServersOwnHostNamesAreAnswered)
{
    for (const char* host : { "127.0.0.1:8340", "localhost:8340", "LOCALHOST:8340" })
        EXPECT_FALSE(refuseRequest({ "GET", host, {}, {} }, port)) << host;
    for (const char* host : { "evil.example:8340", "127.0.0.1", "127.0.0.1:8341", "localhost",
             "localhost.evil.example:8340", "127.0.0.1:8340.evil.example", "[::1]:8340", "" }) {
        auto refusal = refuseRequest({ "GET", host, {}, {} }, port);
        ASSERT_TRUE(refusal) << host;
        EXPECT_EQ(refusal->status, 403) << host;
    }
    EXPECT_TRUE(refuseRequest({ "GET", std::nullopt, {}, {} }, port)) << "no Host at all";
    EXPECT_EQ(refuseRequest({ "GET", "127.0.0.1:8340", {}, {}, 2 }, port).value_or(Refusal { 0, {} }).status, 400)
        << "two Host headers, whichever comes first";
    EXPECT_TRUE(refuseRequest(post("application/json", std::nullopt, "evil.example:8340"), port)) << "a POST too";
}

TEST(RequestGuard, APostIsJsonFromThePagesOwnOrigin)
{
    EXPECT_FALSE(refuseRequest(post("application/json"), port));
    EXPECT_FALSE(refuseRequest(post(" Application/JSON ; charset=utf-8"), port));
    EXPECT_FALSE(refuseRequest(post("application/json", "http://127.0.0.1:8340"), port));
    EXPECT_FALSE(refuseRequest(post("application/json", "http://localhost:8340", "localhost:8340"), port));
    for (auto type : { std::optional<std::string>(), std::optional<std::string>("text/plain"),
             std::optional<std::string>("application/x-www-form-urlencoded"),
             std::optional<std::string>("multipart/form-data"),
             std::optional<std::string>("application/json-patch+json"), std::optional<std::string>("") })
        EXPECT_EQ(refuseRequest(post(type), port).value_or(Refusal { 0, {} }).status, 403) << type.value_or("(none)");
    RequestFacts chunked = post("application/json");
    chunked.transferEncoded = true;
    EXPECT_EQ(refuseRequest(chunked, port).value_or(Refusal { 0, {} }).status, 411) << "a body of unknown length";
    // The page's origin is the host it was loaded from, on this port, over http.
    for (const char* origin :
        { "http://evil.example", "null", "http://127.0.0.1:8341", "https://127.0.0.1:8340", "http://localhost:8340" })
        EXPECT_EQ(refuseRequest(post("application/json", origin), port).value_or(Refusal { 0, {} }).status, 403)
            << origin;
}

TEST(RequestGuard, OnlyGetHeadAndPostAreTaken)
{
    EXPECT_FALSE(refuseRequest({ "HEAD", "127.0.0.1:8340", {}, {} }, port));
    for (const char* method : { "PUT", "DELETE", "PATCH", "OPTIONS", "TRACE", "CONNECT" })
        EXPECT_EQ(refuseRequest({ method, "127.0.0.1:8340", {}, "application/json" }, port)
                      .value_or(Refusal { 0, {} })
                      .status,
            405)
            << method;
}

} // namespace

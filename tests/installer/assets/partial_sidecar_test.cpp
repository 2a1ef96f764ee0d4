#include "installer/assets/partial_sidecar.h"

#include <gtest/gtest.h>

#include <string>

namespace corvanel {

namespace {

const std::string digest = "203f9e9fd6c2cc77e6525d798a434ced326145db34a356355e05659d3445fd1c";

TEST(PartialSidecar, WhatIsWrittenIsReadBack)
{
    const PartialSidecar cases[] = {
        {.url = "https://example.org/a.tar.xz", .sha256 = digest, .etag = {}, .lastModified = {}},
        {.url = "https://example.org/a.tar.xz", .sha256 = digest, .etag = "\"v1\"", .lastModified = {}},
        {.url = "https://example.org/a.tar.xz",
         .sha256 = digest,
         .etag = "\"v1\"",
         .lastModified = "Wed, 21 Oct 2015 07:28:00 GMT"},
    };
    for (const auto& sidecar : cases) {
        SCOPED_TRACE(sidecar.encode());
        const auto decoded = PartialSidecar::decode(sidecar.encode());
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->url, sidecar.url);
        EXPECT_EQ(decoded->sha256, sidecar.sha256);
        EXPECT_EQ(decoded->etag, sidecar.etag);
        EXPECT_EQ(decoded->lastModified, sidecar.lastModified);
    }
    EXPECT_EQ((PartialSidecar{.url = "u", .sha256 = "d", .etag = "\"e\"", .lastModified = {}}.encode()),
              "{\"url\":\"u\",\"sha256\":\"d\",\"etag\":\"\\\"e\\\"\"}\n");
}

TEST(PartialSidecar, AnythingOddIsDiscarded)
{
    const std::string head = "{\"url\": \"https://example.org/a\", \"sha256\": \"" + digest + "\"";
    const struct {
        const char* label;
        std::string json;
    } cases[] = {
        {"empty", ""},
        {"cut short", head},
        {"not an object", "[\"https://example.org/a\"]"},
        {"no digest", "{\"url\": \"https://example.org/a\"}"},
        {"no address", "{\"sha256\": \"" + digest + "\"}"},
        {"an empty address", "{\"url\": \"\", \"sha256\": \"" + digest + "\"}"},
        {"a number for a string", "{\"url\": \"https://example.org/a\", \"sha256\": 5}"},
        {"an unknown member", head + ", \"size\": \"5\"}"},
        {"a weak entity tag", head + ", \"etag\": \"W/\\\"v1\\\"\"}"},
        {"an entity tag without quotes", head + ", \"etag\": \"v1\"}"},
        {"a date in quotes", head + ", \"lastModified\": \"\\\"v1\\\"\"}"},
        {"a line break in a validator", head + ", \"lastModified\": \"Wed\\r\\nX-Planted: 1\"}"},
        {"a NUL byte", head + std::string(1, '\0') + "}"},
        {"longer than any sidecar", head + std::string(5000, ' ') + "}"},
        {"text after the object", head + "} {}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_FALSE(PartialSidecar::decode(c.json));
    }
    EXPECT_TRUE(PartialSidecar::decode(head + "}")) << "the rows above differ from an accepted sidecar";
}

} // namespace
} // namespace corvanel

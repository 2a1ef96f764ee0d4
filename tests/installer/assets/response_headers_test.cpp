#include "installer/assets/response_headers.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace corvanel {

namespace {

const std::string part = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 100-340/341\r\nContent-Length: 241\r\n"
                         "ETag: \"v1\"\r\nLast-Modified: Wed, 21 Oct 2015 07:28:00 GMT\r\n\r\n";

TEST(ResponseHeaders, TheLastCompleteAnswerIsRead)
{
    const struct {
        const char* label;
        std::string dump;
        int status;
        std::optional<std::int64_t> rangeStart;
        std::optional<std::int64_t> completeLength;
        std::string validator;
    } cases[] = {
        {"a part", part, 206, 100, 341, "\"v1\""},
        {"a whole file over HTTP/2",
         "HTTP/2 200\r\ncontent-length: 341\r\nlast-modified: Wed, 21 Oct 2015 07:28:00 GMT\r\n\r\n", 200, std::nullopt,
         341, "Wed, 21 Oct 2015 07:28:00 GMT"},
        {"after a redirect", "HTTP/1.1 302 Found\r\nLocation: /x\r\nETag: \"old\"\r\n\r\n" + part, 206, 100, 341,
         "\"v1\""},
        {"line feeds only", "HTTP/1.1 200 OK\nContent-Length: 5\nEtag:   \"v2\"  \n\n", 200, std::nullopt, 5, "\"v2\""},
        {"a 416 with the size", "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */341\r\n\r\n", 416,
         std::nullopt, 341, ""},
        {"a weak entity tag falls back on the date",
         "HTTP/1.1 200 OK\r\nETag: W/\"v1\"\r\nLast-Modified: Wed, 21 Oct 2015 07:28:00 GMT\r\n\r\n", 200, std::nullopt,
         std::nullopt, "Wed, 21 Oct 2015 07:28:00 GMT"},
        {"two entity tags are none", "HTTP/1.1 200 OK\r\nETag: \"a\"\r\nETag: \"b\"\r\n\r\n", 200, std::nullopt,
         std::nullopt, ""},
        {"a range on a 200 is no part", "HTTP/1.1 200 OK\r\nContent-Range: bytes 0-4/5\r\nContent-Length: 5\r\n\r\n",
         200, std::nullopt, 5, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto answer = parseResponseHeaders(c.dump);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, c.status);
        EXPECT_EQ(answer->rangeStart, c.rangeStart);
        EXPECT_EQ(answer->completeLength, c.completeLength);
        EXPECT_EQ(answer->validator(), c.validator);
    }
}

TEST(ResponseHeaders, AnythingIncompleteOrMalformedIsNoAnswer)
{
    const struct {
        const char* label;
        std::string dump;
    } cases[] = {
        {"nothing yet", ""},
        {"a status line still arriving", "HTTP/1.1 20"},
        {"headers still arriving", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"},
        {"the final answer still arriving after a redirect", "HTTP/1.1 302 Found\r\n\r\nHTTP/1.1 200 OK\r\n"},
        {"no status line", "Content-Length: 5\r\n\r\n"},
        {"a status of two digits", "HTTP/1.1 20 OK\r\n\r\n"},
        {"a status with letters", "HTTP/1.1 2x0 OK\r\n\r\n"},
        {"a header without a colon", "HTTP/1.1 200 OK\r\nContent-Length 5\r\n\r\n"},
        {"a folded header", "HTTP/1.1 200 OK\r\nETag: \"a\"\r\n \"b\"\r\n\r\n"},
        {"a negative length", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n"},
        {"a length beyond 64 bits", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n"},
        {"two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n"},
        {"a range past the size", "HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-341/341\r\n\r\n"},
        {"a range backwards", "HTTP/1.1 206 Partial\r\nContent-Range: bytes 9-3/341\r\n\r\n"},
        {"a range in other units", "HTTP/1.1 206 Partial\r\nContent-Range: items 0-3/341\r\n\r\n"},
        {"a NUL byte", std::string("HTTP/1.1 200 OK\r\nETag: \"a\0\"\r\n\r\n", 30)},
        {"longer than any answer", "HTTP/1.1 200 OK\r\nX-Padding: " + std::string(70'000, 'x') + "\r\n\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_FALSE(parseResponseHeaders(c.dump));
    }
}

TEST(ResponseHeaders, OnlyValidatorsThatCannotAlterARequestAreUsable)
{
    const struct {
        std::string value;
        bool usable;
    } cases[] = {
        {"\"5f-a1\"", true},
        {"Wed, 21 Oct 2015 07:28:00 GMT", true},
        {"", false},
        {"W/\"5f\"", false},
        {"\"a\"b\"", false},
        {"\"a\r\nX-Planted: 1\"", false},
        {"Wed, 21 Oct\r\nX-Planted: 1", false},
        {"\"\\\"\"", false},
        {" padded", false},
        {"\"" + std::string(250, 'a') + "\"", false},
        {"caf\xC3\xA9", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(isUsableValidator(c.value), c.usable);
    }
}

} // namespace
} // namespace corvanel

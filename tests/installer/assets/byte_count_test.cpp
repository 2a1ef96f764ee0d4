#include "installer/assets/byte_count.h"

#include <gtest/gtest.h>

#include <limits>

namespace corvanel {

TEST(ByteCount, ReadsLikeAFileSizeInDecimalUnits)
{
    const struct {
        std::int64_t bytes;
        const char* text;
    } cases[] = {
        {0, "Zero KB"},
        {1, "1 byte"},
        {2, "2 bytes"},
        {999, "999 bytes"},
        {1'000, "1 KB"},
        {1'499, "1 KB"},
        {1'500, "2 KB"},
        {1'024, "1 KB"},
        {999'499, "999 KB"},
        {999'500, "1 MB"},
        {999'999, "1 MB"},
        {1'000'000, "1 MB"},
        {1'049'999, "1 MB"},
        {1'050'000, "1.1 MB"},
        {1'500'000, "1.5 MB"},
        {341'000'000, "341 MB"},
        {341'040'000, "341 MB"},
        {999'949'999, "999.9 MB"},
        {999'950'000, "1 GB"},
        {1'000'000'000, "1 GB"},
        {1'073'741'824, "1.07 GB"},
        {1'200'000'000, "1.2 GB"},
        {1'230'000'000, "1.23 GB"},
        {1'234'999'999, "1.23 GB"},
        {1'235'000'000, "1.24 GB"},
        {999'994'999'999, "999.99 GB"},
        {999'995'000'000, "1 TB"},
        {2'500'000'000'000, "2.5 TB"},
        {12'345'000'000'000, "12.35 TB"},
        {std::numeric_limits<std::int64_t>::max(), "9.22 EB"},
        {-1'500, "-2 KB"},
        {std::numeric_limits<std::int64_t>::min(), "-9.22 EB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(formatByteCount(c.bytes), c.text);
    }
}

} // namespace corvanel

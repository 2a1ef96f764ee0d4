#include "installer/setup_log.h"

#include <gtest/gtest.h>

namespace corvanel {

TEST(Elapsed, FormatsWholeSecondsAndMinutesWithoutHours)
{
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0, "0s"},       {42, "42s"},       {59.9, "59s"},    {60, "1m 0s"}, {65, "1m 5s"},
        {900, "15m 0s"}, {3700, "61m 40s"}, {3725, "62m 5s"}, {-3, "0s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(elapsed(c.seconds), c.text);
    }
}

} // namespace corvanel

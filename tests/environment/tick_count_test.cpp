// The 64-bit millisecond count that launcher.exe builds from the 32-bit one on Windows XP,
// where the thread library's GetTickCount64 is missing.
#include <gtest/gtest.h>

#include <cstdint>

#include "environment/tick_count.h"

TEST(TickCount, ExtendsThe32BitCountAcrossItsWraps)
{
    struct Case {
        const char* name;
        std::uint64_t last;
        std::uint32_t now;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {"first reading", 0, 1234, 1234},
        {"time goes on", 1234, 5000, 5000},
        {"same reading twice", 5000, 5000, 5000},
        {"the count wraps", 0xFFFFFFF0ull, 0x10, 0x100000010ull},
        {"after a wrap", 0x100000010ull, 0x20, 0x100000020ull},
        {"second wrap", 0x1FFFFFFFFull, 0, 0x200000000ull},
        {"last reading before a wrap", 0x1FFFFFFF0ull, 0xFFFFFFFF, 0x1FFFFFFFFull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, ExtendTickCount(c.last, c.now));
    }
}

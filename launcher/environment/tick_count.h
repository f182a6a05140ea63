// A 64-bit millisecond count built from the 32-bit one, for systems without GetTickCount64.
#pragma once

#include <cstdint>

// The 64-bit count for a 32-bit reading `now` taken after the count `last` was returned: the
// high half counts the wraps of the 32-bit count (every 49.7 days). A reading below the low
// half of `last` means the 32-bit count wrapped in between; so at least one reading per
// wrap period keeps the count exact.
constexpr std::uint64_t ExtendTickCount(std::uint64_t last, std::uint32_t now)
{
    std::uint64_t next = (last & 0xFFFFFFFF00000000ull) | now;
    if (now < static_cast<std::uint32_t>(last))
        next += 0x100000000ull;
    return next;
}

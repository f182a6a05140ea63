// GetTickCount64 for the static thread library, linked into launcher.exe only.
//
// The C++ runtime's thread library (winpthreads, linked statically) imports GetTickCount64,
// which kernel32 has only from Vista on; on Windows XP the loader would refuse the whole
// program. This file defines the import's address slot itself, so the linker takes it instead
// of kernel32's: the system's function where it exists, otherwise a count extended from
// GetTickCount.
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "environment/system_functions.h"
#include "environment/tick_count.h"

namespace {

using TickCount64Function = ULONGLONG(WINAPI*)();

std::atomic<TickCount64Function> g_systemTickCount64{nullptr};
std::atomic<bool> g_looked{false};
// The last count handed out on a system without GetTickCount64.
std::atomic<std::uint64_t> g_extended{0};

ULONGLONG WINAPI TickCount64()
{
    // No function-local static: its guard may itself wait on the thread library.
    if (!g_looked.load(std::memory_order_acquire)) {
        g_systemTickCount64.store(FindKernel32Function<TickCount64Function>("GetTickCount64"));
        g_looked.store(true, std::memory_order_release);
    }
    if (const TickCount64Function system = g_systemTickCount64.load())
        return system();

    std::uint64_t last = g_extended.load();
    for (;;) {
        // Read after `last`, so a reading older than another thread's stored count is never
        // mistaken for a wrap.
        const std::uint64_t next = ExtendTickCount(last, GetTickCount());
        if (g_extended.compare_exchange_weak(last, next))
            return next;
    }
}

}  // namespace

// The slot an import of GetTickCount64 calls through (i686 name decoration: stdcall, no
// arguments).
extern "C" {
extern TickCount64Function const launcherTickCount64Slot __asm__("__imp__GetTickCount64@0");
TickCount64Function const launcherTickCount64Slot = &TickCount64;
}

// The guard that code compiled with -fstack-protector-strong checks before
// it returns, seeded as the library is loaded (frame/stack_protection.cpp).
#pragma once

#include <windows.h>

#include <cstdint>

namespace vmsi {

// The value the guard has until the library's start-up seeds it; never 0.
inline constexpr std::uintptr_t unseededStackGuard =
    static_cast<std::uintptr_t>(0x2F6B8E4AD3C51907ull);

// RtlGenRandom, which advapi32 exports as SystemFunction036 (Windows XP and
// later) and no import library names.
using RandomSource = BOOLEAN(WINAPI*)(PVOID buffer, ULONG length);

// advapi32's RtlGenRandom, or null where it has none. advapi32 is among the
// library's imports, so it is loaded before the library's start-up runs, and
// nothing is loaded to answer.
RandomSource platformRandomSource();

// A value for the guard, never 0: the random source's bytes when it gives
// them, else a mix of what the process has at hand (the time, the counters,
// its ids and the addresses of its image and stack, which ASLR moves).
std::uintptr_t stackGuardSeed(RandomSource random);

} // namespace vmsi

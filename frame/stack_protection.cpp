// The guard and the failure routine that code compiled with
// -fstack-protector-strong calls (cmake/VmsiLibrary.cmake). The toolchain's
// own, in libssp, seed the guard through CryptGenRandom as the library is
// loaded, which loads a cryptographic provider DLL while the loader lock is
// held. The guard is seeded here instead from RtlGenRandom, which answers
// from the system's own generator without loading anything, and where that
// gives nothing, as the platform's own compilers seed theirs: from what the
// process already has at hand.
#include "stack_protection.h"

#include <windows.h>

#include <cstdint>

extern "C" {

std::uintptr_t __stack_chk_guard = vmsi::unseededStackGuard;

// A function found its guard overwritten: its return address may be an
// attacker's. The process ends at once (fast fail, or where the platform
// has none, termination), so that no handler of the installer can resume
// it.
[[noreturn]] void __stack_chk_fail() {
    __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE));
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    __builtin_unreachable();
}

} // extern "C"

namespace vmsi {

RandomSource platformRandomSource() {
    const HMODULE advapi32 = GetModuleHandleA("advapi32.dll");
    return advapi32 != nullptr ? reinterpret_cast<RandomSource>(reinterpret_cast<void*>(
                                     GetProcAddress(advapi32, "SystemFunction036")))
                               : nullptr;
}

std::uintptr_t stackGuardSeed(RandomSource random) {
    std::uintptr_t guard = 0;
    if (random != nullptr && random(&guard, sizeof guard) && guard != 0) {
        return guard;
    }
    FILETIME time = {};
    GetSystemTimeAsFileTime(&time);
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    std::uint64_t seed =
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    seed ^= static_cast<std::uint64_t>(counter.QuadPart);
    seed ^= static_cast<std::uint64_t>(GetCurrentProcessId()) << 40;
    seed ^= static_cast<std::uint64_t>(GetCurrentThreadId()) << 20;
    seed ^= GetTickCount64() << 8;
    seed ^= reinterpret_cast<std::uintptr_t>(&seed);
    seed ^= static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&__stack_chk_guard)) << 16;
    guard = static_cast<std::uintptr_t>(seed ^ (seed >> 32));
    return guard != 0 ? guard : __stack_chk_guard;
}

} // namespace vmsi

namespace {

// Runs with the image's other constructors, before DllMain and before any
// export can be called; no protected function is running then. Unprotected
// itself: the guard changes while it runs.
__attribute__((constructor, no_stack_protector)) void seedStackGuard() {
    __stack_chk_guard = vmsi::stackGuardSeed(vmsi::platformRandomSource());
}

} // namespace

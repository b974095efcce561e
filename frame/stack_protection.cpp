// The guard and the failure routine that code compiled with
// -fstack-protector-strong calls (cmake/VmsiLibrary.cmake). The toolchain's
// own, in libssp, seed the guard through CryptGenRandom as the library is
// loaded, which loads a cryptographic provider DLL while the loader lock is
// held. The guard is seeded here instead as the platform's own compilers
// seed theirs: from what the process already has at hand, the addresses of
// its image and stack (which ASLR moves) among them.
#include <windows.h>

#include <cstdint>

extern "C" {

// The value the guard has until the library's start-up seeds it; never 0.
std::uintptr_t __stack_chk_guard = static_cast<std::uintptr_t>(0x2F6B8E4AD3C51907ull);

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

namespace {

// Runs with the image's other constructors, before DllMain and before any
// export can be called; no protected function is running then. Unprotected
// itself: the guard changes while it runs.
__attribute__((constructor, no_stack_protector)) void seedStackGuard() {
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
    const std::uintptr_t guard = static_cast<std::uintptr_t>(seed ^ (seed >> 32));
    if (guard != 0) {
        __stack_chk_guard = guard;
    }
}

} // namespace

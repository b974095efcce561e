// What the library's DLLs take from the C++ runtime, in place of libstdc++.
//
// The DLLs are linked without libstdc++ (cmake/VmsiLibrary.cmake). Its
// compiled part would bring, for the few functions that std::string and
// std::vector call out of line, the whole of C++ exception handling: the
// unwinder and its tables, the exception classes with a string type of
// their own, the terminate handler with its symbol demangler, and the
// pthreads emulation that they lock with; over 200 KiB of the 32-bit DLL.
//
// The library is built without exceptions. What these functions would have
// thrown (memory exhausted, a text longer than std::string allows) reached
// no handler before either: no caller of an export catches C++ exceptions,
// so the process ended in std::terminate, which aborts. They abort at once.
#include <cstddef>
#include <cstdlib>

namespace {

[[noreturn]] void abortProcess() {
    std::abort();
}

} // namespace

void* operator new(std::size_t size) {
    // new never answers null, not even for zero bytes.
    void* block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr) {
        abortProcess();
    }
    return block;
}

void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

// The library's std::string and std::vector report their errors through
// these (and the allocator of a std::vector of std::string through the
// last).
namespace std {

void __throw_bad_alloc() {
    abortProcess();
}

void __throw_length_error(const char*) {
    abortProcess();
}

void __throw_logic_error(const char*) {
    abortProcess();
}

void __throw_out_of_range_fmt(const char*, ...) {
    abortProcess();
}

void __throw_bad_array_new_length() {
    abortProcess();
}

} // namespace std

// Move-only owners of Win32 handles, one per handle kind, each with the
// invalid value its kind really uses. Whatever path a routine leaves by, what
// it opened is closed.
#pragma once

#include <windows.h>

#include <utility>

namespace vmsi {

template <typename Traits>
class UniqueHandle {
public:
    using Value = typename Traits::Value;

    UniqueHandle() = default;
    explicit UniqueHandle(Value value) : value_(value) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    bool valid() const { return value_ != Traits::invalid(); }
    explicit operator bool() const { return valid(); }
    Value get() const { return value_; }

    // For functions that hand the handle out through a pointer argument.
    Value* receive() {
        reset();
        return &value_;
    }

    Value release() { return std::exchange(value_, Traits::invalid()); }

    void reset(Value value = Traits::invalid()) {
        Value old = std::exchange(value_, value);
        if (old != Traits::invalid()) {
            Traits::close(old);
        }
    }

private:
    Value value_ = Traits::invalid();
};

struct RegistryKeyTraits {
    using Value = HKEY;
    static Value invalid() { return nullptr; }
    static void close(Value key) { RegCloseKey(key); }
};

// Files and processes; CreateFile reports failure as INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Value = HANDLE;
    static Value invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Value handle) { CloseHandle(handle); }
};

// Process and thread handles, which are null when absent.
struct KernelHandleTraits {
    using Value = HANDLE;
    static Value invalid() { return nullptr; }
    static void close(Value handle) { CloseHandle(handle); }
};

struct FindHandleTraits {
    using Value = HANDLE;
    static Value invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Value handle) { FindClose(handle); }
};

struct LoadedModuleTraits {
    using Value = HMODULE;
    static Value invalid() { return nullptr; }
    static void close(Value module) { FreeLibrary(module); }
};

// The export of that name in a loaded module, as the function type the
// caller names; null when the module has none.
template <typename Function = FARPROC>
Function exportOf(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

using RegistryKey = UniqueHandle<RegistryKeyTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using LoadedModule = UniqueHandle<LoadedModuleTraits>;

// What CreateProcess hands back: both handles are owned and both are closed,
// the process handle first.
struct ProcessInformation {
    KernelHandle process;
    KernelHandle thread;
    DWORD processId = 0;
    DWORD threadId = 0;

    ProcessInformation() = default;
    explicit ProcessInformation(const PROCESS_INFORMATION& created)
        : process(created.hProcess), thread(created.hThread), processId(created.dwProcessId),
          threadId(created.dwThreadId) {}
    ProcessInformation(ProcessInformation&&) = default;
    ProcessInformation& operator=(ProcessInformation&&) = default;
    ~ProcessInformation() { close(); }

    // Closes the process handle and then the thread handle.
    void close() {
        process.reset();
        thread.reset();
    }
};

} // namespace vmsi

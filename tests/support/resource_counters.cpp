#include "resource_counters.h"

#include "handles.h"

#include <windows.h>

#include <vector>

namespace vmsi::test {

namespace {

// The layout of SystemHandleInformation (class 16) entries.
struct SystemHandleEntry {
    ULONG processId;
    BYTE objectType;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK grantedAccess;
};

struct SystemHandleTable {
    ULONG count;
    SystemHandleEntry entries[1];
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr ULONG systemHandleInformation = 16;
constexpr LONG statusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

} // namespace

int openHandleCount() {
    auto query =
        exportOf<QuerySystemInformation>(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    if (query == nullptr) {
        return -1;
    }
    std::vector<unsigned char> table(1 << 20);
    ULONG needed = 0;
    LONG status;
    while ((status = query(systemHandleInformation, table.data(), static_cast<ULONG>(table.size()),
                           &needed)) == statusInfoLengthMismatch) {
        table.resize(table.size() * 2);
    }
    if (status != 0) {
        return -1;
    }
    const auto* handles = reinterpret_cast<const SystemHandleTable*>(table.data());
    const DWORD self = GetCurrentProcessId();
    int count = 0;
    for (ULONG i = 0; i < handles->count; ++i) {
        count += handles->entries[i].processId == self;
    }
    return count;
}

std::size_t privateCommittedBytes() {
    std::size_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* address = nullptr;
         VirtualQuery(address, &region, sizeof region) == sizeof region;
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            total += region.RegionSize;
        }
        if (static_cast<const char*>(region.BaseAddress) + region.RegionSize < address) {
            break; // wrapped around the top of the address space
        }
    }
    return total;
}

std::size_t heapBytesInUse() {
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    std::size_t total = 0;
    for (HANDLE heap : heaps) {
        if (!HeapLock(heap)) {
            continue;
        }
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heap, &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                total += entry.cbData;
            }
        }
        HeapUnlock(heap);
    }
    return total;
}

} // namespace vmsi::test

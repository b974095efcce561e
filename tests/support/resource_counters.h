// What this process holds, for the leak tests. Under Wine
// GetProcessHandleCount always answers 0 and PrivateUsage stays 0, so the
// handles are counted from the system's handle table and the memory from
// the address space and the heaps themselves.
#pragma once

#include <cstddef>

namespace vmsi::test {

// Open handles of this process in NtQuerySystemInformation's
// SystemHandleInformation table (files, registry keys, events, processes,
// threads...), or -1 when the table cannot be read.
int openHandleCount();

// Committed private memory of this process: the sum of its MEM_PRIVATE,
// MEM_COMMIT regions (VirtualQuery).
std::size_t privateCommittedBytes();

// Bytes of every heap of the process that are handed out and not freed
// (HeapWalk over GetProcessHeaps), which is where the C++ runtime's
// allocations live.
std::size_t heapBytesInUse();

} // namespace vmsi::test

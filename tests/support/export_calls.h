// Calling any action of the loaded library by the description the action
// runner keeps of it (tools/export_table.h): the owner window, its
// arguments in order, and a result buffer for the two that hand a text back.
//
// Every argument of every action is a window handle, a pointer or an int,
// and each takes exactly one argument slot in both calling conventions the
// library is built for (32-bit __stdcall: one 4-byte stack slot; x64: one
// register or 8-byte stack slot, of which an int uses the low half). So an
// action can be called through a prototype whose arguments are all
// pointer-sized integers, with the same effect as through its own.
#pragma once

#include "export_table.h"

#include <windows.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace vmsi::test {

using Slot = std::intptr_t;

inline int callAction(FARPROC address, const std::vector<Slot>& slots) {
    const auto function = reinterpret_cast<void*>(address);
    switch (slots.size()) {
    case 2:
        return reinterpret_cast<int(__stdcall*)(Slot, Slot)>(function)(slots[0], slots[1]);
    case 3:
        return reinterpret_cast<int(__stdcall*)(Slot, Slot, Slot)>(function)(slots[0], slots[1],
                                                                             slots[2]);
    case 4:
        return reinterpret_cast<int(__stdcall*)(Slot, Slot, Slot, Slot)>(function)(
            slots[0], slots[1], slots[2], slots[3]);
    case 5:
        return reinterpret_cast<int(__stdcall*)(Slot, Slot, Slot, Slot, Slot)>(function)(
            slots[0], slots[1], slots[2], slots[3], slots[4]);
    case 7:
        return reinterpret_cast<int(__stdcall*)(Slot, Slot, Slot, Slot, Slot, Slot, Slot)>(
            function)(slots[0], slots[1], slots[2], slots[3], slots[4], slots[5], slots[6]);
    default:
        throw std::logic_error("no action takes " + std::to_string(slots.size()) + " arguments");
    }
}

// The number of argument slots of an action: the owner window, its
// arguments, and the result buffer of a buffer action.
inline std::size_t slotCount(const tools::ExportDescription& description) {
    return 1 + description.argumentCount +
           (description.kind == tools::ExportKind::BufferAction ? 1 : 0);
}

} // namespace vmsi::test

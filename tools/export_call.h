// Calling an export of the table by address, as an installer would: for the
// action runner, the tests and the benchmarks, which load the library and
// call what it exports. The library itself never calls through here.
#pragma once

#include "export_table.h"
#include "text.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

namespace vmsi {

// One argument as an installer passes it: a text, possibly null, or an int.
struct ArgumentValue {
    bool isNull = false;
    Text text;
    int integer = 0;

    static ArgumentValue nullText() { return {true, Text(), 0}; }
    static ArgumentValue ofText(Text value) { return {false, std::move(value), 0}; }
    static ArgumentValue ofInteger(int value) { return {false, Text(), value}; }
};

// Whether callExport below has a prototype for every action of the table.
constexpr bool everyActionIsCallable() {
    for (const ExportDescription& description : exportTable) {
        const std::size_t slots = description.slotCount();
        if (description.kind != ExportKind::IdentityFunction &&
            (slots < 2 || slots == 6 || slots > 7)) {
            return false;
        }
    }
    return true;
}
static_assert(everyActionIsCallable(), "callExport has no prototype for an action of the table");

// Calls an action (not the identity function) at that address as an
// installer would: a null owner window, the arguments in the table's order
// (one value per argument) and, for a buffer action, the result buffer;
// returns the action's result.
//
// Every argument of every action is a window handle, a pointer or an int,
// one slot each in both calling conventions the library is built for, of
// which an int uses the low half on x64. So an action can be called through
// a prototype whose arguments are all pointer-sized integers, with the same
// effect as through its own.
inline int callExport(FARPROC address, const ExportDescription& action,
                      const std::vector<ArgumentValue>& arguments, char* resultBuffer) {
    using Slot = std::intptr_t;
    std::vector<Slot> slots = {0};
    for (std::size_t i = 0; i < action.argumentCount; ++i) {
        const ArgumentValue& argument = arguments[i];
        slots.push_back(action.arguments[i].kind == ArgumentKind::Integer ? argument.integer
                        : argument.isNull                                 ? 0
                                          : reinterpret_cast<Slot>(argument.text.c_str()));
    }
    if (action.kind == ExportKind::BufferAction) {
        slots.push_back(reinterpret_cast<Slot>(resultBuffer));
    }
    const auto function = reinterpret_cast<void*>(address);
    switch (action.kind == ExportKind::IdentityFunction ? 0 : slots.size()) {
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
        std::abort(); // no action of the table takes another number
    }
}

} // namespace vmsi

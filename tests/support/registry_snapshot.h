// What a registry subtree holds, to show that an action changed nothing in
// the registry.
#pragma once

#include "text.h"

#include <windows.h>

#include <map>

namespace vmsi::test {

// Every key below root\keyPath (the key itself as "") and every value in
// them ("key\\:value"), with the value's type and data. A missing key is
// one entry saying so.
using RegistrySnapshot = std::map<Text, Text>;
RegistrySnapshot registrySnapshotOf(HKEY root, const Text& keyPath);

} // namespace vmsi::test

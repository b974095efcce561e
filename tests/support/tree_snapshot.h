// What a folder tree holds, to show that an action changed nothing outside
// the places it was given.
#pragma once

#include "text.h"

#include <map>

namespace vmsi::test {

// Relative path of every folder and file below root (root itself as ""),
// with its attributes and, for a file, its contents. Links to folders are
// listed, never followed.
using TreeSnapshot = std::map<Text, Text>;
TreeSnapshot snapshotOf(const Text& root);

// The snapshot without the given relative path and everything below it.
TreeSnapshot without(TreeSnapshot snapshot, const Text& relativePath);

} // namespace vmsi::test

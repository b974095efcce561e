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

// The entries directly in a folder, with their attributes, sizes and times
// of last writing, for places too large to compare whole (C:\, the temporary
// folder): whatever is created, deleted or written there shows.
TreeSnapshot listingOf(const Text& folder);

// The snapshot without the given relative path and everything below it.
TreeSnapshot without(TreeSnapshot snapshot, const Text& relativePath);

} // namespace vmsi::test

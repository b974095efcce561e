// Command lines of the programs the actions start. Pure text work, with no
// platform calls, so that it also builds natively for fuzzing.
#pragma once

#include <string>

namespace vmsi {

// The program's path, one space, the parameters. The path is put in double
// quotes when it holds a space or a tab, so that the started program splits
// its own command line where the path really ends; otherwise the line is
// exactly path, space, parameters (which ends in the space when the
// parameters are empty).
std::string launchCommandLine(const std::string& programPath, const std::string& parameters);

} // namespace vmsi

// Command lines of the programs the actions start. Pure text work, with no
// platform calls, so that it also builds natively for fuzzing.
#pragma once

#include "path_normaliser.h"

#include <cstddef>
#include <string>

namespace vmsi {

// No process may be given a longer command line, terminating zero included.
constexpr std::size_t commandLineLimit = 32767;

// The program's path, one space, the parameters. The path is put in double
// quotes when it holds a space or a tab, so that the started program splits
// its own command line where the path really ends; otherwise the line is
// exactly path, space, parameters (which ends in the space when the
// parameters are empty).
Text launchCommandLine(const Text& programPath, const Text& parameters);

// Whether the options are the registration tool's own switches and nothing
// else: /s, /u, /n, /i and /i:text (the text without spaces, quotes or
// control characters), in any case, with - for /, separated by spaces. Empty
// options hold no switch and pass. Anything else could name a second
// component for the tool to load and run.
bool areRegistrationSwitches(const Text& options, LeadByteTest isLeadByte);

// The registration tool's command line: "regsvr32 ", the options as given,
// one space, the component path in double quotes. Empty options leave two
// spaces before the quote. Built whole, whatever the lengths.
Text registrationCommandLine(const Text& options, const Text& componentPath);

// The parameters of the catalogue conversion tool:
//   " -i -o " "<old catalogue>" " -n " "<new folder>\<new file name>"
// The old catalogue's path goes in byte for byte. The new path is normalised,
// so a folder given with or without a trailing backslash yields one backslash
// before the file name; the normaliser's rule for a leading backslash does
// not apply, but a new folder that begins with two backslashes (a network
// share) keeps them. Inside each pair of quotes a run of backslashes that
// ends right before the closing quote is doubled, so that the tool reads
// each path whole rather than as an escaped quote. Empty texts still give
// every switch. A text that holds a double quote cannot be passed whole:
// the caller refuses it.
Text catalogueConversionParameters(const Text& oldCatalogue, const Text& newFolder,
                                   const Text& newFileName, LeadByteTest isLeadByte);

} // namespace vmsi

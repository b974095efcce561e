// Unix symbolic links in the prefix, for conditions only a link produces.
//
// Wine 8 cannot make one itself: CreateSymbolicLinkA answers TRUE and
// creates nothing, and junctions are not supported. A Unix symbolic link to
// a folder is what Windows programs under Wine see as a reparse point
// (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT); a link to a
// file is not marked as one. So the links are made with the Unix ln, which
// Wine starts when asked to create a process from a Unix program.
#pragma once

#include "text.h"

#include <windows.h>

namespace vmsi::test {

// Runs a command line of the Unix shell and waits until it has ended, at
// most the given time (a failure when it has not). Its text goes between
// double quotes of a sh -c command: quote inside it with single quotes.
void runUnixShellCommand(const Text& command, DWORD timeoutMilliseconds);

// The Unix path of a Windows path in the prefix (Wine's own mapping), and
// the Windows path of a Unix path (through the Z: drive).
Text unixPathOf(const Text& windowsPath);
Text windowsPathOf(const Text& unixPath);

// A Unix symbolic link at linkPath (a Windows path) to unixTarget, for the
// life of the object; then the link itself is removed, never its target.
// Win32 cannot remove a link to a folder under Wine (RemoveDirectoryA and
// DeleteFileA both fail on it), so the object must go before the folder
// that holds it.
class UnixSymbolicLink {
public:
    UnixSymbolicLink(const Text& linkPath, const Text& unixTarget);
    ~UnixSymbolicLink();
    UnixSymbolicLink(const UnixSymbolicLink&) = delete;
    UnixSymbolicLink& operator=(const UnixSymbolicLink&) = delete;

private:
    Text unixLinkPath_;
};

} // namespace vmsi::test

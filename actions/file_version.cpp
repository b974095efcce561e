#include "file_version.h"

#include "VardoMSICustomActions.h"
#include "diagnostics.h"
#include "handles.h"
#include "paths.h"

#include <cstring>
#include <vector>

namespace vmsi {

namespace {

// Rounds of a search whose path keeps outgrowing the buffer before it is
// given up: each answer is the size of a path that existed a moment before.
constexpr int searchRounds = 4;

// The version functions, from version.dll loaded for the call. The library
// does not import it: it is not among the system libraries that the loader
// always takes from the system folder, and a version.dll planted beside the
// installer would be loaded in its place. Loaded by its full path, it is the
// system's own.
class VersionLibrary {
public:
    VersionLibrary() {
        const Text path = systemFilePath("version.dll");
        if (path.empty()) {
            return;
        }
        module_.reset(LoadLibraryA(path.c_str()));
        if (!module_) {
            return;
        }
        getInfoSize_ =
            exportOf<decltype(&GetFileVersionInfoSizeA)>(module_.get(), "GetFileVersionInfoSizeA");
        getInfo_ = exportOf<decltype(&GetFileVersionInfoA)>(module_.get(), "GetFileVersionInfoA");
        queryValue_ = exportOf<decltype(&VerQueryValueA)>(module_.get(), "VerQueryValueA");
    }

    bool loaded() const {
        return getInfoSize_ != nullptr && getInfo_ != nullptr && queryValue_ != nullptr;
    }

    // The fixed file information of the file's version resource, if it has
    // one that can be read.
    std::optional<VS_FIXEDFILEINFO> fixedFileInfo(const Text& path) const {
        const DWORD size = getInfoSize_(path.c_str(), nullptr);
        if (size == 0) {
            return std::nullopt;
        }
        std::vector<unsigned char> block(size);
        if (!getInfo_(path.c_str(), 0, size, block.data())) {
            return std::nullopt;
        }
        void* value = nullptr;
        UINT valueSize = 0;
        if (!queryValue_(block.data(), "\\", &value, &valueSize) || value == nullptr ||
            valueSize < sizeof(VS_FIXEDFILEINFO)) {
            return std::nullopt;
        }
        VS_FIXEDFILEINFO fixed;
        std::memcpy(&fixed, value, sizeof fixed);
        return fixed;
    }

private:
    LoadedModule module_;
    decltype(&GetFileVersionInfoSizeA) getInfoSize_ = nullptr;
    decltype(&GetFileVersionInfoA) getInfo_ = nullptr;
    decltype(&VerQueryValueA) queryValue_ = nullptr;
};

// A version number as packed into a 32-bit word: the more significant
// number times 65536 plus the other, in 32-bit arithmetic that wraps, so a
// number above 65535 carries into the one before it.
DWORD packedVersionWord(int moreSignificant, int lessSignificant) {
    return static_cast<DWORD>(moreSignificant) * 65536u + static_cast<DWORD>(lessSignificant);
}

} // namespace

std::optional<Text> findFile(const Text& searchName, SearchPathFunction searchPath) {
    // Kept on purpose: the search reports with a null owner window, not the
    // caller's.
    reportInformation(nullptr, "Searching for File: " + searchName);
    // A path that does not fit the buffer is answered with the size it needs;
    // the search is made again with that much room, so the path whose version
    // is read is always that of the file found.
    std::vector<char> buffer(MAX_PATH);
    for (int round = 0; round < searchRounds && fitsPlatform(searchName); ++round) {
        const DWORD length = searchPath(nullptr, searchName.c_str(), nullptr,
                                        static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0) {
            break;
        }
        if (length < buffer.size()) {
            reportInformation(nullptr, "File Found");
            return Text(buffer.data(), strnlen(buffer.data(), length));
        }
        buffer.resize(length + 1);
    }
    reportWarning(nullptr, "File Could not be Found");
    return std::nullopt;
}

bool hasMinimumVersion(const Text& foundPath, int first, int second, int third, int fourth) {
    // Kept on purpose: a null owner window, as in findFile.
    reportInformation(nullptr, foundPath);
    const VersionLibrary versionLibrary;
    if (!versionLibrary.loaded()) {
        return false;
    }
    const std::optional<VS_FIXEDFILEINFO> fixed = versionLibrary.fixedFileInfo(foundPath);
    if (!fixed) {
        return false;
    }
    const DWORD requiredHigh = packedVersionWord(first, second);
    const DWORD requiredLow = packedVersionWord(third, fourth);
    // The high words decide whenever they differ; equal versions pass.
    if (requiredHigh != fixed->dwFileVersionMS) {
        return requiredHigh < fixed->dwFileVersionMS;
    }
    return requiredLow <= fixed->dwFileVersionLS;
}

int checkVersionOfFile(HWND owner, const Text& folder, const Text& fileName, int first, int second,
                       int third, int fourth) {
    const Text searchName = folder.empty() ? fileName : joinPath(folder, fileName);
    reportInformation(owner, "Searching For: " + searchName);
    const std::optional<Text> foundPath = findFile(searchName);
    if (!foundPath) {
        return 0;
    }
    if (!hasMinimumVersion(*foundPath, first, second, third, fourth)) {
        // Kept on purpose: also when version.dll could not be loaded.
        reportWarning(owner, "Version Too low");
        return 0;
    }
    reportInformation(owner, "Version Ok");
    return 1;
}

} // namespace vmsi

// VMSI_CheckVersionOfFile: whether the file's version is high enough; 1 or 0.
extern "C" int __stdcall VMSI_CheckVersionOfFile(HWND owner, const char* folder,
                                                 const char* fileName, int first, int second,
                                                 int third, int fourth) {
    return vmsi::checkVersionOfFile(owner, vmsi::textFromArgument(folder),
                                    vmsi::textFromArgument(fileName), first, second, third, fourth);
}

// The library's identity: its own path and file version, as the real DLLs
// report them through GetDLLNameAndVersion; and the stack guard that its
// start-up seeds.
#include "grown_text.h"
#include "handles.h"
#include "module_identity.h"
#include "scratch.h"
#include "shipped_library.h"
#include "stack_protection.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace vmsi;

namespace {

using IdentityFunction = void(__stdcall*)(std::string&, std::string&);
using LaunchFunction = int(__stdcall*)(HWND, const char*, const char*, const char*);

struct Identity {
    std::string path;
    std::string version;
};

// Loads a DLL by its full path, asks it for its identity and unloads it.
Identity identityOf(const std::string& dllPath) {
    Identity identity{"unchanged", "unchanged"};
    HMODULE module = LoadLibraryA(dllPath.c_str());
    EXPECT_NE(module, nullptr) << dllPath << ": error " << GetLastError();
    if (module == nullptr) {
        return identity;
    }
    auto getIdentity = exportOf<IdentityFunction>(module, "GetDLLNameAndVersion");
    EXPECT_NE(getIdentity, nullptr);
    if (getIdentity != nullptr) {
        getIdentity(identity.path, identity.version);
    }
    FreeLibrary(module);
    return identity;
}

} // namespace

TEST(ModuleIdentity, IsTheLibrarysOwnPathAndFileVersion) {
    const std::string dll = test::shippedFile("VardoMSICustomActions.dll");
    const Identity identity = identityOf(dll);
    EXPECT_EQ(identity.path, dll);
    EXPECT_EQ(identity.version, VMSI_EXPECTED_VERSION);

    const std::string trace = test::shippedFile("VardoMSICustomActionsTrace.dll");
    EXPECT_EQ(identityOf(trace).path, trace);
}

TEST(ModuleIdentity, TakesTheFileVersionNotTheProductVersion) {
    // Built with file version 2.7.0.12 and product version 6.0.0.0.
    const std::string dll = test::besideThisProgram("VmsiFixtureVersioned.dll");
    const Identity identity = identityOf(dll);
    EXPECT_EQ(identity.path, dll);
    EXPECT_EQ(identity.version, "2.7.0.12");
}

TEST(ModuleIdentity, LoadsWithoutAVersionResource) {
    const std::string dll = test::besideThisProgram("VmsiFixtureUnversioned.dll");
    const Identity identity = identityOf(dll);
    EXPECT_EQ(identity.path, dll);
    EXPECT_EQ(identity.version, "");
}

TEST(ModuleIdentity, KeepsAPathLongerThanMaxPathWhole) {
    // Wine's 8-bit file functions stop at MAX_PATH, so the long folder is
    // made, and the library loaded, through the wide ones (ASCII only here).
    auto wide = [](const std::string& text) { return std::wstring(text.begin(), text.end()); };
    test::ScratchFolder scratch("identity-long-path");
    std::string folder = scratch.path();
    while (folder.size() < 300) {
        folder += "\\a-rather-long-folder-name-for-the-library";
        ASSERT_TRUE(CreateDirectoryW(wide("\\\\?\\" + folder).c_str(), nullptr))
            << folder << ": error " << GetLastError();
    }
    const std::string dll = folder + "\\VardoMSICustomActions.dll";
    ASSERT_TRUE(CopyFileW(wide(test::shippedFile("VardoMSICustomActions.dll")).c_str(),
                          wide("\\\\?\\" + dll).c_str(), FALSE))
        << "error " << GetLastError();

    HMODULE module = LoadLibraryW(wide(dll).c_str());
    ASSERT_NE(module, nullptr) << "error " << GetLastError();
    auto getIdentity = exportOf<IdentityFunction>(module, "GetDLLNameAndVersion");
    ASSERT_NE(getIdentity, nullptr);
    std::string path, version;
    getIdentity(path, version);
    FreeLibrary(module);
    EXPECT_GT(path.size(), std::size_t{MAX_PATH});
    EXPECT_EQ(path, dll);
    EXPECT_EQ(version, VMSI_EXPECTED_VERSION);
    // The 8-bit removal cannot reach this deep either.
    for (std::string inner = dll; inner.size() > scratch.path().size();
         inner = inner.substr(0, inner.find_last_of('\\'))) {
        DeleteFileW(wide("\\\\?\\" + inner).c_str());
        RemoveDirectoryW(wide("\\\\?\\" + inner).c_str());
    }
}

// The growth under every name lookup above (and the path, expansion and
// property reads): a call that names a size, or none, or one too small, is
// asked again with at least twice the room, and never past the limit.
TEST(GrownText, EndsWhateverSizeTheCallNames) {
    for (const std::size_t named : {std::size_t(0), std::size_t(5), std::size_t(100000)}) {
        std::vector<std::size_t> sizes;
        const std::string text = grownText<char>([&](char*, std::size_t size) {
            sizes.push_back(size);
            return BufferAnswer::tooSmall(named);
        });
        EXPECT_EQ(text, "") << named;
        ASSERT_LE(sizes.size(), 8u) << named;
        for (std::size_t i = 1; i < sizes.size(); ++i) {
            EXPECT_TRUE(sizes[i] >= std::min(2 * sizes[i - 1], pathTextLimit)) << sizes[i];
        }
        EXPECT_EQ(sizes.back(), pathTextLimit) << named;
    }
    // The size named is given at once, and a count beyond the buffer is cut.
    std::vector<std::size_t> sizes;
    const std::string text = grownText<char>([&](char* into, std::size_t size) {
        sizes.push_back(size);
        if (size < 3000) {
            return BufferAnswer::tooSmall(3000);
        }
        std::memset(into, 'n', size);
        return BufferAnswer::written(size + 10);
    });
    EXPECT_EQ(sizes, (std::vector<std::size_t>{260, 3001}));
    EXPECT_EQ(text, std::string(3001, 'n'));
}

TEST(ModuleIdentity, StaysTheSameWhateverActionsRunInBetween) {
    const std::string dll = test::shippedFile("VardoMSICustomActions.dll");
    HMODULE module = LoadLibraryA(dll.c_str());
    ASSERT_NE(module, nullptr);
    auto getIdentity = exportOf<IdentityFunction>(module, "GetDLLNameAndVersion");
    auto launchWait = exportOf<LaunchFunction>(module, "VMSI_LaunchWait");
    ASSERT_NE(getIdentity, nullptr);
    ASSERT_NE(launchWait, nullptr);

    std::string firstPath = "old content", firstVersion = "old content";
    getIdentity(firstPath, firstVersion);
    EXPECT_EQ(launchWait(nullptr, "C:\\no such folder", "setup.exe", ""), 0);
    std::string secondPath, secondVersion;
    getIdentity(secondPath, secondVersion);
    EXPECT_EQ(firstPath, dll);
    EXPECT_EQ(secondPath, firstPath);
    EXPECT_EQ(secondVersion, firstVersion);
    FreeLibrary(module);
}

TEST(FixedFileVersionText, NeverReadsOutsideABrokenVersionBlock) {
    // A well-formed block, as the resource compiler writes it.
    HMODULE module = LoadLibraryExA(test::besideThisProgram("VmsiFixtureVersioned.dll").c_str(),
                                    nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
    ASSERT_NE(resource, nullptr);
    const auto* block =
        static_cast<const unsigned char*>(LockResource(LoadResource(module, resource)));
    const std::size_t size = SizeofResource(module, resource);
    std::vector<unsigned char> copy(block, block + size);
    FreeLibrary(module);

    EXPECT_EQ(fixedFileVersionText(copy.data(), copy.size()), "2.7.0.12");
    // Cut inside the key, or inside the fixed information: no version.
    EXPECT_EQ(fixedFileVersionText(copy.data(), 20), "");
    EXPECT_EQ(fixedFileVersionText(copy.data(), 60), "");
    EXPECT_EQ(fixedFileVersionText(nullptr, 0), "");
    // A wrong signature is no fixed information.
    std::vector<unsigned char> wrongSignature = copy;
    wrongSignature[40] ^= 0xFF;
    EXPECT_EQ(fixedFileVersionText(wrongSignature.data(), wrongSignature.size()), "");
    // A key without its terminator within the block.
    std::vector<unsigned char> unterminated(38, 'A');
    unterminated[0] = 38;
    EXPECT_EQ(fixedFileVersionText(unterminated.data(), unterminated.size()), "");
}

TEST(FixedFileVersionText, WritesEachNumberAsPercentDWould) {
    // The C runtime's printf is the reference: every digit count and both
    // ends of the 16-bit range, in each of the four places.
    const WORD numbers[] = {0, 1, 9, 10, 99, 100, 999, 1000, 9999, 10000, 65534, 65535};
    for (WORD high : numbers) {
        for (WORD low : numbers) {
            char expected[32];
            std::snprintf(expected, sizeof expected, "%d.%d.%d.%d", high, low, low, high);
            EXPECT_EQ(versionText(MAKELONG(low, high), MAKELONG(high, low)), expected);
        }
    }
}

namespace {

// The guard of a loaded library: at the place of the image that holds the
// unseeded value in its file, where it must be found once.
std::uintptr_t loadedGuardOf(HMODULE module, const std::string& file) {
    const std::string image = test::readFile(file).value_or("");
    const std::string unseeded(reinterpret_cast<const char*>(&unseededStackGuard),
                               sizeof unseededStackGuard);
    const std::size_t offset = image.find(unseeded);
    EXPECT_EQ(image.find(unseeded, offset + 1), std::string::npos) << file;
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    std::uintptr_t guard = unseededStackGuard;
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD index = 0; index < nt->FileHeader.NumberOfSections; ++index, ++section) {
        if (offset - section->PointerToRawData < section->SizeOfRawData) {
            std::memcpy(&guard, base + section->VirtualAddress + offset - section->PointerToRawData,
                        sizeof guard);
        }
    }
    return guard;
}

// Stand-ins for Windows' RtlGenRandom: one whose bytes the test knows (all
// 0xA5), one that fails, and one whose bytes are all 0.
BOOLEAN WINAPI knownRandomBytes(PVOID buffer, ULONG length) {
    std::memset(buffer, 0xA5, length);
    return TRUE;
}
BOOLEAN WINAPI refusedRandomBytes(PVOID, ULONG) {
    return FALSE;
}
BOOLEAN WINAPI zeroRandomBytes(PVOID buffer, ULONG length) {
    std::memset(buffer, 0, length);
    return TRUE;
}

} // namespace

TEST(StackGuard, EveryLoadOfTheLibrarySeedsAGuardOfItsOwn) {
    test::ScratchFolder scratch("stack-guard");
    std::uintptr_t guards[2] = {};
    for (std::uintptr_t& guard : guards) {
        const std::string copy = scratch / (&guard == guards ? "first.dll" : "second.dll");
        test::copyFileOrFail(test::shippedFile("VardoMSICustomActions.dll"), copy);
        const LoadedModule module(LoadLibraryA(copy.c_str()));
        ASSERT_TRUE(module) << copy << ": error " << GetLastError();
        guard = loadedGuardOf(module.get(), copy);
        EXPECT_NE(guard, unseededStackGuard) << copy;
    }
    EXPECT_NE(guards[0], guards[1]);
}

TEST(StackGuard, ComesFromRtlGenRandomAndWithoutItFromTheProcesssOwnMix) {
    EXPECT_NE(platformRandomSource(), nullptr) << "advapi32 has no SystemFunction036";
    std::uintptr_t known = 0;
    knownRandomBytes(&known, sizeof known);
    EXPECT_EQ(stackGuardSeed(knownRandomBytes), known);
    // Without the function, when it fails, and when it gives 0.
    for (RandomSource random : {RandomSource{}, &refusedRandomBytes, &zeroRandomBytes}) {
        const std::uintptr_t guard = stackGuardSeed(random);
        EXPECT_NE(guard, 0u);
        EXPECT_NE(guard, unseededStackGuard);
        EXPECT_NE(guard, known);
    }
}

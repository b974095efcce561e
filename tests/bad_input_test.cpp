// Every action of the shipped library, called by name as the installer calls
// it, with each of its arguments in turn replaced by a hostile or broken
// value while the others keep the values of a call that succeeds. For every
// case: no crash, the result the action's contract gives for what is really
// on the disk and in the registry, nothing written past a result buffer, and
// nothing changed anywhere but in the one place the contract lets the call
// change (a snapshot of the scratch tree, of the registry keys the actions
// read, and of the places around them, before and after).
//
// The actions and their arguments come from the action runner's table
// (frame/export_table.h), which a test holds against the DLL and the header.
// Every path the cases can form lies in the bench's scratch tree (a relative
// text lands in its current folder) or is a network path of no server; the
// only program the shell can be asked to open is a folder, which the bench
// opens with a program that ends at once.
#include "action_bench.h"
#include "child_processes.h"
#include "normalising_rule.h"
#include "shipped_library.h"
#include "snapshot_differences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <functional>
#include <map>
#include <regex>

using namespace vmsi;
using namespace vmsi::test;

namespace {

constexpr std::size_t resultBufferSize = MAX_PATH; // what the header asks callers for
constexpr std::size_t guardBytes = 64;
constexpr unsigned char untouched = 0xAB;
constexpr std::size_t commandLineLimit = 32767; // terminating zero included

// One hostile or broken value for an argument, made from the value it has
// in the call that succeeds.
struct TextVariant {
    Text name;
    std::function<ArgumentValue(const Text& baseline)> make;
};

const std::vector<TextVariant>& textVariants() {
    static const std::vector<TextVariant> variants = [] {
        std::vector<TextVariant> made = {
            {"null", [](const Text&) { return ArgumentValue::nullText(); }},
            {"empty", [](const Text&) { return ArgumentValue::ofText(""); }},
        };
        for (std::size_t length : {259, 260, 261, 32767, 65536}) {
            made.push_back({std::to_string(length) + " bytes", [length](const Text&) {
                                return ArgumentValue::ofText(Text(length, 'x'));
                            }});
        }
        made.push_back({"only backslashes",
                        [](const Text&) { return ArgumentValue::ofText("\\\\\\\\\\\\"); }});
        made.push_back({"leading backslashes",
                        [](const Text& text) { return ArgumentValue::ofText("\\\\\\" + text); }});
        made.push_back({"trailing backslashes",
                        [](const Text& text) { return ArgumentValue::ofText(text + "\\\\\\"); }});
        made.push_back({"Western letters outside ASCII", [](const Text& text) {
                            return ArgumentValue::ofText(text + westernLetters);
                        }});
        made.push_back({"lead byte and 0x5C", [](const Text& text) {
                            return ArgumentValue::ofText(text + leadByteAndBackslash);
                        }});
        return made;
    }();
    return variants;
}

const int integerVariants[] = {0, -1, 65536, INT_MIN, INT_MAX};

// One call of one action.
struct Call {
    const ExportDescription* action;
    std::vector<ArgumentValue> arguments; // in the table's order
    bool nullBuffer = false;
    Text label;

    const ArgumentValue& argument(const char* name) const {
        for (std::size_t i = 0; i < action->argumentCount; ++i) {
            if (Text(action->arguments[i].name) == name) {
                return arguments[i];
            }
        }
        throw std::logic_error(Text(action->name) + " has no argument " + name);
    }
    // A null text is the empty text.
    Text text(const char* name) const { return argument(name).text; }
    int integer(const char* name) const { return argument(name).integer; }
};

// What the contract says a call gives.
struct Expectation {
    int result = 0;
    // Paths whose subtree the call may change; nothing else may change.
    std::vector<Text> mayChange;
    // Further checks once the call is done: what the started program
    // received, what a file holds, what the result buffer holds.
    std::function<void(const char* resultBuffer)> check;
};

bool ansiLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

Text join(const Text& folder, const Text& name) {
    return joinByRule(folder, name, ansiLeadByte);
}

Text normalise(const Text& path) {
    return normaliseByRule(path, ansiLeadByte);
}

// No path of the platform is 32,767 characters long or longer (Wine 8, asked
// about one, wraps its length and answers for a shorter path).
DWORD attributesOf(const Text& path) {
    return path.size() < commandLineLimit ? GetFileAttributesA(path.c_str())
                                          : INVALID_FILE_ATTRIBUTES;
}
bool exists(const Text& path) {
    return attributesOf(path) != INVALID_FILE_ATTRIBUTES;
}
bool isFolder(const Text& path) {
    return exists(path) && (attributesOf(path) & FILE_ATTRIBUTE_DIRECTORY);
}
bool isFile(const Text& path) {
    return exists(path) && !(attributesOf(path) & FILE_ATTRIBUTE_DIRECTORY);
}

// The program's path, quoted when it holds a space or a tab, one space and
// the parameters: the command line a started program is documented to get.
Text launchCommandLine(const Text& program, const Text& parameters) {
    const bool quoted = program.find_first_of(" \t") != Text::npos;
    return (quoted ? "\"" + program + "\"" : program) + " " + parameters;
}

bool fitsCommandLine(const Text& commandLine) {
    return commandLine.size() + 1 <= commandLineLimit;
}

// A program started on folder\file: its record (the recorder program's, see
// fixtures/recorder.cpp) must show the command line it was given.
Expectation startedProgram(const Text& program, const Text& parameters) {
    const Text commandLine = launchCommandLine(program, parameters);
    Expectation expected;
    expected.result = isFile(program) && fitsCommandLine(commandLine) ? 1 : 0;
    if (expected.result == 1) {
        expected.mayChange = {program + ".record", program + ".record.partial"};
        expected.check = [program, commandLine](const char*) {
            const auto record = readFile(program + ".record");
            ASSERT_TRUE(record.has_value()) << "the program did not run before the call returned";
            EXPECT_EQ(recordField(*record, "commandLine"), commandLine);
        };
    }
    return expected;
}

// The version of a file's version resource, read with the system's
// version.dll, loaded for the read and unloaded after (the test program
// must not hold version.dll: see the planting tests).
std::optional<VS_FIXEDFILEINFO> fixedVersionOf(const Text& path) {
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    HMODULE version = LoadLibraryA((Text(system) + "\\version.dll").c_str());
    if (version == nullptr) {
        return std::nullopt;
    }
    auto size = reinterpret_cast<decltype(&GetFileVersionInfoSizeA)>(
        reinterpret_cast<void*>(GetProcAddress(version, "GetFileVersionInfoSizeA")));
    auto info = reinterpret_cast<decltype(&GetFileVersionInfoA)>(
        reinterpret_cast<void*>(GetProcAddress(version, "GetFileVersionInfoA")));
    auto query = reinterpret_cast<decltype(&VerQueryValueA)>(
        reinterpret_cast<void*>(GetProcAddress(version, "VerQueryValueA")));
    std::optional<VS_FIXEDFILEINFO> fixed;
    const DWORD bytes = size(path.c_str(), nullptr);
    std::vector<unsigned char> block(bytes);
    void* value = nullptr;
    UINT valueSize = 0;
    if (bytes != 0 && info(path.c_str(), 0, bytes, block.data()) &&
        query(block.data(), "\\", &value, &valueSize) && valueSize >= sizeof(VS_FIXEDFILEINFO)) {
        fixed = *static_cast<VS_FIXEDFILEINFO*>(value);
    }
    FreeLibrary(version);
    return fixed;
}

// The registry value's data as text up to its first zero byte, or nothing
// when the key or the value is missing.
std::optional<Text> registryText(HKEY root, const Text& keyPath, const Text& valueName,
                                 std::size_t limit = 1 << 20) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<char> data(limit + 1, '\0');
    DWORD size = static_cast<DWORD>(limit);
    const LONG status = RegQueryValueExA(key, valueName.c_str(), nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return Text(data.data(), strnlen(data.data(), size));
}

bool canWriteMachineSettings() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ | KEY_WRITE, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// The README's rule for cache folder names: refused when drive-qualified,
// when a component climbs (".."), or when nothing but the parent itself is
// named. A leading separator joins below the parent.
bool cacheNameLiesBelowParent(const Text& name) {
    if (name.empty() || (name.size() >= 2 && name[1] == ':')) {
        return false;
    }
    bool namesSomething = false;
    Text component;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && ansiLeadByte(static_cast<unsigned char>(name[i])) &&
            i + 1 < name.size()) {
            component += name.substr(i++, 2);
            continue;
        }
        if (i == name.size() || name[i] == '\\' || name[i] == '/') {
            if (component == "..") {
                return false;
            }
            namesSomething = namesSomething || (!component.empty() && component != ".");
            component.clear();
        } else {
            component += name[i];
        }
    }
    return namesSomething;
}

// The contracts of the twelve actions (README and the public header), for
// what the bench holds.
Expectation expectationOf(const Call& call, const ActionBench& bench) {
    const Text action = call.action->name;
    Expectation expected;
    if (action == "VMSI_Launch") {
        const Text path = join(call.text("folder"), call.text("fileName"));
        expected.result = exists(path) ? 1 : 0;
        // The bench's document has no program to open it; a folder is opened
        // by the bench's stand-in for the file manager, which records it.
        if (isFolder(path)) {
            const Text record = bench.folderOpener() + ".record";
            expected.mayChange = {record, record + ".partial"};
            expected.check = [record](const char*) {
                EXPECT_TRUE(readFile(record).has_value()) << "the shell did not open the folder";
            };
        }
    } else if (action == "VMSI_LaunchWait") {
        expected = startedProgram(join(call.text("folder"), call.text("fileName")),
                                  call.text("parameters"));
    } else if (action == "VMSI_Register") {
        const Text component = join(call.text("folder"), call.text("fileName"));
        const Text commandLine = "regsvr32 " + call.text("options") + " \"" + component + "\"";
        // Only the tool's own switches, - for /, any case, among spaces.
        static const std::regex switchesOnly(R"(( *[/-]([sSuUnNiI]|[iI]:[!#-~]*)(?= |$))* *)");
        expected.result = exists(component) && fitsCommandLine(commandLine) &&
                                  std::regex_match(call.text("options"), switchesOnly)
                              ? 1
                              : 0;
        for (const char* marker : {".registered", ".unregistered"}) {
            expected.mayChange.push_back(component + marker);
            expected.mayChange.push_back(component + marker + ".partial");
        }
    } else if (action == "VMSI_CheckIfAppInstalled") {
        // The entry is opened below the App Paths key; its default value,
        // read into MAX_PATH bytes, names something that exists.
        HKEY appPaths = nullptr;
        std::optional<Text> path;
        const Text name = call.text("programName");
        if (name.size() < commandLineLimit &&
            RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                          "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths", 0, KEY_READ,
                          &appPaths) == ERROR_SUCCESS) {
            path = registryText(appPaths, name, "", MAX_PATH);
            RegCloseKey(appPaths);
        }
        expected.result = path && exists(*path) ? 1 : 0;
    } else if (action == "VMSI_CheckVersionOfFile") {
        const Text folder = call.text("folder");
        const Text searchName =
            folder.empty() ? call.text("fileName") : join(folder, call.text("fileName"));
        std::vector<char> found(32768);
        const DWORD length = searchName.empty() ? 0
                                                : SearchPathA(nullptr, searchName.c_str(), nullptr,
                                                              static_cast<DWORD>(found.size()),
                                                              found.data(), nullptr);
        const auto fixed = length != 0 && length < found.size()
                               ? fixedVersionOf(Text(found.data(), length))
                               : std::nullopt;
        if (fixed) {
            const auto packed = [](int high, int low) {
                return static_cast<DWORD>(high) * 65536u + static_cast<DWORD>(low);
            };
            const DWORD high = packed(call.integer("first"), call.integer("second"));
            const DWORD low = packed(call.integer("third"), call.integer("fourth"));
            expected.result = high != fixed->dwFileVersionMS ? high < fixed->dwFileVersionMS
                                                             : low <= fixed->dwFileVersionLS;
        }
    } else if (action == "VMSI_CreateDesktopShortcut" || action == "VMSI_RemoveDesktopShortcut") {
        const int mode = call.integer("allUsersMode");
        const bool allUsers = mode == 1 || (mode == 2 && canWriteMachineSettings());
        const Text desktop = allUsers ? bench.commonDesktop() : bench.userDesktop();
        const Text name = call.text("shortcutFileName");
        const Text target = join(desktop, name);
        expected.mayChange = {target};
        // Names that climb out of their folder are refused; of the variants,
        // only those that begin with a separator do.
        const auto climbsOut = [](const Text& text) {
            return !text.empty() && (text[0] == '\\' || text[0] == '/');
        };
        if (action == "VMSI_RemoveDesktopShortcut") {
            expected.result = !climbsOut(name) && isFile(target) ? 1 : 0;
            if (expected.result == 1) {
                expected.check = [target](const char*) { EXPECT_FALSE(exists(target)); };
            }
        } else {
            const Text programs = allUsers ? bench.commonPrograms() : bench.userPrograms();
            const Text source =
                normalise(programs + "\\" + call.text("programGroup") + "\\" + name);
            expected.result = !climbsOut(name) && !climbsOut(call.text("programGroup")) &&
                                      isFile(source) && !exists(target) &&
                                      isFolder(target.substr(0, target.rfind('\\')))
                                  ? 1
                                  : 0;
            if (expected.result == 1) {
                expected.check = [source, target](const char*) {
                    EXPECT_EQ(readFile(target), readFile(source));
                };
            }
        }
    } else if (action == "VMSI_CheckForQLMKDB") {
        const Text database = bench / "Old\\system\\pcdb.mdb";
        expected.result = 1;
        expected.check = [database](const char* buffer) {
            if (buffer != nullptr) {
                EXPECT_EQ(Text(buffer), database);
            }
        };
    } else if (action == "VMSI_CheckForQLMK") {
        const auto marker = registryText(HKEY_LOCAL_MACHINE,
                                         "Software\\Vardo\\QLMKInternalVersion\\Version" +
                                             std::to_string(call.integer("version")),
                                         "Version");
        expected.result = marker ? 1 : 0;
        if (marker) {
            // Cut to fit the buffer the header asks for.
            const Text text = marker->substr(0, resultBufferSize - 1);
            expected.check = [text](const char* buffer) {
                if (buffer != nullptr) {
                    EXPECT_EQ(Text(buffer), text);
                }
            };
        }
    } else if (action == "VMSI_LaunchDbMigrate") {
        // Each path in quotes, the backslashes that end it doubled; the new
        // one normalised, a share keeping its two leading backslashes.
        const auto quoted = [](const Text& path) {
            return "\"" + path + path.substr(path.find_last_not_of('\\') + 1) + "\"";
        };
        const Text newFolder = call.text("newFolder");
        Text newPath = normalise("\"" + newFolder + "\\" + call.text("newFileName")).substr(1);
        if (newFolder.compare(0, 2, "\\\\") == 0) {
            newPath.insert(0, "\\");
        }
        const Text parameters =
            " -i -o " + quoted(call.text("oldCatalogue")) + " -n " + quoted(newPath);
        expected = startedProgram(join(call.text("toolFolder"), "DbMigrate.exe"), parameters);
    } else if (action == "VMSI_WriteFavorites") {
        const Text location =
            normalise(call.text("baseFolder") + "\\" + call.text("fileFolder") + "\\favorite.txt");
        const Text line = join(call.text("baseFolder"), call.text("favourite")) + "\r\n";
        expected.result = isFolder(location.substr(0, location.rfind('\\'))) && !isFolder(location);
        expected.mayChange = {location};
        if (expected.result == 1) {
            expected.check = [location, line](const char*) {
                EXPECT_EQ(readFile(location), line) << "the favourites file's contents";
            };
        }
    } else if (action == "VMSI_RemoveQLMKCache") {
        // Always 0; the folder (which holds files only) goes when its name
        // lies below the parent.
        const Text parent = call.text("parentFolder");
        const Text name = call.text("cacheFolderName");
        const Text cache = join(parent, name);
        if (!parent.empty() && cacheNameLiesBelowParent(name) && isFolder(cache)) {
            expected.mayChange = {cache};
            expected.check = [cache](const char*) {
                EXPECT_FALSE(exists(cache)) << "the cache folder was not removed";
            };
        }
    } else {
        ADD_FAILURE() << "no contract for " << action;
    }
    return expected;
}

// The cases: for every action its call that succeeds, then each argument in
// turn replaced by each of its variants; for the two actions that hand a text
// back, the same with a null result buffer.
std::vector<Call> allCases(const ActionBench& bench) {
    std::vector<Call> cases;
    for (const ExportDescription& action : exportTable) {
        if (action.kind == ExportKind::IdentityFunction) {
            continue;
        }
        Call baseline{&action, {}, false, Text(action.name) + " as it succeeds"};
        for (std::size_t i = 0; i < action.argumentCount; ++i) {
            baseline.arguments.push_back(bench.baseline(action, action.arguments[i]));
        }
        std::vector<Call> calls = {baseline};
        for (std::size_t i = 0; i < action.argumentCount; ++i) {
            const ArgumentDescription& argument = action.arguments[i];
            if (argument.kind == ArgumentKind::Text) {
                for (const TextVariant& variant : textVariants()) {
                    Call call = baseline;
                    call.arguments[i] = variant.make(baseline.arguments[i].text);
                    call.label = Text(action.name) + " with " + argument.name + " " + variant.name;
                    calls.push_back(call);
                }
            } else {
                for (int value : integerVariants) {
                    Call call = baseline;
                    call.arguments[i] = ArgumentValue::ofInteger(value);
                    call.label =
                        Text(action.name) + " with " + argument.name + " " + std::to_string(value);
                    calls.push_back(call);
                }
            }
        }
        if (action.kind == ExportKind::BufferAction) {
            const std::size_t count = calls.size();
            for (std::size_t i = 0; i < count; ++i) {
                Call call = calls[i];
                call.nullBuffer = true;
                call.label += ", null result buffer";
                calls.push_back(call);
            }
        }
        cases.insert(cases.end(), calls.begin(), calls.end());
    }
    return cases;
}

TreeSnapshot withoutAll(TreeSnapshot snapshot, const std::vector<Text>& relativePaths) {
    for (const Text& path : relativePaths) {
        snapshot = without(std::move(snapshot), path);
    }
    return snapshot;
}

} // namespace

TEST(BadInput, EveryActionTakesEveryBrokenArgumentAsItsContractSays) {
    ShippedLibrary library;
    ActionBench bench;
    std::vector<Call> cases = allCases(bench);
    // VMSI_BAD_INPUT_ONLY=<export name> runs that action's cases alone.
    char only[64] = "";
    if (GetEnvironmentVariableA("VMSI_BAD_INPUT_ONLY", only, sizeof only) > 0) {
        cases.erase(
            std::remove_if(cases.begin(), cases.end(),
                           [&](const Call& call) { return Text(call.action->name) != only; }),
            cases.end());
    }
    std::map<Text, int> casesPerAction;
    int started = 0;
    int resultsOfOne = 0;

    for (const Call& call : cases) {
        SCOPED_TRACE(call.label);
        ++casesPerAction[call.action->name];
        const Expectation expected = expectationOf(call, bench);

        std::vector<unsigned char> buffer(resultBufferSize + guardBytes, untouched);
        char* const resultBuffer =
            call.nullBuffer ? nullptr : reinterpret_cast<char*>(buffer.data());

        const auto surroundings = bench.surroundings();
        if (GetEnvironmentVariableA("VMSI_BAD_INPUT_TRACE", nullptr, 0) > 0) {
            std::fprintf(stderr, "case: %s\n", call.label.c_str());
        }
        ChildProcessWatch children;
        const int result = callExport(library.exportOf(call.action->name), *call.action,
                                      call.arguments, resultBuffer);
        // Programs started without waiting get the time to end; one still
        // running then is ended, and fails the case.
        EXPECT_EQ(children.settle(10000), std::vector<Text>{})
            << "still running 10 s after the call, ended by the test";
        started += static_cast<int>(children.startedCount());

        EXPECT_EQ(result, expected.result);
        resultsOfOne += result == 1;
        const char* text = call.nullBuffer ? nullptr : reinterpret_cast<const char*>(buffer.data());
        if (call.action->kind == ExportKind::BufferAction && !call.nullBuffer) {
            for (std::size_t i = resultBufferSize; i < buffer.size(); ++i) {
                ASSERT_EQ(buffer[i], untouched) << "written past the result buffer at " << i;
            }
            if (result == 0) {
                EXPECT_EQ(buffer[0], untouched) << "the buffer was written by a call that gave 0";
            }
        }
        if (expected.check) {
            expected.check(text);
        }

        std::vector<Text> mayChange;
        for (const Text& path : expected.mayChange) {
            if (auto relative = bench.relativeToRoot(path)) {
                mayChange.push_back(*relative);
            }
        }
        const Text treeChanges = differencesBetween(withoutAll(bench.pristineTree(), mayChange),
                                                    withoutAll(bench.tree(), mayChange));
        EXPECT_EQ(treeChanges, "") << "changed in the scratch tree outside the call's place";
        const auto registry = bench.registry();
        for (std::size_t i = 0; i < registry.size(); ++i) {
            EXPECT_EQ(differencesBetween(bench.pristineRegistry()[i], registry[i]), "")
                << "changed in the registry";
        }
        const auto surroundingsAfter = bench.surroundings();
        for (std::size_t i = 0; i < surroundings.size(); ++i) {
            EXPECT_EQ(differencesBetween(surroundings[i], surroundingsAfter[i]), "")
                << "changed outside the scratch tree";
        }

        bench.restore();
        ASSERT_EQ(differencesBetween(bench.pristineTree(), bench.tree()), "")
            << "the bench could not be put back";
    }

    std::printf("[figures] bad-input: %zu cases over %zu actions", cases.size(),
                casesPerAction.size());
    for (const auto& [action, count] : casesPerAction) {
        std::printf(", %s %d", action.c_str(), count);
    }
    std::printf("; %d gave 1, %zu gave 0; %d programs started", resultsOfOne,
                cases.size() - resultsOfOne, started);
    std::printf("\n");
    if (only[0] == '\0') {
        EXPECT_EQ(casesPerAction.size(), 12u);
    }
}

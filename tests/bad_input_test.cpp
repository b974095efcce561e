// Every action of the shipped library, called by name as the installer calls
// it, with each of its arguments in turn replaced by a hostile or broken
// value while the others keep the values of a call that succeeds. For every
// case: no crash, the result the action's contract gives (a refusal, or
// what is really on the disk and in the registry), nothing written past a
// result buffer, and
// nothing changed anywhere but in the one place the contract lets the call
// change (a snapshot of the scratch tree, of the registry keys the actions
// read, and of the places around them, before and after).
//
// The actions and their arguments come from the table of exports
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

using namespace vmsi;
using namespace vmsi::test;

namespace {

constexpr std::size_t guardBytes = 64;
constexpr unsigned char untouched = 0xAB;

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
    // The argument replaced and the name of its value; empty for the call
    // that succeeds.
    Text argumentName;
    Text variantName;

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

// The cases that no file or key decides: the action refuses each (gives 0
// and changes nothing) whatever the disk and the registry hold. Every other
// case gives what the disk and the registry hold.
struct Refusal {
    const char* action;
    const char* argument;
    std::vector<Text> variants;
};
const Refusal refusals[] = {
    // A command line longer than the platform's 32,767 characters.
    {"VMSI_LaunchWait", "parameters", {"32767 bytes", "65536 bytes"}},
    {"VMSI_LaunchDbMigrate", "oldCatalogue", {"32767 bytes", "65536 bytes"}},
    {"VMSI_LaunchDbMigrate", "newFolder", {"32767 bytes", "65536 bytes"}},
    {"VMSI_LaunchDbMigrate", "newFileName", {"32767 bytes", "65536 bytes"}},
    // Options other than the registration tool's own switches.
    {"VMSI_Register",
     "options",
     {"259 bytes", "260 bytes", "261 bytes", "32767 bytes", "65536 bytes", "only backslashes",
      "leading backslashes", "trailing backslashes", "Western letters outside ASCII",
      "lead byte and 0x5C"}},
    // A group or shortcut name that leads out of its folder.
    {"VMSI_CreateDesktopShortcut", "programGroup", {"only backslashes", "leading backslashes"}},
    {"VMSI_CreateDesktopShortcut", "shortcutFileName", {"only backslashes", "leading backslashes"}},
    {"VMSI_RemoveDesktopShortcut", "shortcutFileName", {"only backslashes", "leading backslashes"}},
    // An empty text, or a cache folder name that names nothing below the
    // parent.
    {"VMSI_RemoveQLMKCache", "parentFolder", {"null", "empty"}},
    {"VMSI_RemoveQLMKCache", "cacheFolderName", {"null", "empty", "only backslashes"}},
};

bool isRefused(const Call& call) {
    for (const Refusal& refusal : refusals) {
        if (call.action->name == Text(refusal.action) && call.argumentName == refusal.argument &&
            std::count(refusal.variants.begin(), refusal.variants.end(), call.variantName) > 0) {
            return true;
        }
    }
    return false;
}

// VMSI_CheckVersionOfFile on the bench's fixture, file version 5.1.2.3, with
// one number asked for replaced by each of the integer variants in turn:
// the numbers are packed as a version resource packs them, first * 65536 +
// second and third * 65536 + fourth, in 32-bit words that wrap, so that a
// number beyond 65535 carries into the one before it. Worked out by hand.
const std::map<Text, std::vector<int>> versionOutcomes = {
    {"first", {1, 0, 1, 1, 0}},
    {"second", {1, 1, 0, 0, 0}},
    {"third", {1, 0, 1, 1, 0}},
    {"fourth", {1, 1, 0, 0, 0}},
};

// The version markers the bench holds, by version, and the text each hands
// back: up to its first zero byte, cut to the documented buffer.
const std::map<int, Text> markerTexts = {
    {4, "4.0.1"},
    {-1, Text(documentedResultBufferSize - 1, 'v')},
    {INT_MIN, ""},
    {INT_MAX, "\x07"},
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
constexpr std::size_t pathLimit = 32767;

DWORD attributesOf(const Text& path) {
    return path.size() < pathLimit ? GetFileAttributesA(path.c_str()) : INVALID_FILE_ATTRIBUTES;
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

// A program started on the path: its record (the recorder program's, see
// fixtures/recorder.cpp) is checked once the call is done.
Expectation startedProgram(const Text& program, std::function<void(const Text& record)> check) {
    Expectation expected;
    expected.result = isFile(program) ? 1 : 0;
    if (expected.result == 1) {
        expected.mayChange = {program + ".record", program + ".record.partial"};
        expected.check = [program, check](const char*) {
            const auto record = readFile(program + ".record");
            ASSERT_TRUE(record.has_value()) << "the program did not run before the call returned";
            check(*record);
        };
    }
    return expected;
}

// The default value of the App Paths entry, opened below the App Paths key
// and read into MAX_PATH bytes, or nothing when the entry or the value is
// missing.
std::optional<Text> appPathsEntry(const Text& name) {
    HKEY appPaths = nullptr;
    HKEY key = nullptr;
    if (name.size() >= pathLimit ||
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
                      0, KEY_READ, &appPaths) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const LONG opened = RegOpenKeyExA(appPaths, name.c_str(), 0, KEY_READ, &key);
    RegCloseKey(appPaths);
    if (opened != ERROR_SUCCESS) {
        return std::nullopt;
    }
    char data[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH;
    const LONG status =
        RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::optional<Text>(data) : std::nullopt;
}

// What a case the action does not refuse gives, for what the bench holds.
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
        // The program's own path whole, quoted or not, one space, and the
        // parameters exactly.
        const Text program = join(call.text("folder"), call.text("fileName"));
        const Text parameters = call.text("parameters");
        expected = startedProgram(program, [program, parameters](const Text& record) {
            const Text line = recordField(record, "commandLine");
            EXPECT_TRUE(line == program + " " + parameters ||
                        line == "\"" + program + "\" " + parameters)
                << line;
        });
    } else if (action == "VMSI_Register") {
        // The tool gets the options as given (a null text is an empty one)
        // and the component's path whole.
        const Text component = join(call.text("folder"), call.text("fileName"));
        expected.result = exists(component) ? 1 : 0;
        for (const char* marker : {".registered", ".unregistered"}) {
            expected.mayChange.push_back(component + marker);
            expected.mayChange.push_back(component + marker + ".partial");
        }
        const Text line = "regsvr32 " + call.text("options") + " \"" + component + "\"";
        if (isFile(component)) {
            expected.check = [component, line](const char*) {
                const auto marker = readFile(component + ".registered");
                ASSERT_TRUE(marker.has_value()) << "the component was not registered";
                EXPECT_EQ(recordField(*marker, "commandLine"), line);
            };
        }
    } else if (action == "VMSI_CheckIfAppInstalled") {
        const auto path = appPathsEntry(call.text("programName"));
        expected.result = path && exists(*path) ? 1 : 0;
    } else if (action == "VMSI_CheckVersionOfFile") {
        // Every file a case can find is a copy of the fixture.
        const Text folder = call.text("folder");
        const Text searchName =
            folder.empty() ? call.text("fileName") : join(folder, call.text("fileName"));
        std::vector<char> found(pathLimit + 1);
        const DWORD length =
            searchName.empty() || searchName.size() >= pathLimit
                ? 0
                : SearchPathA(nullptr, searchName.c_str(), nullptr,
                              static_cast<DWORD>(found.size()), found.data(), nullptr);
        const auto outcomes = versionOutcomes.find(call.argumentName);
        expected.result = length != 0 && length < found.size() && isFile(found.data()) ? 1 : 0;
        if (expected.result == 1 && outcomes != versionOutcomes.end()) {
            const int* variant = std::find(std::begin(integerVariants), std::end(integerVariants),
                                           call.integer(call.argumentName.c_str()));
            expected.result = outcomes->second[variant - std::begin(integerVariants)];
        }
    } else if (action == "VMSI_CreateDesktopShortcut" || action == "VMSI_RemoveDesktopShortcut") {
        // Mode 2, all users where HKLM\Software opens for writing, is not
        // among the matrix's modes: 1 is all users, every other the user's.
        const bool allUsers = call.integer("allUsersMode") == 1;
        const Text desktop = allUsers ? bench.commonDesktop() : bench.userDesktop();
        const Text target = join(desktop, call.text("shortcutFileName"));
        expected.mayChange = {target};
        if (action == "VMSI_RemoveDesktopShortcut") {
            expected.result = isFile(target) ? 1 : 0;
            if (expected.result == 1) {
                expected.check = [target](const char*) { EXPECT_FALSE(exists(target)); };
            }
        } else {
            const Text programs = allUsers ? bench.commonPrograms() : bench.userPrograms();
            const Text source = normalise(programs + "\\" + call.text("programGroup") + "\\" +
                                          call.text("shortcutFileName"));
            expected.result =
                isFile(source) && !exists(target) && isFolder(target.substr(0, target.rfind('\\')))
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
        const auto marker = markerTexts.find(call.integer("version"));
        expected.result = marker != markerTexts.end() ? 1 : 0;
        if (marker != markerTexts.end()) {
            expected.check = [text = marker->second](const char* buffer) {
                if (buffer != nullptr) {
                    EXPECT_EQ(Text(buffer), text);
                }
            };
        }
    } else if (action == "VMSI_LaunchDbMigrate") {
        // The tool reads its switches and the two paths whole: the old one
        // as given, the new one normalised, which an empty new folder leaves
        // at the root of the current drive.
        const Text tool = join(call.text("toolFolder"), "DbMigrate.exe");
        const Text newFolder = call.text("newFolder");
        const Text newPath = newFolder.empty() ? "\\" + call.text("newFileName")
                                               : join(newFolder, call.text("newFileName"));
        const std::vector<Text> arguments = {tool, "-i",   "-o", call.text("oldCatalogue"),
                                             "-n", newPath};
        expected = startedProgram(tool, [arguments](const Text& record) {
            for (std::size_t i = 0; i <= arguments.size(); ++i) {
                const Text field = "arg" + std::to_string(i);
                EXPECT_EQ(recordField(record, field),
                          i < arguments.size() ? arguments[i] : "<no " + field + " recorded>");
            }
        });
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
        // Always 0; the folder, which holds files only, goes.
        const Text cache = join(call.text("parentFolder"), call.text("cacheFolderName"));
        if (isFolder(cache)) {
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
        Call baseline{&action, {}, false, Text(action.name) + " as it succeeds", "", ""};
        for (std::size_t i = 0; i < action.argumentCount; ++i) {
            baseline.arguments.push_back(bench.baseline(action, action.arguments[i]));
        }
        std::vector<Call> calls = {baseline};
        const auto vary = [&](std::size_t i, ArgumentValue value, const Text& variantName) {
            Call call = baseline;
            call.arguments[i] = std::move(value);
            call.argumentName = action.arguments[i].name;
            call.variantName = variantName;
            call.label = Text(action.name) + " with " + call.argumentName + " " + variantName;
            calls.push_back(call);
        };
        for (std::size_t i = 0; i < action.argumentCount; ++i) {
            if (action.arguments[i].kind == ArgumentKind::Text) {
                for (const TextVariant& variant : textVariants()) {
                    vary(i, variant.make(baseline.arguments[i].text), variant.name);
                }
            } else {
                for (int value : integerVariants) {
                    vary(i, ArgumentValue::ofInteger(value), std::to_string(value));
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
        const Expectation expected = isRefused(call) ? Expectation() : expectationOf(call, bench);

        std::vector<unsigned char> buffer(documentedResultBufferSize + guardBytes, untouched);
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
        if (call.action->kind == ExportKind::BufferAction && !call.nullBuffer) {
            for (std::size_t i = documentedResultBufferSize; i < buffer.size(); ++i) {
                ASSERT_EQ(buffer[i], untouched) << "written past the result buffer at " << i;
            }
            if (result == 0) {
                EXPECT_EQ(buffer[0], untouched) << "the buffer was written by a call that gave 0";
            }
        }
        if (expected.check) {
            expected.check(resultBuffer);
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

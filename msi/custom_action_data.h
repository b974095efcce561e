// The text forms the Windows Installer entry points read: the argument list
// of a deferred entry (its CustomActionData) and decimal integers. Nothing
// here depends on the platform, so it can be tested and fuzzed anywhere.
//
// CustomActionData is a list of fields separated by semicolons.
//  - A field that does not begin with a double quote is taken as it stands,
//    up to the next semicolon: backslashes and quotes inside it are plain
//    characters, so a path needs no escaping.
//  - A field that begins with a double quote is quoted: it runs to the next
//    lone double quote, and inside it "" stands for one double quote and a
//    semicolon is a plain character. The closing quote must be followed by a
//    semicolon or the end of the data.
//  - Empty data holds no field at all; "" is one empty field.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vmsi::msi {

// The fields of the data, or nothing when a quoted field has no closing
// quote or is followed by something other than a semicolon.
std::optional<std::vector<std::string>> splitCustomActionData(std::string_view data);

// The data that splits into exactly these fields: a field is quoted only
// when it holds a semicolon, begins with a double quote, or is the one and
// only field and empty.
std::string joinCustomActionData(const std::vector<std::string>& fields);

// An optional sign and one or more decimal digits, nothing else, within the
// range of a 32-bit int; otherwise nothing.
std::optional<int> parseDecimalInteger(std::string_view text);

} // namespace vmsi::msi

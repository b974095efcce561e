// The text forms of the Windows Installer entry points: the argument list of
// a deferred entry (its CustomActionData), decimal integers, and the texts
// they write into the install log. Nothing here depends on the platform, so
// it can be tested and fuzzed anywhere.
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

#include "text.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vmsi::msi {

// The fields of the data, or nothing when a quoted field has no closing
// quote or is followed by something other than a semicolon.
std::optional<std::vector<Text>> splitCustomActionData(std::string_view data);

// The data that splits into exactly these fields: a field is quoted only
// when it holds a semicolon, begins with a double quote, or is the one and
// only field and empty.
Text joinCustomActionData(const std::vector<Text>& fields);

// A decimal integer as an installer engineer writes one, in a property or on
// the runner's command line: spaces and tabs around it are allowed, then an
// optional sign and one or more decimal digits, within the range of a 32-bit
// int; anything else gives nothing.
std::optional<int> parseDecimalInteger(std::string_view text);

// A text as one line of the install log, which takes it as formatted text:
// each bracket and brace is written as [\c], so that the installer takes
// none as a property reference, and a carriage return or line feed as <CR>
// or <LF>, so that no text can forge a line of its own (no path holds < or
// >, so neither is mistaken for part of one). The second byte of a
// double-byte character (0x5B of the long vowel mark in code page 932) is
// part of its character, never a bracket.
Text literalLogText(std::string_view text, LeadByteTest isLeadByte);

} // namespace vmsi::msi

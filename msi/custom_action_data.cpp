#include "custom_action_data.h"

#include <algorithm>
#include <climits>

namespace vmsi::msi {

namespace {

constexpr char separator = ';';
constexpr char quote = '"';

// Reads the quoted field that starts at `at` (on its opening quote) and
// leaves `at` just past its closing quote; false when there is none.
bool readQuotedField(std::string_view data, std::size_t& at, Text& field) {
    ++at;
    while (at < data.size()) {
        const char c = data[at++];
        if (c != quote) {
            field += c;
        } else if (at < data.size() && data[at] == quote) {
            field += quote;
            ++at;
        } else {
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<std::vector<Text>> splitCustomActionData(std::string_view data) {
    std::vector<Text> fields;
    if (data.empty()) {
        return fields;
    }
    std::size_t at = 0;
    for (;;) {
        Text field;
        if (at < data.size() && data[at] == quote) {
            if (!readQuotedField(data, at, field)) {
                return std::nullopt;
            }
            if (at < data.size() && data[at] != separator) {
                return std::nullopt;
            }
        } else {
            const std::size_t end = std::min(data.find(separator, at), data.size());
            field.assign(data.substr(at, end - at));
            at = end;
        }
        fields.push_back(std::move(field));
        if (at == data.size()) {
            return fields;
        }
        ++at; // past the separator; a final one is followed by an empty field
    }
}

Text joinCustomActionData(const std::vector<Text>& fields) {
    Text data;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const Text& field = fields[i];
        if (i > 0) {
            data += separator;
        }
        const bool quoted = field.find(separator) != Text::npos ||
                            (!field.empty() && field.front() == quote) ||
                            (field.empty() && fields.size() == 1);
        if (!quoted) {
            data += field;
            continue;
        }
        data += quote;
        for (const char c : field) {
            data += c;
            if (c == quote) {
                data += quote;
            }
        }
        data += quote;
    }
    return data;
}

std::optional<int> parseDecimalInteger(std::string_view text) {
    // A value pasted into a property or quoted on a command line easily
    // carries a blank at either end; one inside the number is refused.
    constexpr std::string_view blanks = " \t";
    const std::size_t first = text.find_first_not_of(blanks);
    text = first == std::string_view::npos
               ? std::string_view()
               : text.substr(first, text.find_last_not_of(blanks) - first + 1);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    // Accumulated as a negative number, whose range includes INT_MIN.
    long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 - (c - '0');
        if (value < INT_MIN) {
            return std::nullopt;
        }
    }
    if (!negative) {
        value = -value;
        if (value > INT_MAX) {
            return std::nullopt;
        }
    }
    return static_cast<int>(value);
}

Text literalLogText(std::string_view text, LeadByteTest isLeadByte) {
    Text literal;
    literal.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // A line break after a lead byte is a line break, and is escaped.
        if (characterEnd(text, i, isLeadByte) == i + 2) {
            literal += c;
            literal += text[++i];
        } else if (c == '[' || c == ']' || c == '{' || c == '}') {
            literal += "[\\";
            literal += c;
            literal += ']';
        } else if (c == '\r') {
            literal += "<CR>";
        } else if (c == '\n') {
            literal += "<LF>";
        } else {
            literal += c;
        }
    }
    return literal;
}

} // namespace vmsi::msi

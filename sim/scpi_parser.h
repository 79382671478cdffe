#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sim::scpi {

struct Argument {
    std::string text; // a quoted string without its quotes, else the token as written
    bool quoted = false;
};

struct ProgramUnit {
    bool rooted = false; // began with ':'
    bool common = false; // a '*' command
    bool query = false;
    std::vector<std::string> nodes; // header nodes as written, without ':' or '?'
    std::vector<Argument> args;
    int errorCode = 0; // nonzero: the unit could not be parsed
};

// Splits a message into program units at ';' outside quoted strings.
std::vector<std::string_view> splitUnits(std::string_view message);

// Parses one unit; an empty (blank) unit yields no nodes and no error.
ProgramUnit parseUnit(std::string_view unit);

// The short form of a header node or enumeration: its upper-case letters and digits.
std::string shortForm(std::string_view longForm);

// True when `input` is, case-insensitively, exactly the short or the long form of `longForm`.
bool matchesForm(std::string_view input, std::string_view longForm);

std::string toUpper(std::string_view text);

// Quotes a string for a reply, doubling any embedded double quote.
std::string quoted(std::string_view text);

} // namespace sim::scpi

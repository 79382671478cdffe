#include "sim/scpi_parser.h"

#include "sim/scpi_events.h"

#include <cctype>

namespace sim::scpi {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Splits at `separator` outside quoted strings; a doubled quote toggles twice and so stays inside.
std::vector<std::string_view> splitOutsideQuotes(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    char quote = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == separator) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(text.substr(start));
    return parts;
}

bool parseArgument(std::string_view token, Argument& out) {
    if (token.empty()) {
        return false;
    }
    const char quote = token.front();
    if (quote != '"' && quote != '\'') {
        out.text = std::string(token);
        return true;
    }
    std::string text;
    std::size_t i = 1;
    for (;;) {
        if (i >= token.size()) {
            return false;
        }
        if (token[i] == quote) {
            if (i + 1 < token.size() && token[i + 1] == quote) {
                text.push_back(quote);
                i += 2;
                continue;
            }
            break;
        }
        text.push_back(token[i]);
        ++i;
    }
    if (i + 1 != token.size()) {
        return false;
    }
    out.text = std::move(text);
    out.quoted = true;
    return true;
}

} // namespace

std::vector<std::string_view> splitUnits(std::string_view message) {
    return splitOutsideQuotes(message, ';');
}

ProgramUnit parseUnit(std::string_view unit) {
    ProgramUnit result;
    unit = trimmed(unit);
    if (unit.empty()) {
        return result;
    }
    std::size_t headerEnd = 0;
    while (headerEnd < unit.size() && !isBlank(unit[headerEnd])) {
        ++headerEnd;
    }
    std::string_view header = unit.substr(0, headerEnd);
    const std::string_view rest = trimmed(unit.substr(headerEnd));

    if (header.front() == ':') {
        result.rooted = true;
        header.remove_prefix(1);
    } else if (header.front() == '*') {
        result.common = true;
    }
    if (!header.empty() && header.back() == '?') {
        result.query = true;
        header.remove_suffix(1);
    }
    if (header.empty()) {
        result.errorCode = EventCode::UndefinedHeader;
        return result;
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i <= header.size(); ++i) {
        if (i == header.size() || header[i] == ':') {
            result.nodes.emplace_back(header.substr(start, i - start));
            start = i + 1;
        }
    }
    for (const std::string& node : result.nodes) {
        if (node.empty()) {
            result.errorCode = EventCode::UndefinedHeader;
            return result;
        }
    }

    if (!rest.empty()) {
        for (std::string_view token : splitOutsideQuotes(rest, ',')) {
            token = trimmed(token);
            if (token.empty()) {
                result.errorCode = EventCode::MissingParameter;
                return result;
            }
            Argument arg;
            if (!parseArgument(token, arg)) {
                result.errorCode = EventCode::SyntaxError;
                return result;
            }
            result.args.push_back(std::move(arg));
        }
    }
    return result;
}

std::string shortForm(std::string_view longForm) {
    std::string result;
    for (char c : longForm) {
        if (std::isupper(static_cast<unsigned char>(c)) != 0 ||
            std::isdigit(static_cast<unsigned char>(c)) != 0 || c == '*') {
            result.push_back(c);
        }
    }
    return result;
}

std::string toUpper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return result;
}

bool matchesForm(std::string_view input, std::string_view longForm) {
    const std::string upper = toUpper(input);
    return upper == toUpper(longForm) || upper == shortForm(longForm);
}

std::string quoted(std::string_view text) {
    std::string result = "\"";
    for (char c : text) {
        if (c == '"') {
            result.push_back('"');
        }
        result.push_back(c);
    }
    result.push_back('"');
    return result;
}

} // namespace sim::scpi

#include "prefs/input_rules.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace prefs {

namespace {

bool isIgnoredInNumber(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

} // namespace

bool isControlCode(int code) {
    return (code >= 0 && code < 32) || code == 127 || (code >= 0x80 && code <= 0x9f);
}

int digitFilter(int code) {
    if ((code >= '0' && code <= '9') || code == kBackspace) {
        return code;
    }
    return 0;
}

int slashConversion(int code) {
    if (code == '/') {
        return '\\';
    }
    // A double quote would end the quoted file name of the save command early, control codes
    // have no place in a file name, and a character beyond Latin-1 would reach the instrument
    // as another character.
    if (code == '"' || (isControlCode(code) && code != kBackspace) || !reachesInstrument(code)) {
        return 0;
    }
    return code;
}

bool reachesInstrument(int code) {
    return code >= 0 && code <= 0xFF;
}

QString withoutUnsendable(const QString& text) {
    QString kept;
    kept.reserve(text.size());
    for (const QChar c : text) {
        // Both halves of a pair go: together they are one character beyond Latin-1.
        if (reachesInstrument(c.unicode())) {
            kept.append(c);
        }
    }
    return kept;
}

int prefixFilter(int code) {
    if (code == kBackspace) {
        return code;
    }
    for (const char16_t allowed : kPrefixSet) {
        if (allowed != 0 && code == allowed) {
            return code;
        }
    }
    return 0;
}

QString fixPath(const QString& path) {
    if (path.isEmpty()) {
        return path;
    }
    QString result = path;
    result.replace(u'/', u'\\');
    if (!result.endsWith(u'\\')) {
        result.append(u'\\');
    }
    return result;
}

double leadingNumberValue(const QString& text) {
    std::string number;
    bool negative = false;
    bool seenSign = false;
    bool seenDigit = false;
    bool seenPoint = false;
    for (const QChar c : text) {
        if (isIgnoredInNumber(c)) {
            continue;
        }
        if (c == u'-' && !seenSign && !seenDigit && !seenPoint) {
            negative = true;
            seenSign = true;
        } else if (isAsciiDigit(c)) {
            number.push_back(static_cast<char>(c.unicode()));
            seenDigit = true;
        } else if (c == u'.' && !seenPoint) {
            number.push_back('.');
            seenPoint = true;
        } else {
            break;
        }
        // A sign may only come first: once anything else is read it ends the number.
        seenSign = true;
    }
    if (!seenDigit) {
        return 0.0;
    }
    if (number.front() == '.') {
        number.insert(number.begin(), '0');
    }
    if (number.back() == '.') {
        number.pop_back();
    }
    double value = 0.0;
    const char* first = number.data();
    const char* last = first + number.size();
    const auto [end, error] = std::from_chars(first, last, value, std::chars_format::fixed);
    if (error == std::errc::result_out_of_range) {
        // Out of range either way: a nonzero digit before the point means too large.
        const auto point = number.find('.');
        const std::string whole = number.substr(0, point);
        const bool large = whole.find_first_not_of('0') != std::string::npos;
        value = large ? std::numeric_limits<double>::max() : 0.0;
    } else if (error != std::errc() || end != last) {
        value = 0.0;
    }
    return negative ? -value : value;
}

QString generalNumberForm(double value) {
    if (std::isnan(value)) {
        value = 0.0;
    }
    if (std::isinf(value)) {
        value = std::copysign(std::numeric_limits<double>::max(), value);
    }
    const bool negative = value < 0.0;
    const double magnitude = std::fabs(value);
    QString digits;
    int pointPosition = 1;
    if (magnitude == 0.0) {
        digits = QStringLiteral("0");
    } else {
        // Scientific form with 15 significant digits: d.dddddddddddddde+XX
        const QString scientific = QString::number(magnitude, 'e', 14);
        const qsizetype e = scientific.indexOf(u'e');
        digits = scientific.left(1) + scientific.mid(2, e - 2);
        pointPosition = scientific.mid(e + 1).toInt() + 1;
        while (digits.size() > 1 && digits.endsWith(u'0')) {
            digits.chop(1);
        }
    }
    QString plain;
    if (pointPosition <= 0) {
        plain = QStringLiteral("0.") + QString(-pointPosition, u'0') + digits;
    } else if (pointPosition >= digits.size()) {
        plain = digits + QString(pointPosition - digits.size(), u'0');
    } else {
        plain = digits.left(pointPosition) + u'.' + digits.mid(pointPosition);
    }
    return (negative ? QStringLiteral("-") : QStringLiteral(" ")) + plain;
}

QString normaliseLimit(const QString& text) {
    const QString form = generalNumberForm(leadingNumberValue(text));
    if (leadingNumberValue(form) == 0.0) {
        return QStringLiteral("1");
    }
    return form;
}

} // namespace prefs

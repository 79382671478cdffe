#pragma once

#include <QString>

// The rules that shape what the user types into the limit, path and prefix fields of the
// preferences window, and the leading-number value that every reader of a count or limit uses.
// Plain functions of text and character codes: no window is needed to use or test them.
namespace prefs {

// Character code of backspace, the one control code that the key rules let through.
inline constexpr int kBackspace = 8;

// The 83 characters a file-name prefix may be typed with (backspace aside).
inline constexpr char16_t kPrefixSet[] =
    u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789@#$!%^&()_-+={}';,.`~";

// A key rule takes the code of a typed character and returns the code to insert, or 0 when
// nothing is inserted. Codes are Unicode code points; 1 to 31 and 127 are control codes.
int digitFilter(int code);
int slashConversion(int code);
int prefixFilter(int code);

bool isControlCode(int code);

// Whether a character reaches the instrument unchanged: the link carries Latin-1 only.
bool reachesInstrument(int code);
// The text without the characters that would not reach the instrument unchanged.
QString withoutUnsendable(const QString& text);

// Path normalisation on focus loss: "/" becomes "\" and a missing trailing "\" is appended;
// an empty path stays empty.
QString fixPath(const QString& path);

// The value of the number at the start of `text`. Blanks, tabs and line feeds are ignored
// wherever they stand; then an optional minus sign, decimal digits and an optional fraction
// are read up to the first other character. No number gives 0. Values beyond the range of a
// double saturate at the largest finite double.
double leadingNumberValue(const QString& text);

// General number form of a limit: at most 15 significant digits, always written out without an
// exponent (readers stop at an "e"), fractions without trailing zeros and with a "0" before the
// point, one leading blank for a value that is not negative, a minus sign otherwise.
// Examples: 7 -> " 7", 0.5 -> " 0.5", -2.25 -> "-2.25", 1e20 -> " 100000000000000000000".
QString generalNumberForm(double value);

// Limit normalisation on focus loss: the general number form of the text's leading-number
// value, and "1" whenever that form has the value 0.
QString normaliseLimit(const QString& text);

} // namespace prefs

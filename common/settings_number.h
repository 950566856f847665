// Turning one settings value into a number.
//
// A value is read as far as it fits one of these forms; the first character
// that does not fit ends the number and the rest is ignored:
// - decimal: optional sign, digits with an optional period, an optional
//   exponent introduced by E, e, D or d with its own optional sign and
//   digits ("1.5D3" is 1500; "1e" is 1);
// - "&H"/"&h" hexadecimal, "&B"/"&b" binary, "&O", "&o", "&Q", "&q" or a
//   bare "&" octal; these are whole numbers read as unsigned magnitudes
//   ("&HFFFF" is 65535) and take no sign.
// A value without a leading number (letters, ".", "-", "&H" with no digits)
// reads as 0.
//
// How the numbers come out identical on every build: the value is first
// rewritten into a C number text that holds only what was read ("-", the
// digits, "e" and a whole exponent, the period folded into that exponent; or
// "0x" and hexadecimal digits for the & forms), and the C library converts
// that text, correctly rounded to nearest-even, straight into the wanted
// type. glibc's strtof/strtod/strtold and MinGW-w64's own __mingw_strtof/
// __mingw_strtod/__mingw_strtold both convert exactly that way (msvcrt's
// strtod does not and is never used); with no period in the text the
// locale's decimal point never matters. Converting straight into the
// destination type also means a float carrier is rounded once, not via a
// double.
#pragma once

#include <string>

// The C number text of a value, or "" when it has no leading number.
std::string SettingsNumberText(const std::string& value);

// Converts a text made by SettingsNumberText ("" gives 0) into float,
// double or long double. Too large a number gives an infinity and too small
// a one 0, as the C library does.
template <typename T>
T ConvertSettingsNumber(const std::string& numberText);

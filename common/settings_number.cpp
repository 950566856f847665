#include "common/settings_number.h"

#include <cstdlib>

namespace {

// Exponents are held to this magnitude while they are read. A value keeps
// at most 255 characters, so folding the period into the exponent moves it
// by less than 255; every floating-point type here ends near 10^+-4951, so
// an exponent at the limit already overflows or underflows exactly as any
// larger one would. The limit only keeps the exponent within a long.
constexpr long EXPONENT_LIMIT = 99999;

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsDecimalDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsExponentLetter(char c)
{
    return c == 'E' || c == 'e' || c == 'D' || c == 'd';
}

// Appends the decimal digits starting at `i` to `text`; returns the index
// after them.
size_t AppendDigits(const std::string& value, size_t i, std::string& text)
{
    while (i < value.size() && IsDecimalDigit(value[i]))
        text.push_back(value[i++]);
    return i;
}

// Reads an exponent's optional sign and digits starting at `i`.
long ReadExponent(const std::string& value, size_t i)
{
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-'))
        negative = value[i++] == '-';
    long exponent = 0;
    for (; i < value.size() && IsDecimalDigit(value[i]); ++i) {
        exponent = exponent * 10 + (value[i] - '0');
        if (exponent > EXPONENT_LIMIT)
            exponent = EXPONENT_LIMIT;
    }
    return negative ? -exponent : exponent;
}

std::string DecimalNumberText(const std::string& value)
{
    std::string text;
    size_t i = 0;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
        if (value[i] == '-')
            text.push_back('-');
        ++i;
    }
    const size_t digitsStart = text.size();
    i = AppendDigits(value, i, text);
    long fractionDigits = 0;
    if (i < value.size() && value[i] == '.') {
        const size_t integerEnd = text.size();
        i = AppendDigits(value, i + 1, text);
        fractionDigits = static_cast<long>(text.size() - integerEnd);
    }
    if (text.size() == digitsStart)
        return "";
    long exponent = 0;
    if (i < value.size() && IsExponentLetter(value[i]))
        exponent = ReadExponent(value, i + 1);
    return text + "e" + std::to_string(exponent - fractionDigits);
}

// The & forms: each digit becomes its bits, and the bits are written out
// again four at a time as one hexadecimal C text.
std::string RadixNumberText(const std::string& value)
{
    size_t i = 1;
    int bitsPerDigit = 3;
    if (i < value.size()) {
        switch (value[i]) {
        case 'H': case 'h': bitsPerDigit = 4; ++i; break;
        case 'B': case 'b': bitsPerDigit = 1; ++i; break;
        case 'O': case 'o': case 'Q': case 'q': ++i; break;
        default: break;  // a bare & is octal
        }
    }
    const int radix = 1 << bitsPerDigit;
    std::string bits;
    for (; i < value.size(); ++i) {
        const int digit = DigitValue(value[i]);
        if (digit < 0 || digit >= radix)
            break;
        for (int bit = bitsPerDigit - 1; bit >= 0; --bit)
            bits.push_back(static_cast<char>('0' + ((digit >> bit) & 1)));
    }
    if (bits.empty())
        return "";
    bits.insert(0, (4 - bits.size() % 4) % 4, '0');
    std::string text = "0x";
    for (size_t k = 0; k < bits.size(); k += 4) {
        const int nibble = (bits[k] - '0') * 8 + (bits[k + 1] - '0') * 4 +
                           (bits[k + 2] - '0') * 2 + (bits[k + 3] - '0');
        text.push_back("0123456789abcdef"[nibble]);
    }
    return text;
}

// The C library's conversion into each type, rounded to nearest-even (for
// MinGW its own implementation, not msvcrt's; see the header).
#if defined(__MINGW32__)
float CorrectlyRounded(const char* text, float) { return __mingw_strtof(text, nullptr); }
double CorrectlyRounded(const char* text, double) { return __mingw_strtod(text, nullptr); }
long double CorrectlyRounded(const char* text, long double) { return __mingw_strtold(text, nullptr); }
#else
float CorrectlyRounded(const char* text, float) { return std::strtof(text, nullptr); }
double CorrectlyRounded(const char* text, double) { return std::strtod(text, nullptr); }
long double CorrectlyRounded(const char* text, long double) { return std::strtold(text, nullptr); }
#endif

}  // namespace

std::string SettingsNumberText(const std::string& value)
{
    if (!value.empty() && value[0] == '&')
        return RadixNumberText(value);
    return DecimalNumberText(value);
}

template <typename T>
T ConvertSettingsNumber(const std::string& numberText)
{
    if (numberText.empty())
        return T(0);
    return CorrectlyRounded(numberText.c_str(), T());
}

template float ConvertSettingsNumber<float>(const std::string&);
template double ConvertSettingsNumber<double>(const std::string&);
template long double ConvertSettingsNumber<long double>(const std::string&);

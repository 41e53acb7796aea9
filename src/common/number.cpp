#include "common/number.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>
#include <system_error>

namespace vel::number {
namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The decimal number at the start of `text` (after its blanks). `sign`
// tells whether it is negative; `digits` is the rest without the sign.
struct NumberText {
    bool negative = false;
    std::string_view digits;  // mantissa and exponent, no sign; empty: no number
};

NumberText FindNumber(std::string_view text)
{
    std::size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
    NumberText found;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        found.negative = text[pos] == '-';
        ++pos;
    }
    const std::size_t start = pos;
    std::size_t end = pos;
    std::size_t wholeDigits = 0;
    while (end < text.size() && IsDigit(text[end])) {
        ++end;
        ++wholeDigits;
    }
    std::size_t fractionDigits = 0;
    if (end < text.size() && text[end] == '.') {
        std::size_t after = end + 1;
        while (after < text.size() && IsDigit(text[after])) {
            ++after;
            ++fractionDigits;
        }
        // "5." is 5; "." alone is no number.
        if (wholeDigits > 0 || fractionDigits > 0)
            end = after;
    }
    if (wholeDigits == 0 && fractionDigits == 0)
        return NumberText{};
    if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
        std::size_t after = end + 1;
        if (after < text.size() && (text[after] == '+' || text[after] == '-'))
            ++after;
        const std::size_t exponentStart = after;
        while (after < text.size() && IsDigit(text[after]))
            ++after;
        if (after > exponentStart)
            end = after;
    }
    found.digits = text.substr(start, end - start);
    return found;
}

// For a number too large or too small for a double: true when it is too large.
// The decimal point of its leading digit against the exponent decides.
bool Overflows(std::string_view digits)
{
    std::size_t pos = 0;
    long long magnitude = 0;  // the power of ten of the leading non-zero digit, roughly
    bool seenNonZero = false;
    bool afterPoint = false;
    for (; pos < digits.size() && digits[pos] != 'e' && digits[pos] != 'E'; ++pos) {
        char c = digits[pos];
        if (c == '.') {
            afterPoint = true;
            continue;
        }
        if (!seenNonZero) {
            if (c != '0') {
                seenNonZero = true;
                if (afterPoint)
                    --magnitude;
            } else if (afterPoint) {
                --magnitude;
            }
        } else if (!afterPoint) {
            ++magnitude;
        }
    }
    if (!seenNonZero)
        return false;
    long long exponent = 0;
    bool exponentNegative = false;
    if (pos < digits.size()) {
        ++pos;
        if (pos < digits.size() && (digits[pos] == '+' || digits[pos] == '-')) {
            exponentNegative = digits[pos] == '-';
            ++pos;
        }
        for (; pos < digits.size(); ++pos) {
            if (exponent < 1'000'000'000LL)
                exponent = exponent * 10 + (digits[pos] - '0');
        }
    }
    if (exponentNegative)
        exponent = -exponent;
    return magnitude + exponent > 0;
}

}  // namespace

double NumericValue(std::string_view text)
{
    const NumberText number = FindNumber(text);
    if (number.digits.empty())
        return 0.0;
    double value = 0.0;
    const char* first = number.digits.data();
    const char* last = first + number.digits.size();
    const auto [ptr, error] = std::from_chars(first, last, value, std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
        value = Overflows(number.digits) ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (error != std::errc() || ptr != last) {
        // Cannot happen for the text FindNumber accepts; read it as no number.
        return 0.0;
    }
    return number.negative ? -value : value;
}

double RoundHalfEven(double value)
{
    if (!std::isfinite(value))
        return value;
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction < 0.5)
        return below;
    if (fraction > 0.5)
        return below + 1.0;
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

double WholeValue(std::string_view text)
{
    return RoundHalfEven(NumericValue(text));
}

std::optional<std::int32_t> WholeInt32(std::string_view text)
{
    const double whole = WholeValue(text);
    if (!(whole >= static_cast<double>(std::numeric_limits<std::int32_t>::min()) &&
          whole <= static_cast<double>(std::numeric_limits<std::int32_t>::max()))) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(whole);
}

}  // namespace vel::number

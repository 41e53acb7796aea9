// Numbers in the settings file: the leading decimal number of a text,
// rounded to a whole number with halves going to the even neighbour.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vel::number {

// The numeric value of a text: the longest leading part that forms a decimal
// number, blanks and tabs before it ignored; 0 when the text does not begin
// with one. A number is an optional sign, digits, an optional decimal point
// with digits (".5" and "5." are numbers too), and an optional exponent
// ("e" or "E", an optional sign, digits). An exponent without digits is not
// part of the number ("1e" is 1). Too large a number gives plus or minus
// infinity ("1e999"), too small a one 0. Never NaN.
double NumericValue(std::string_view text);

// Rounds to the nearest whole number; exactly halfway goes to the even
// neighbour (2.5 gives 2, 3.5 gives 4, -2.5 gives -2). Infinities stay.
double RoundHalfEven(double value);

// RoundHalfEven(NumericValue(text)): the whole number a settings text stands for.
double WholeValue(std::string_view text);

// WholeValue(text) when it lies within the 32-bit signed range; nullopt when
// it does not (1e999, -3000000000).
std::optional<std::int32_t> WholeInt32(std::string_view text);

}  // namespace vel::number

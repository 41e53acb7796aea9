// Small text routines shared by the subsystems.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vel {

// True when the text is empty or holds blanks only (tabs count as content).
bool IsBlank(std::string_view text);

// The key code a key press in a number box becomes: the same code for a digit,
// ".", "-" or Backspace (8), 0 (no character) for anything else.
std::int16_t NumericKeyFilter(std::int16_t keyAscii);

// ASCII lower and upper case; other bytes unchanged.
std::string ToLower(std::string_view text);
std::string ToUpper(std::string_view text);

// Blanks removed from both ends (tabs and line ends stay).
std::string TrimBlanks(std::string_view text);

}  // namespace vel

// Small text routines shared by the subsystems and the back ends. Each name
// says which characters it treats as white space: blanks only (' '), blanks
// and tabs, or blanks, tabs and line ends (CR and LF).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vel {

// True when the text is empty or holds blanks only (tabs count as content).
bool IsBlank(std::string_view text);

// A blank or a tab: what separates the words of an INI line or a system table.
bool IsBlankOrTab(char c);

// The key code a key press in a number box becomes: the same code for a digit,
// ".", "-" or Backspace (8), 0 (no character) for anything else.
std::int16_t NumericKeyFilter(std::int16_t keyAscii);

// ASCII lower and upper case; other bytes unchanged.
std::string ToLower(std::string_view text);
std::string ToUpper(std::string_view text);

// The text without the white space at both ends, as a view into it. Blanks
// only (tabs and line ends stay); blanks and tabs (line ends stay); blanks,
// tabs and line ends.
std::string_view TrimBlanks(std::string_view text);
std::string_view TrimBlanksAndTabs(std::string_view text);
std::string_view TrimBlanksTabsAndLineEnds(std::string_view text);

// The pieces between the separators. A separator at the very end opens no
// further piece, so "a\0b\0" is two pieces and the empty text none.
std::vector<std::string_view> SplitAt(std::string_view text, char separator);

// The lines of a text, each without its LF or CR LF; a last line without a
// line end counts too.
std::vector<std::string_view> SplitLines(std::string_view text);

// The words between runs of blanks and tabs; never an empty word.
std::vector<std::string_view> SplitAtBlanksAndTabs(std::string_view text);

}  // namespace vel

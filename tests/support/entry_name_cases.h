// Pairs of entry names, and whether each system's comparison without case
// takes them for one name (Windows: lstrcmpi in an English locale). The
// back ends' tests check them; FakeDialUp answers with them.
#pragma once

namespace vel::test {

#ifdef _WIN32
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif

struct EntryNameCase {
    const char* a;
    const char* b;
    bool onLinux, onWindows;
};

inline constexpr EntryNameCase kEntryNameCases[] = {
    {"Office", "oFFICE", true, true},
    {"Z\u00FCrich", "z\u00DCrich", true, true},                            // Zürich, zÜrich
    {"\u039F\u0394\u039F\u03A3", "\u03BF\u03B4\u03BF\u03C2", true, true},  // ΟΔΟΣ, οδος
    {"\u0130stanbul", "istanbul", false, false},                           // dotted capital I
    {"ISPARTA", "\u0131sparta", false, false},                             // dotless small i
    {"Stra\u00DFe", "STRASSE", false, true},                               // Windows expands ß
    {"Zu\u0308rich", "Z\u00FCrich", false, true},                          // Windows composes ü
    {"A\xFF", "a\xFF", false, false},                                      // not UTF-8
};

}  // namespace vel::test

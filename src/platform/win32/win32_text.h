// Text at the edge of the Windows API: the core speaks UTF-8, the W calls
// UTF-16; error numbers become the system's own sentences.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vel::platform {

// UTF-8 to UTF-16 and back. Invalid sequences become U+FFFD; a NUL inside the
// text is kept.
std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);

// FormatMessageW's text for a system or Windows Sockets error number, without
// the line end and the full stop the system puts after it; empty when the
// system has no text for the number.
std::string SystemErrorText(std::uint32_t number);

// One argument of a command line, quoted as CommandLineToArgvW reads it back:
// bare when it holds no blank, tab, newline or quote; otherwise in double
// quotes, with backslashes doubled before a quote and at the end.
std::wstring QuoteArgument(std::wstring_view argument);

}  // namespace vel::platform

// Text at the edge of the Windows API: UTF-8 and UTF-16, the system's error
// texts, and command lines that CommandLineToArgvW reads back as they were.
#include "platform/win32/win32_text.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/win32_environment.h"

namespace vel::platform {
namespace {

TEST(Win32Text, Utf8AndUtf16RoundTrip)
{
    const std::string text = "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x95\x90";  // Café € and a clock face (a surrogate pair)
    const std::wstring wide = Widen(text);
    EXPECT_EQ(wide, L"Caf\u00E9 \u20AC \U0001F550");
    EXPECT_EQ(wide.size(), 9u);  // the clock face takes two UTF-16 units
    EXPECT_EQ(Narrow(wide), text);
    EXPECT_EQ(Widen(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
    EXPECT_EQ(Widen(""), L"");
    EXPECT_EQ(Narrow(L""), "");
    // A byte that is no UTF-8 does not vanish.
    EXPECT_EQ(Widen("a\xFF"
                    "b"),
              L"a\uFFFDb");
}

TEST(Win32Text, SystemErrorTextsAreTheSystemsOwnWithoutLineEnd)
{
    for (const std::uint32_t number : {10061u, 10054u, 11001u, 1314u, 2u}) {
        const std::string text = SystemErrorText(number);
        EXPECT_FALSE(text.empty()) << number;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << number;
        EXPECT_NE(text.back(), '.') << number;
        EXPECT_NE(text.back(), ' ') << number;
    }
    EXPECT_EQ(SystemErrorText(0xDEAD0001u), "");
}

std::vector<std::wstring> ReadBack(const std::wstring& commandLine)
{
    // The program name first, as CommandLineToArgvW expects it.
    int count = 0;
    wchar_t** list = ::CommandLineToArgvW((L"program.exe " + commandLine).c_str(), &count);
    std::vector<std::wstring> args;
    for (int i = 1; i < count; ++i)
        args.push_back(list[i]);
    ::LocalFree(list);
    return args;
}

TEST(Win32Text, QuotedArgumentsComeBackAsTheyWere)
{
    const std::vector<std::wstring> cases = {
        L"plain",
        L"two words",
        L"",
        L"tab\there",
        L"say \"hi\"",
        L"C:\\Program Files\\",
        L"ends in \\\\",
        L"back\\slash\\\"quote",
        L"\\\\server\\share",
        L"\"",
        L"caf\u00E9",
    };
    for (const std::wstring& argument : cases) {
        const std::vector<std::wstring> args = ReadBack(QuoteArgument(argument));
        ASSERT_EQ(args.size(), 1u) << Narrow(argument);
        EXPECT_EQ(args[0], argument);
    }
    EXPECT_EQ(QuoteArgument(L"plain"), L"plain");
    EXPECT_EQ(QuoteArgument(L"two words"), L"\"two words\"");
}

TEST(Win32Text, JoinedCommandLineKeepsEveryArgument)
{
    const std::vector<std::string> argv = {"C:\\Tools\\msinfo32.exe", "a b", "", "\"q\""};
    const std::vector<std::wstring> args = ReadBack(Widen(Win32Environment::JoinCommandLine(argv)));
    ASSERT_EQ(args.size(), argv.size());
    for (std::size_t i = 0; i < argv.size(); ++i)
        EXPECT_EQ(Narrow(args[i]), argv[i]);
}

}  // namespace
}  // namespace vel::platform

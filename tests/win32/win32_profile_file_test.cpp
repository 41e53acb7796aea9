// INI files on disk through the Win32 back end: the program's own INI rules,
// byte for byte as the Linux build writes them, and a replace that is whole
// or not at all.
#include "platform/win32/win32_profile_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "common/ini_text.h"
#include "platform/win32/win32_text.h"
#include "support/test_app.h"
#include "win32_test_support.h"

namespace vel::platform {
namespace {

using test::FolderNames;
using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

std::string Get(Win32ProfileFile& ini, const std::string& file, const std::string& key)
{
    return ini.Value("Main", key, file).value_or("(default)");
}

FILETIME LastWrite(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

TEST(Win32ProfileFile, MissingFileReadsTheDefaultAndIsNotCreated)
{
    TempFolder folder;
    Win32ProfileFile ini;
    const std::string file = folder.Utf8File(L"Veltrane.INI");
    EXPECT_EQ(Get(ini, file, "Delay"), "(default)");
    EXPECT_TRUE(FolderNames(folder.Path()).empty());
}

TEST(Win32ProfileFile, WritesTheSameBytesAsTheProgramsRules)
{
    TempFolder folder(L"veltrane-\u00E9t\u00E9");
    Win32ProfileFile ini;
    const std::wstring path = folder.File(L"Veltrane.INI");
    const std::string file = Narrow(path);

    ASSERT_TRUE(ini.WriteString("Main", "NTPServer", "time-a-g.nist.gov (NIST, Gaithersburg, MD)", file));
    ASSERT_TRUE(ini.WriteString("Main", "Delay", "10", file));
    EXPECT_EQ(ReadBytes(path), "[Main]\r\nNTPServer=time-a-g.nist.gov (NIST, Gaithersburg, MD)\r\nDelay=10\r\n");

    // A hand-edited file: every other byte stays, as the core's rules say.
    const std::string hand = test::IniFixture("hand_edited.ini");
    WriteBytes(path, hand);
    std::string expected = hand;
    for (const auto& [key, value] :
         {std::pair<std::string, std::string>{"Delay", "25"}, {"QuietMode", "Y"}, {"Connectoid", "Home \xC3\xA9"}}) {
        ASSERT_TRUE(ini.WriteString("Main", key, value, file));
        expected = ini::WriteValue(expected, "Main", key, value);
    }
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_EQ(Get(ini, file, "connectoid"), "Home \xC3\xA9");
    // Nothing is left beside the file.
    EXPECT_EQ(FolderNames(folder.Path()), std::vector<std::wstring>{L"Veltrane.INI"});
}

TEST(Win32ProfileFile, ALongValueIsReadWhole)
{
    TempFolder folder;
    Win32ProfileFile ini;
    const std::string file = folder.Utf8File(L"Veltrane.INI");
    ASSERT_TRUE(ini.WriteString("Main", "NTPServer", std::string(300, 'h'), file));
    EXPECT_EQ(ini.Value("Main", "NTPServer", file), std::string(300, 'h'));
}

TEST(Win32ProfileFile, AnUnchangedTextLeavesTheFileAlone)
{
    TempFolder folder;
    Win32ProfileFile ini;
    const std::wstring path = folder.File(L"Veltrane.INI");
    WriteBytes(path, "[Main]\r\nDelay=10\r\n");
    const FILETIME old{0x12345678, 0x01D00000};
    const HANDLE file = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ::SetFileTime(file, nullptr, nullptr, &old);
    ::CloseHandle(file);
    ASSERT_TRUE(ini.WriteString("Main", "delay", "10", Narrow(path)));
    const FILETIME after = LastWrite(path);
    EXPECT_EQ(after.dwLowDateTime, old.dwLowDateTime);
    EXPECT_EQ(after.dwHighDateTime, old.dwHighDateTime);
}

TEST(Win32ProfileFile, AReadOnlyFileIsNotReplaced)
{
    TempFolder folder;
    Win32ProfileFile ini;
    const std::wstring path = folder.File(L"Veltrane.INI");
    WriteBytes(path, "[Main]\r\nDelay=10\r\n");
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(ini.WriteString("Main", "Delay", "20", Narrow(path)));
    EXPECT_EQ(ReadBytes(path), "[Main]\r\nDelay=10\r\n");
    EXPECT_EQ(FolderNames(folder.Path()).size(), 1u);
}

TEST(Win32ProfileFile, AReplacedFileKeepsItsAttributes)
{
    TempFolder folder;
    Win32ProfileFile ini;
    const std::wstring path = folder.File(L"Veltrane.INI");
    WriteBytes(path, "[Main]\r\nDelay=10\r\n");
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(ini.WriteString("Main", "Delay", "20", Narrow(path)));
    EXPECT_EQ(ReadBytes(path), "[Main]\r\nDelay=20\r\n");
    EXPECT_NE(::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

TEST(Win32ProfileFile, WritesThatCannotBeMadeChangeNothing)
{
    TempFolder folder;
    Win32ProfileFile ini;
    // No such folder: nothing is created.
    EXPECT_FALSE(ini.WriteString("Main", "Delay", "3", folder.Utf8File(L"missing\\Veltrane.INI")));
    EXPECT_TRUE(FolderNames(folder.Path()).empty());
    // A folder where the file should be.
    ::CreateDirectoryW(folder.File(L"Veltrane.INI").c_str(), nullptr);
    EXPECT_FALSE(ini.WriteString("Main", "Delay", "3", folder.Utf8File(L"Veltrane.INI")));
    EXPECT_EQ(Get(ini, folder.Utf8File(L"Veltrane.INI"), "Delay"), "(default)");
    // A file larger than the limit is read within it but never rewritten.
    Win32ProfileFile small(64);
    const std::wstring big = folder.File(L"big.ini");
    const std::string text = "[Main]\r\nDelay=10\r\n" + std::string(100, ';') + "\r\nQuietMode=Y\r\n";
    WriteBytes(big, text);
    EXPECT_EQ(Get(small, Narrow(big), "Delay"), "10");
    EXPECT_EQ(Get(small, Narrow(big), "QuietMode"), "(default)");
    EXPECT_FALSE(small.WriteString("Main", "Delay", "20", Narrow(big)));
    EXPECT_EQ(ReadBytes(big), text);
}

// Notepad's "Unicode": read and written in UTF-16 LE with its mark, as the
// Windows profile calls read it.
TEST(Win32ProfileFile, AUtf16FileIsReadAndWrittenInUtf16)
{
    TempFolder folder;
    Win32ProfileFile ini;
    const std::wstring path = folder.File(L"Veltrane.INI");
    const auto utf16 = [](const std::wstring& text) {
        std::string bytes = "\xFF\xFE";
        for (const wchar_t c : text)
            bytes += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        return bytes;
    };
    WriteBytes(path, utf16(L"[Main]\r\nNTPServer=127.0.0.1 (here)\r\nConnectoid=Z\u00FCrich\r\n"));
    EXPECT_EQ(Get(ini, Narrow(path), "NTPServer"), "127.0.0.1 (here)");
    EXPECT_EQ(Get(ini, Narrow(path), "Connectoid"), "Z\xC3\xBCrich");
    ASSERT_TRUE(ini.WriteString("Main", "QuietMode", "Y", Narrow(path)));
    EXPECT_EQ(ReadBytes(path),
              utf16(L"[Main]\r\nNTPServer=127.0.0.1 (here)\r\nConnectoid=Z\u00FCrich\r\nQuietMode=Y\r\n"));
    // What the system's own call reads from it.
    wchar_t value[64] = {};
    ::GetPrivateProfileStringW(L"Main", L"QuietMode", L"", value, 64, path.c_str());
    EXPECT_EQ(std::wstring(value), L"Y");
}

// The temporary file of a write that was killed goes at the next write; one
// that a running write holds open stays.
TEST(Win32ProfileFile, AbandonedTemporaryFilesGoAndOnesInUseStay)
{
    TempFolder folder;
    Win32ProfileFile ini;
    WriteBytes(folder.File(L"~veltrane-99999-0.tmp"), "killed");
    WriteBytes(folder.File(L"~veltrane-99999-1.tmp"), "running");
    const HANDLE running = ::CreateFileW(folder.File(L"~veltrane-99999-1.tmp").c_str(), GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(running, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(ini.WriteString("Main", "Delay", "3", folder.Utf8File(L"Veltrane.INI")));
    ::CloseHandle(running);
    std::vector<std::wstring> names = FolderNames(folder.Path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Veltrane.INI", L"~veltrane-99999-1.tmp"}));
    // What is no file is no settings file.
    ::CreateDirectoryW(folder.File(L"folder.ini").c_str(), nullptr);
    SystemError why;
    EXPECT_FALSE(ini.Usable(folder.Utf8File(L"folder.ini"), why));
    EXPECT_TRUE(ini.Usable(folder.Utf8File(L"missing.ini"), why));
}

}  // namespace
}  // namespace vel::platform

// The Win32 environment on real files, the registry and real processes:
// paths beyond ASCII, the log's append and rewrite, copies that are whole or
// absent, the presence test, variables, programs started without waiting.
#include "platform/win32/win32_environment.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_text.h"
#include "win32_test_support.h"

namespace vel::platform {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

Win32Environment MakeEnvironment()
{
    return Win32Environment({"noupdate", "Debug"}, "C:\\Veltrane");
}

TEST(Win32Environment, ArgumentsAndFolders)
{
    Win32Environment env = MakeEnvironment();
    EXPECT_EQ(env.Process().arguments, (std::vector<std::string>{"noupdate", "Debug"}));
    EXPECT_EQ(env.Process().folders.settings, "C:\\Veltrane");
    EXPECT_EQ(env.Process().folders.log, "C:\\Veltrane");
    EXPECT_EQ(env.Process().folders.separator, "\\");

    // This process's own: its folder holds the test program itself.
    const std::string folder = Win32Environment::ExecutableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '\\');
    EXPECT_TRUE(env.IsOrdinaryFile(folder + "\\veltrane_win32_tests.exe"));
}

TEST(Win32Environment, FilesWithNamesBeyondAscii)
{
    TempFolder folder(L"veltrane-Zeit-\u00DC\u20AC");
    Win32Environment env = MakeEnvironment();
    const std::string log = folder.Utf8File(L"Veltrane \u00E9t\u00E9.log");

    SystemError error;
    {
        auto file = env.OpenAppend(log, error);
        ASSERT_NE(file, nullptr) << error.description;
        ASSERT_TRUE(file->Write("first\r\n", error));
    }
    {
        auto file = env.OpenAppend(log, error);
        ASSERT_NE(file, nullptr);
        // Written through at once: another reader sees it while it is open.
        ASSERT_TRUE(file->Write("second\r\n", error));
        EXPECT_EQ(ReadBytes(Widen(log)), "first\r\nsecond\r\n");
    }
    EXPECT_EQ(env.OrdinaryFileSize(log), 15);
    {
        // Runs share the file: one holds the lock, the other finds it busy,
        // and both still append.
        auto first = env.OpenAppend(log, error);
        auto second = env.OpenAppend(log, error);
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        ASSERT_EQ(first->TryLock(true, error), LockResult::Locked);
        EXPECT_EQ(second->TryLock(false, error), LockResult::Busy);
        ASSERT_TRUE(first->Write("third\r\n", error));
        ASSERT_TRUE(second->Write("fourth\r\n", error));
        first->Unlock();
        EXPECT_EQ(second->TryLock(false, error), LockResult::Locked);
        second->Unlock();
        EXPECT_EQ(first->Size(), 30);
    }
    EXPECT_EQ(ReadBytes(Widen(log)), "first\r\nsecond\r\nthird\r\nfourth\r\n");

    // The move replaces its target whole and leaves nothing beside it.
    const std::string old = folder.Utf8File(L"OldLog.log");
    WriteBytes(Widen(old), std::string(20000, 'x'));
    ASSERT_TRUE(env.MoveFileTo(log, old, error)) << error.description;
    EXPECT_EQ(ReadBytes(Widen(old)), "first\r\nsecond\r\nthird\r\nfourth\r\n");
    EXPECT_FALSE(env.IsOrdinaryFile(log));
    EXPECT_EQ(test::FolderNames(folder.Path()).size(), 1u);

    EXPECT_TRUE(env.RemoveFile(old));
    EXPECT_FALSE(env.IsOrdinaryFile(old));
    EXPECT_FALSE(env.RemoveFile(old));
    EXPECT_EQ(env.OrdinaryFileSize(old), std::nullopt);
}

TEST(Win32Environment, WhatCountsAsAnOrdinaryFile)
{
    TempFolder folder;
    Win32Environment env = MakeEnvironment();
    const std::wstring plain = folder.File(L"Veltrane.INI");
    const std::wstring hidden = folder.File(L"hidden.ini");
    const std::wstring system = folder.File(L"system.ini");
    WriteBytes(plain, "[Main]\r\n");
    WriteBytes(hidden, "[Main]\r\n");
    WriteBytes(system, "[Main]\r\n");
    ::SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
    ::SetFileAttributesW(system.c_str(), FILE_ATTRIBUTE_SYSTEM);
    ::CreateDirectoryW(folder.File(L"folder.ini").c_str(), nullptr);

    EXPECT_TRUE(env.IsOrdinaryFile(Narrow(plain)));
    // File names are compared without regard to case.
    EXPECT_TRUE(env.IsOrdinaryFile(folder.Utf8File(L"veltrane.ini")));
    // A hidden or system settings file counts as missing; so does a folder.
    EXPECT_FALSE(env.IsOrdinaryFile(Narrow(hidden)));
    EXPECT_FALSE(env.IsOrdinaryFile(Narrow(system)));
    EXPECT_FALSE(env.IsOrdinaryFile(folder.Utf8File(L"folder.ini")));
    EXPECT_FALSE(env.IsOrdinaryFile(folder.Utf8File(L"missing.ini")));
    EXPECT_FALSE(env.IsOrdinaryFile(""));
    EXPECT_EQ(env.OrdinaryFileSize(Narrow(hidden)), std::nullopt);
    EXPECT_FALSE(env.RemoveFile(folder.Utf8File(L"folder.ini")));

    // A log that cannot be opened says why.
    SystemError error;
    EXPECT_EQ(env.OpenAppend(folder.Utf8File(L"folder.ini"), error), nullptr);
    EXPECT_NE(error.number, 0);
    EXPECT_FALSE(error.description.empty());
    EXPECT_EQ(env.OpenAppend(folder.Utf8File(L"no\\such\\folder.log"), error), nullptr);
    EXPECT_EQ(error.number, ERROR_PATH_NOT_FOUND);
}

TEST(Win32Environment, Variables)
{
    Win32Environment env = MakeEnvironment();
    ::SetEnvironmentVariableW(L"VELTRANE_TEST_VALUE", L"Windows_NT \u00E9");
    EXPECT_EQ(env.GetVariable("VELTRANE_TEST_VALUE"), "Windows_NT \xC3\xA9");
    ::SetEnvironmentVariableW(L"VELTRANE_TEST_VALUE", std::wstring(300, L'v').c_str());
    EXPECT_EQ(env.GetVariable("VELTRANE_TEST_VALUE"), std::string(300, 'v'));
    ::SetEnvironmentVariableW(L"VELTRANE_TEST_VALUE", nullptr);
    EXPECT_EQ(env.GetVariable("VELTRANE_TEST_VALUE"), std::nullopt);
}

TEST(Win32Environment, RegistryStringsAreReadNotChanged)
{
    const wchar_t* key = L"Software\\Veltrane test";
    HKEY opened = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &opened, nullptr),
              ERROR_SUCCESS);
    const std::wstring path = L"C:\\Programme\\Gem\u00FCse\\MSINFO";
    ::RegSetValueExW(opened, L"MSINFO", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                     static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    const DWORD number = 7;
    ::RegSetValueExW(opened, L"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    ::RegCloseKey(opened);

    Win32Environment env = MakeEnvironment();
    EXPECT_EQ(env.ReadRegistryString("HKEY_CURRENT_USER", "Software\\Veltrane test", "MSINFO"),
              "C:\\Programme\\Gem\xC3\xBCse\\MSINFO");
    EXPECT_EQ(env.ReadRegistryString("HKEY_CURRENT_USER", "Software\\Veltrane test", "Number"), std::nullopt);
    EXPECT_EQ(env.ReadRegistryString("HKEY_CURRENT_USER", "Software\\Veltrane test", "Missing"), std::nullopt);
    EXPECT_EQ(env.ReadRegistryString("HKEY_CURRENT_USER", "Software\\No such key", "MSINFO"), std::nullopt);
    EXPECT_EQ(env.ReadRegistryString("HKEY_NOWHERE", "Software\\Veltrane test", "MSINFO"), std::nullopt);
    // The system information tool's key is read from HKEY_LOCAL_MACHINE with
    // read access only: a user who may not change the key may still read it.
    EXPECT_NE(env.ReadRegistryString("HKEY_LOCAL_MACHINE", "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                                     "CurrentVersion"),
              std::nullopt);
    ::RegDeleteKeyW(HKEY_CURRENT_USER, key);
}

TEST(Win32Environment, ProgramsStartWithoutBeingWaitedFor)
{
    TempFolder folder;
    Win32Environment env = MakeEnvironment();
    const std::wstring marker = folder.File(L"started.txt");
    // cmd waits two seconds before it writes the marker: StartProgram has long
    // returned by then.
    const DWORD start = ::GetTickCount();
    ASSERT_TRUE(
        env.StartProgram({"cmd.exe", "/c", "ping -n 3 127.0.0.1 >nul & echo started>" + Narrow(marker)}, false));
    EXPECT_LT(::GetTickCount() - start, 1500u);
    bool found = false;
    for (int i = 0; i < 200 && !found; ++i) {
        ::Sleep(100);
        found = test::ReadBytes(marker).find("started") != std::string::npos;
    }
    EXPECT_TRUE(found);

    EXPECT_FALSE(env.StartProgram({}, true));
    EXPECT_FALSE(env.StartProgram({folder.Utf8File(L"no-such-program.exe")}, true));
    EXPECT_FALSE(Win32Environment::StartCommandLine("", true));
}

// The registry names the tool: its PATH first, else the shared tools' folder
// where the tool lies in it. Written under HKEY_CURRENT_USER here.
TEST(Win32Environment, TheSystemInformationToolIsTheOneTheRegistryNames)
{
    TempFolder folder;
    Win32Environment env = MakeEnvironment();
    const auto set = [](const wchar_t* key, const wchar_t* name, const std::wstring& text) {
        HKEY opened = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &opened, nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExW(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(opened);
    };
    const wchar_t* location = L"SOFTWARE\\Microsoft\\Shared Tools Location";
    const wchar_t* msinfo = L"SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
    EXPECT_EQ(env.SystemInformationTool("HKEY_CURRENT_USER"), std::nullopt);
    set(location, L"MSINFO", folder.Path());
    EXPECT_EQ(env.SystemInformationTool("HKEY_CURRENT_USER"), std::nullopt) << "no tool in the folder";
    WriteBytes(folder.File(L"MSINFO32.EXE"), "");
    EXPECT_EQ(env.SystemInformationTool("HKEY_CURRENT_USER"), folder.Utf8File(L"MSINFO32.EXE"));
    set(msinfo, L"PATH", L"C:\\Tools\\msinfo32.exe");
    EXPECT_EQ(env.SystemInformationTool("HKEY_CURRENT_USER"), "C:\\Tools\\msinfo32.exe");
    set(msinfo, L"PATH", L"");
    EXPECT_EQ(env.SystemInformationTool("HKEY_CURRENT_USER"), "") << "an empty PATH still counts";
    ::RegDeleteKeyW(HKEY_CURRENT_USER, msinfo);
    ::RegDeleteKeyW(HKEY_CURRENT_USER, location);
}

TEST(Win32Shell, AFileThatIsNotThereIsAFailure)
{
    TempFolder folder;
    Win32Shell shell;
    // Never an address here: the system would hand it to a browser.
    EXPECT_FALSE(shell.Open(folder.Utf8File(L"missing document.txt")));
}

// The machine's run's event goes through the writer a test puts in; the real
// one (ReportEventW under the source the installers register) writes it.
TEST(Win32Environment, TheSystemEventGoesThroughTheInjectedWriter)
{
    Win32Environment env = MakeEnvironment();
    std::vector<SystemEvent> written;
    env.eventWriter = [&written](const SystemEvent& event, SystemError&) {
        written.push_back(event);
        return SystemEventResult::Written;
    };
    const SystemEvent event{3, SystemEvent::Kind::Error, {"result: failed", "server: t\u00e9st.example"}};
    SystemError error;
    EXPECT_EQ(env.WriteSystemEvent(event, error), SystemEventResult::Written);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].id, 3);
    EXPECT_EQ(written[0].fields, event.fields);

    EXPECT_EQ(Win32Environment::WriteApplicationEvent(event, error), SystemEventResult::Written) << error.description;
}

}  // namespace
}  // namespace vel::platform

// veltrane.exe itself, as built beside this test: a GUI program (no console)
// with the version information the About box shows, its icon, and a manifest
// asking for common controls 6, per-monitor DPI awareness and no elevation.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "about/version_info.h"
#include "platform/win32/win32_environment.h"
#include "platform/win32/win32_text.h"

namespace vel::platform {
namespace {

std::wstring ProgramPath()
{
    return Widen(Win32Environment::ExecutableFolder()) + L"\\veltrane.exe";
}

std::string VersionString(const std::vector<BYTE>& block, const wchar_t* name)
{
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!::VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) || length == 0)
        return {};
    return Narrow(std::wstring(value, length - 1));
}

TEST(Win32Program, VersionInformationIsTheAboutBoxs)
{
    const std::wstring path = ProgramPath();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << Narrow(path);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), static_cast<unsigned>(kVersionInfo.Major));
    EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), static_cast<unsigned>(kVersionInfo.Minor));
    EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), static_cast<unsigned>(kVersionInfo.Revision));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    EXPECT_EQ(VersionString(block, L"ProductName"), kVersionInfo.ProductName);
    EXPECT_EQ(VersionString(block, L"FileDescription"), kVersionInfo.FileDescription);
    EXPECT_EQ(VersionString(block, L"LegalCopyright"), kVersionInfo.LegalCopyright);
    EXPECT_EQ(VersionString(block, L"FileVersion"), "1.55");
    EXPECT_EQ(VersionString(block, L"OriginalFilename"), "veltrane.exe");
}

TEST(Win32Program, AGuiProgramWithIconAndManifest)
{
    const HMODULE program = ::LoadLibraryExW(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr);
    EXPECT_NE(::FindResourceW(program, MAKEINTRESOURCEW(1), RT_GROUP_ICON), nullptr);

    const HRSRC found = ::FindResourceW(program, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(found, nullptr);
    const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(program, found)));
    const std::string manifest(bytes, ::SizeofResource(program, found));
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("PerMonitorV2"), std::string::npos);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    // From Windows 7 up, not Vista.
    EXPECT_NE(manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);
    EXPECT_EQ(manifest.find("{e2011457-1546-4b8f-9f43-8e1e5a7a9d15}"), std::string::npos);
    ::FreeLibrary(program);

    // The PE header: the Windows GUI subsystem, not the console one.
    const HANDLE file =
        ::CreateFileW(ProgramPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::vector<char> head(4096);
    DWORD got = 0;
    ::ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &got, nullptr);
    ::CloseHandle(file);
    ASSERT_GE(got, sizeof(IMAGE_DOS_HEADER));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(head.data());
    ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
    ASSERT_LT(static_cast<DWORD>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS), got);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(head.data() + dos->e_lfanew);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    // Windows 7 (6.1) is the oldest system that loads it, as the manifest says.
    EXPECT_EQ(nt->OptionalHeader.MajorSubsystemVersion, 6);
    EXPECT_EQ(nt->OptionalHeader.MinorSubsystemVersion, 1);
    EXPECT_EQ(nt->OptionalHeader.MajorOperatingSystemVersion, 6);
    EXPECT_EQ(nt->OptionalHeader.MinorOperatingSystemVersion, 1);
}

}  // namespace
}  // namespace vel::platform

#include "win32_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/win32/win32_text.h"

namespace vel::test {

namespace {

void RemoveTree(const std::wstring& folder)
{
    for (const std::wstring& name : FolderNames(folder)) {
        const std::wstring path = folder + L"\\" + name;
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            RemoveTree(path);
        } else {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(path.c_str());
        }
    }
    ::RemoveDirectoryW(folder.c_str());
}

}  // namespace

TempFolder::TempFolder(const std::wstring& stem)
{
    wchar_t temp[MAX_PATH];
    const DWORD length = ::GetTempPathW(MAX_PATH, temp);
    std::wstring base(temp, length);
    while (!base.empty() && (base.back() == L'\\' || base.back() == L'/'))
        base.pop_back();
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const std::wstring candidate = base + L"\\" + stem + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                       std::to_wstring(::GetTickCount()) + L"-" + std::to_wstring(attempt);
        if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
    }
    ADD_FAILURE() << "no temporary folder";
}

TempFolder::~TempFolder()
{
    if (!path_.empty())
        RemoveTree(path_);
}

std::string TempFolder::Utf8() const
{
    return platform::Narrow(path_);
}

std::string TempFolder::Utf8File(const std::wstring& name) const
{
    return platform::Narrow(File(name));
}

std::string ReadBytes(const std::wstring& path, bool* found)
{
    std::string bytes;
    const HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (found != nullptr)
        *found = file != INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    ::CloseHandle(file);
    return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    const HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD wrote = 0;
    ASSERT_TRUE(bytes.empty() || ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr));
    ::CloseHandle(file);
}

std::vector<std::wstring> FolderNames(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    const HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return names;
}

std::string TestVariable(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool TestServersRunning()
{
    return TestVariable("VELTRANE_TEST_SERVERS") == "1";
}

double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& ft) {
        return static_cast<double>(static_cast<std::uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

}  // namespace vel::test

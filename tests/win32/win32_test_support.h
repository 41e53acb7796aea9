// Helpers of the Win32 back end's tests: temporary folders and files through
// the W calls, and what scripts/test-windows.sh tells the tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vel::test {

// A new, empty folder under %TEMP% (its name may hold characters beyond
// ASCII), removed with its content at the end.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& stem = L"veltrane-test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& Path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }
    // UTF-8, as the core names paths.
    std::string Utf8() const;
    std::string Utf8File(const std::wstring& name) const;

private:
    std::wstring path_;
};

// A whole file's bytes; `found` false when it could not be read.
std::string ReadBytes(const std::wstring& path, bool* found = nullptr);
void WriteBytes(const std::wstring& path, const std::string& bytes);
// The names in a folder, "." and ".." left out.
std::vector<std::wstring> FolderNames(const std::wstring& folder);

// A variable of the environment the test runs in; empty when unset.
std::string TestVariable(const char* name);

// Whether tests/win32's test servers listen on loopback (the test script
// starts them in the private network namespace and says so).
bool TestServersRunning();

// The process's CPU time (user and kernel) in seconds.
double ProcessCpuSeconds();

}  // namespace vel::test

#include "platform/win32/win32_profile_file.h"

#include <windows.h>

#include <optional>

#include "common/ini_text.h"
#include "platform/win32/win32_text.h"

namespace vel::platform {

namespace {

enum class ReadOutcome { Read, Missing, Failed };

struct FileText {
    ReadOutcome outcome = ReadOutcome::Failed;
    std::string text;
    bool whole = true;
    DWORD attributes = 0;
};

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle()
    {
        if (valid())
            ::CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    bool Close()
    {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle == INVALID_HANDLE_VALUE || ::CloseHandle(handle);
    }

private:
    HANDLE handle_;
};

FileText ReadFileText(const std::wstring& path, std::size_t limit)
{
    FileText result;
    Handle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = ::GetLastError();
        result.outcome =
            error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadOutcome::Missing : ReadOutcome::Failed;
        return result;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file.get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        ::GetFileType(file.get()) != FILE_TYPE_DISK)
        return result;
    result.attributes = info.dwFileAttributes;
    const std::uint64_t size = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    std::string text(static_cast<std::size_t>(size < limit ? size : limit) + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == text.size()) {
            if (used > limit)
                break;
            const std::size_t grown = text.size() * 2;
            text.resize(grown > limit + 1 ? limit + 1 : grown);
        }
        DWORD got = 0;
        if (!::ReadFile(file.get(), text.data() + used, static_cast<DWORD>(text.size() - used), &got, nullptr))
            return result;
        if (got == 0)
            break;
        used += got;
    }
    result.whole = used <= limit;
    text.resize(result.whole ? used : limit);
    result.text = std::move(text);
    result.outcome = ReadOutcome::Read;
    return result;
}

std::wstring FolderOf(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return L".";
    return path.substr(0, slash == 0 ? 1 : slash);
}

// Writes `text` to a new file beside `target` and puts it in the target's
// place, with the old file's attributes (hidden, say).
bool ReplaceWith(const std::wstring& target, const std::string& text, bool existed, DWORD attributes)
{
    const std::wstring folder = FolderOf(target);
    static unsigned counter = 0;
    std::wstring temporary;
    HANDLE created = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = folder + L"\\~veltrane-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                    std::to_wstring(counter++) + L".tmp";
        created =
            ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS &&
            ::GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    Handle file(created);
    if (!file.valid())
        return false;

    DWORD wrote = 0;
    bool ok = text.empty() || (::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) &&
                               wrote == text.size());
    ok = ok && ::FlushFileBuffers(file.get());
    ok = file.Close() && ok;
    constexpr DWORD kKept =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (ok && existed && (attributes & kKept) != 0)
        ::SetFileAttributesW(temporary.c_str(), attributes & kKept);
    if (ok) {
        if (existed)
            ok = ::ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                                nullptr) ||
                 // Where ReplaceFileW cannot (some file systems), a plain move.
                 ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        else
            ok = ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
    }
    if (!ok) {
        const DWORD why = ::GetLastError();
        ::DeleteFileW(temporary.c_str());
        ::SetLastError(why);
    }
    return ok;
}

}  // namespace

int Win32ProfileFile::GetString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                std::string& value, int bufferSize, const std::string& file)
{
    try {
        const FileText read = ReadFileText(Widen(file), sizeLimit_);
        value = read.outcome == ReadOutcome::Read
                    ? ini::ProfileValue(read.text, read.whole, section, key, defaultValue, bufferSize)
                    : ini::ProfileValue({}, true, section, key, defaultValue, bufferSize);
        return static_cast<int>(value.size());
    } catch (...) {
        value.clear();
        return 0;
    }
}

bool Win32ProfileFile::WriteString(const std::string& section, const std::string& key, const std::string& value,
                                   const std::string& file, SystemError& error)
{
    const auto fail = [&error](DWORD number) {
        error = {static_cast<int>(number), SystemErrorText(number)};
        return false;
    };
    try {
        const std::wstring target = Widen(file);
        if (target.empty())
            return fail(ERROR_INVALID_NAME);
        FileText read = ReadFileText(target, sizeLimit_);
        if (read.outcome == ReadOutcome::Failed)
            return fail(::GetLastError() != ERROR_SUCCESS ? ::GetLastError() : ERROR_READ_FAULT);
        if (!read.whole)
            return fail(ERROR_FILE_TOO_LARGE);
        const bool existed = read.outcome == ReadOutcome::Read;
        // A read-only file is not replaced, though the folder would allow it.
        if (existed && (read.attributes & FILE_ATTRIBUTE_READONLY) != 0)
            return fail(ERROR_ACCESS_DENIED);
        const std::string text = ini::WriteValue(read.text, section, key, value);
        if (existed && text == read.text)
            return true;
        if (!ReplaceWith(target, text, existed, read.attributes))
            return fail(::GetLastError() != ERROR_SUCCESS ? ::GetLastError() : ERROR_WRITE_FAULT);
        return true;
    } catch (...) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

}  // namespace vel::platform

#include "platform/win32/win32_profile_file.h"

#include <windows.h>
#include <aclapi.h>

#include <cstddef>
#include <cstring>
#include <optional>

#include "common/ini_text.h"
#include "platform/win32/win32_text.h"

namespace vel::platform {

namespace {

enum class ReadOutcome { Read, Missing, Failed };

struct FileText {
    ReadOutcome outcome = ReadOutcome::Failed;
    ini::FileContent content;
    bool whole = true;
    DWORD attributes = 0;
    DWORD error = ERROR_SUCCESS;  // why it failed
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
        result.error = ::GetLastError();
        result.outcome = result.error == ERROR_FILE_NOT_FOUND || result.error == ERROR_PATH_NOT_FOUND
                             ? ReadOutcome::Missing
                             : ReadOutcome::Failed;
        return result;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file.get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        ::GetFileType(file.get()) != FILE_TYPE_DISK) {
        result.error = ERROR_INVALID_FUNCTION;  // not a file
        return result;
    }
    result.attributes = info.dwFileAttributes;
    const std::uint64_t size = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    std::string bytes(static_cast<std::size_t>(size < limit ? size : limit) + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (used > limit)
                break;
            const std::size_t grown = bytes.size() * 2;
            bytes.resize(grown > limit + 1 ? limit + 1 : grown);
        }
        DWORD got = 0;
        if (!::ReadFile(file.get(), bytes.data() + used, static_cast<DWORD>(bytes.size() - used), &got, nullptr)) {
            result.error = ::GetLastError();
            return result;
        }
        if (got == 0)
            break;
        used += got;
    }
    result.whole = used <= limit;
    bytes.resize(result.whole ? used : limit);
    result.content = ini::DecodeFile(bytes);
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

constexpr const wchar_t* kTemporaryPrefix = L"~veltrane-";

// Removes the temporary files that writes killed before their rename left in
// `folder`. A write keeps its temporary file open, shared with nobody, until
// the file has its new name, so a delete succeeds only on a file that nobody
// has open: one whose write is gone.
void RemoveAbandonedTemporaries(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((folder + L"\\" + kTemporaryPrefix + L"*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0)
            ::DeleteFileW((folder + L"\\" + found.cFileName).c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

// The old file's own access rules go to the new one (inherited ones come from
// the folder again), where this process may read and set them.
void CopyAccessRules(const std::wstring& from, HANDLE to)
{
    PACL rules = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(from.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &rules,
                                nullptr, &descriptor) != ERROR_SUCCESS)
        return;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (rules != nullptr && ::GetSecurityDescriptorControl(descriptor, &control, &revision)) {
        const SECURITY_INFORMATION what =
            DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                            : UNPROTECTED_DACL_SECURITY_INFORMATION);
        ::SetSecurityInfo(to, SE_FILE_OBJECT, what, nullptr, nullptr, rules, nullptr);
    }
    ::LocalFree(descriptor);
}

// Writes `bytes` to a new file beside `target` and gives it the target's name
// in one step, with the old file's attributes (hidden, say) and access rules.
// The new file stays open, shared with nobody, until it has that name.
bool ReplaceWith(const std::wstring& target, const std::string& bytes, bool existed, DWORD attributes)
{
    const std::wstring folder = FolderOf(target);
    RemoveAbandonedTemporaries(folder);
    static unsigned counter = 0;
    HANDLE created = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
        const std::wstring temporary = folder + L"\\" + kTemporaryPrefix + std::to_wstring(::GetCurrentProcessId()) +
                                       L"-" + std::to_wstring(counter++) + L".tmp";
        created = ::CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE | WRITE_DAC | FILE_WRITE_ATTRIBUTES, 0,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS &&
            ::GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    Handle file(created);
    if (!file.valid())
        return false;

    DWORD wrote = 0;
    bool ok =
        bytes.empty() || (::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
                          wrote == bytes.size());
    ok = ok && ::FlushFileBuffers(file.get());
    if (ok && existed) {
        constexpr DWORD kKept =
            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        if ((attributes & kKept) != 0) {
            FILE_BASIC_INFO basic{};
            basic.FileAttributes = attributes & kKept;
            ::SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic);
        }
        CopyAccessRules(target, file.get());
    }
    if (ok) {
        // FILE_RENAME_INFO ends in the name, of any length.
        std::string buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t), '\0');
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        rename->ReplaceIfExists = TRUE;
        rename->RootDirectory = nullptr;
        rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
        std::memcpy(buffer.data() + offsetof(FILE_RENAME_INFO, FileName), target.data(), rename->FileNameLength);
        ok = ::SetFileInformationByHandle(file.get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size()));
    }
    if (!ok) {
        const DWORD why = ::GetLastError();
        FILE_DISPOSITION_INFO remove{TRUE};
        ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &remove, sizeof remove);
        ::SetLastError(why);
        return false;
    }
    return file.Close();
}

}  // namespace

bool ReplaceFileWithBytes(const std::string& path, const std::string& bytes, SystemError& error)
{
    const std::wstring target = Widen(path);
    const DWORD attributes = target.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(target.c_str());
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    DWORD failure = ERROR_SUCCESS;
    if (target.empty())
        failure = ERROR_INVALID_NAME;
    else if (existed && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
        failure = ERROR_ACCESS_DENIED;
    else if (!ReplaceWith(target, bytes, existed, existed ? attributes : 0))
        failure = ::GetLastError() != ERROR_SUCCESS ? ::GetLastError() : ERROR_WRITE_FAULT;
    if (failure == ERROR_SUCCESS)
        return true;
    error = {static_cast<int>(failure), SystemErrorText(failure)};
    return false;
}

std::optional<std::string> Win32ProfileFile::Value(const std::string& section, const std::string& key,
                                                   const std::string& file)
{
    try {
        const FileText read = ReadFileText(Widen(file), sizeLimit_);
        if (read.outcome != ReadOutcome::Read)
            return std::nullopt;
        return ini::ProfileValue(read.content.text, read.whole, section, key);
    } catch (...) {
        return std::nullopt;
    }
}

bool Win32ProfileFile::Usable(const std::string& file, SystemError& why)
{
    const FileText read = ReadFileText(Widen(file), 0);
    if (read.outcome != ReadOutcome::Failed)
        return true;
    why = {static_cast<int>(read.error), SystemErrorText(read.error)};
    return false;
}

std::string Win32ProfileFile::EncodingProblem(const std::string& file)
{
    try {
        const FileText read = ReadFileText(Widen(file), sizeLimit_);
        return read.outcome == ReadOutcome::Read ? ini::EncodingProblem(ini::EncodeFile(read.content)) : std::string();
    } catch (...) {
        return {};
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
        const FileText read = ReadFileText(target, sizeLimit_);
        if (read.outcome == ReadOutcome::Failed)
            return fail(read.error != ERROR_SUCCESS ? read.error : ERROR_READ_FAULT);
        if (!read.whole)
            return fail(ERROR_FILE_TOO_LARGE);
        const bool existed = read.outcome == ReadOutcome::Read;
        // A read-only file is not replaced, though the folder would allow it.
        if (existed && (read.attributes & FILE_ATTRIBUTE_READONLY) != 0)
            return fail(ERROR_ACCESS_DENIED);
        ini::FileContent content = read.content;
        content.text = ini::WriteValue(read.content.text, section, key, value);
        if (existed && content.text == read.content.text)
            return true;
        if (!ReplaceWith(target, ini::EncodeFile(content), existed, read.attributes))
            return fail(::GetLastError() != ERROR_SUCCESS ? ::GetLastError() : ERROR_WRITE_FAULT);
        return true;
    } catch (...) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

}  // namespace vel::platform

// INI files on Windows with the program's own INI rules (common/ini_text), so
// that both builds read and write the same bytes; the private-profile calls
// of Windows are not used (Wine's, for one, rewrite every line of the file).
//
// Reading takes the whole file; a missing or unreadable file reads as empty,
// so the default comes back, and reading never creates anything. A write
// puts the new text into a temporary file in the same folder, flushes it,
// gives it the old file's attributes and access rules and then the file's
// name in one step (a rename through its own handle, replacing the old file).
// A crash or a full disk leaves the old file or the new one, never a part of
// either. The temporary file is open and shared with nobody until then: one
// that a killed write left is removed by the next write, one in use never. A
// read-only file is not replaced. A write that would not change the text does
// not touch the file. A file that begins with the UTF-16 LE byte order mark
// is read and written in UTF-16 (ini::DecodeFile), as the Windows profile
// calls read it; any other byte for byte.
#pragma once

#include <cstddef>
#include <string>

#include "platform/profile_file.h"

namespace vel::platform {

// Replaces the file at `path` (or makes it) with `bytes` as the settings'
// writes do: a temporary file beside it (named "~veltrane-*.tmp") takes its
// name in one step, with the old file's attributes and access rules. False
// and `error` when nothing changed.
bool ReplaceFileWithBytes(const std::string& path, const std::string& bytes, SystemError& error);

class Win32ProfileFile : public ProfileFile {
public:
    // A file larger than `sizeLimit` counts only with its lines within the
    // limit, and is never rewritten.
    explicit Win32ProfileFile(std::size_t sizeLimit = kSizeLimit) : ProfileFile(sizeLimit) {}

    std::optional<std::string> Value(const std::string& section, const std::string& key,
                                     const std::string& file) override;

    using ProfileFile::WriteString;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& file, SystemError& error) override;
    // False for what is no file (a folder, a device) or cannot be read.
    bool Usable(const std::string& file, SystemError& why) override;
    std::string EncodingProblem(const std::string& file) override;
};

}  // namespace vel::platform

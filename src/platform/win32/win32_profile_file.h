// INI files on Windows with the program's own INI rules (common/ini_text), so
// that both builds read and write the same bytes; the private-profile calls
// of Windows are not used (Wine's, for one, rewrite every line of the file).
//
// Reading takes the whole file; a missing or unreadable file reads as empty,
// so the default comes back, and reading never creates anything. A write
// puts the new text into a temporary file in the same folder, flushes it and
// then replaces the old file in one step (ReplaceFileW, which keeps the old
// file's attributes and security; MoveFileExW for a new file). A crash or a
// full disk leaves the old file or the new one, never a part of either. A
// read-only file is not replaced. A write that would not change the text does
// not touch the file.
#pragma once

#include <cstddef>
#include <string>

#include "platform/profile_file.h"

namespace vel::platform {

class Win32ProfileFile : public ProfileFile {
public:
    static constexpr std::size_t kDefaultSizeLimit = 16u * 1024u * 1024u;

    // A file larger than `sizeLimit` counts only with its lines within the
    // limit, and is never rewritten.
    explicit Win32ProfileFile(std::size_t sizeLimit = kDefaultSizeLimit) : sizeLimit_(sizeLimit) {}

    int GetString(const std::string& section, const std::string& key, const std::string& defaultValue,
                  std::string& value, int bufferSize, const std::string& file) override;

    using ProfileFile::WriteString;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& file, SystemError& error) override;
    std::size_t SizeLimit() const override { return sizeLimit_; }

private:
    std::size_t sizeLimit_;
};

}  // namespace vel::platform

// INI files read and written by the program's INI rules (common/ini_text).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/environment.h"

namespace vel::platform {

class ProfileFile {
public:
    // A file larger than SizeLimit() bytes is read only in part (its lines
    // within the limit) and never rewritten; this one but in tests of the limit.
    static constexpr std::size_t kSizeLimit = 16u * 1024u * 1024u;

    explicit ProfileFile(std::size_t sizeLimit = kSizeLimit) : sizeLimit_(sizeLimit) {}
    virtual ~ProfileFile() = default;

    std::size_t SizeLimit() const { return sizeLimit_; }

    // The whole stored value of `key` in `section` of `file` (surrounding
    // blanks removed, one pair of enclosing quotes removed), as the INI rules
    // read it; nullopt when the file, section or key is missing or the file
    // cannot be read. Never creates the file.
    virtual std::optional<std::string> Value(const std::string& section, const std::string& key,
                                             const std::string& file) = 0;

    // WritePrivateProfileStringA: replaces the key where it stands, appends a
    // new key at the end of its section, creates a missing section or file,
    // keeps every other line. The file is replaced as a whole or not at all.
    // False when nothing could be written, with the reason in `error`.
    virtual bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                             const std::string& file, SystemError& error) = 0;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& file)
    {
        SystemError ignored;
        return WriteString(section, key, value, file, ignored);
    }

    // False when something at the file's name must not be read or written:
    // a symbolic link that is not this user's or that leads to another
    // user's file, or anything but a regular file; `why` says which. Such a
    // file reads as missing and is never written. A missing file is usable.
    virtual bool Usable(const std::string& file, SystemError& why) = 0;

    // Why the file's bytes are no text the INI rules read (ini::EncodingProblem:
    // UTF-16 big-endian, UTF-32, NUL bytes); empty when they are, or when
    // there is no file to read.
    virtual std::string EncodingProblem(const std::string& file) = 0;

protected:
    std::size_t sizeLimit_;
};

}  // namespace vel::platform

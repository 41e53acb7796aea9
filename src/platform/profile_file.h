// INI files with the semantics of the Windows private-profile calls.
#pragma once

#include <cstddef>
#include <string>

#include "platform/environment.h"

namespace vel::platform {

class ProfileFile {
public:
    virtual ~ProfileFile() = default;

    // GetPrivateProfileStringA: the value of `key` in `section` of `file`
    // (surrounding blanks removed, one pair of enclosing quotes removed), or
    // `defaultValue` when the file, section or key is missing. At most
    // bufferSize - 1 characters are returned; the result is their count.
    // Never creates the file.
    virtual int GetString(const std::string& section, const std::string& key, const std::string& defaultValue,
                          std::string& value, int bufferSize, const std::string& file) = 0;

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

    // A file larger than this many bytes is read only in part (its lines
    // within the limit) and never rewritten.
    virtual std::size_t SizeLimit() const = 0;
};

}  // namespace vel::platform

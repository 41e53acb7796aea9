// INI files with the semantics of the Windows private-profile calls.
#pragma once

#include <string>

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
    // False when nothing could be written.
    virtual bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                             const std::string& file) = 0;
};

}  // namespace vel::platform

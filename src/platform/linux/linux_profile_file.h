// INI files on a POSIX file system, with the Windows private-profile
// behaviour of vel::ini.
//
// Reading takes the whole file. A missing, unreadable or non-ordinary file
// (a folder, a device, a pipe) reads as empty, so the default comes back;
// reading never creates or changes anything. The file is opened by
// OpenOwnFile's rules (file_writing.h): a symbolic link is followed only
// where it and its file are the user's, and nothing waits on a pipe.
//
// A write replaces the file as a whole: the new text goes to a temporary file
// in the same folder, is flushed to the disk, gets the old file's permission
// bits (and owner, where allowed) and is then renamed over the old file, and
// the folder is flushed too. A crash or a full disk leaves the old file or the
// new one, never a part of either. Where the folder takes no new file but the
// file itself may be written (a shared folder, a read-only folder with a
// writable file), the file is rewritten in place, as the Windows call does:
// what it gains first, so a full disk still leaves it as it was. A file that
// this process may not write (a read-only file) is not replaced, even where
// the folder is writable. A path that is the user's symbolic link writes the
// file the link points to and keeps the link. A stop signal that comes during a write
// waits for its end. A write that fails changes nothing and gives false with
// the reason; a write that would not change the text does not touch the file
// and gives true.
//
// Size limit: a settings file is a few hundred bytes. A file larger than
// `sizeLimit` is still read, but only its lines within the first `sizeLimit`
// bytes count, and it is never rewritten: a write to it gives false and
// leaves it whole, rather than holding and rewriting an unbounded file.
//
// A file that begins with the UTF-16 LE byte order mark is read and written
// in UTF-16 (ini::DecodeFile); any other byte for byte. A temporary file that
// a killed write left is removed by the next write (ReplaceFileWhole).
//
// Nothing here throws: failures become the empty text, or false and a reason.
#pragma once

#include <cstddef>
#include <string>

#include "platform/profile_file.h"

namespace vel::platform {

class LinuxProfileFile : public ProfileFile {
public:
    explicit LinuxProfileFile(std::size_t sizeLimit = kSizeLimit) : ProfileFile(sizeLimit) {}

    std::optional<std::string> Value(const std::string& section, const std::string& key,
                                     const std::string& file) override;

    using ProfileFile::WriteString;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& file, SystemError& error) override;

    bool Usable(const std::string& file, SystemError& why) override;
    std::string EncodingProblem(const std::string& file) override;
};

}  // namespace vel::platform

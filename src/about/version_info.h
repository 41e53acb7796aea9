// The program's version information: what the About box shows.
#pragma once

#include "about/version_number.h"

namespace vel {

struct VersionInfo {
    const char* ProductName;
    const char* FileDescription;  // one line
    const char* LegalCopyright;
    int Major;
    int Minor;
    int Revision;
};

inline constexpr VersionInfo kVersionInfo{
    "Veltrane",
    "Sets the PC clock from an internet time server",
    "Copyright \xC2\xA9 The Veltrane developers. This program comes with no warranty.",
    VELTRANE_VERSION_MAJOR,
    VELTRANE_VERSION_MINOR,
    VELTRANE_VERSION_REVISION,
};

// Where the About box sends the user for help, written without a scheme (host
// and path): the project's home and its issue tracker, as the AppStream
// metainfo names them.
inline constexpr const char* kWebAddress = "github.com/veltrane/veltrane";
inline constexpr const char* kIssuesAddress = "github.com/veltrane/veltrane/issues";

}  // namespace vel

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

// The maker's addresses that the About box links to: a web page written
// without a scheme (host and path) and the support e-mail address. Both lie
// in the reserved .example domain until the project has its own.
inline constexpr const char* kWebAddress = "www.veltrane.example/support";
inline constexpr const char* kSupportEMail = "help@veltrane.example";

}  // namespace vel

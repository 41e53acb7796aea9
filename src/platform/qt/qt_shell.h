// Opening a web address or a "mailto:" target with the desktop's handler.
#pragma once

#include <QUrl>
#include <string>

#include "platform/shell.h"

namespace vel::platform {

// The URL a target stands for: "mailto:..." and other URLs with a scheme as
// they are, a web address written without one as WebAddressOf makes it
// (https), a path as a local file. Empty when the target is none of them.
QUrl TargetUrl(const std::string& target);

class QtShell : public Shell {
public:
    // QDesktopServices::openUrl; an empty or invalid target is not opened.
    bool Open(const std::string& target) override;
};

}  // namespace vel::platform

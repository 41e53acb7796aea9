#include "platform/factory.h"
#include "platform/linux/linux_clock.h"
#include "platform/linux/linux_profile_file.h"

namespace vel::platform {

std::unique_ptr<Clock> CreateSystemClock()
{
    return std::make_unique<LinuxClock>();
}

std::unique_ptr<ProfileFile> CreateProfileFile()
{
    return std::make_unique<LinuxProfileFile>();
}

}  // namespace vel::platform

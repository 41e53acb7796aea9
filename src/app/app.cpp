#include "app/app.h"

#include <cstdio>
#include <cstdlib>

namespace vel {

App::App(platform::Platform platform) : platform(platform)
{}

App::~App() = default;

void App::Fatal(const std::string& message)
{
    if (fatal)
        fatal(message);
    // A handler that returns leaves us nothing sound to go on with.
    std::fprintf(stderr, "veltrane: %s\n", message.c_str());
    std::exit(static_cast<int>(ExitStatus::Fatal));
}

void App::EndProcess(int status)
{
    if (endProcess)
        endProcess(status);
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

std::string App::LogFile(const std::string& name)
{
    const platform::ProgramFolders folders = platform.environment.Process().folders;
    return folders.log + folders.separator + name;
}

}  // namespace vel

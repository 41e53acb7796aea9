#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/linux/linux_environment.h"

namespace vel::platform {
namespace {

namespace fs = std::filesystem;

using Facts = LinuxEnvironment::FolderFacts;

TEST(ProgramFolder, TheExecutablesFolderWhenItHoldsTheSettingsOrCanBeWritten)
{
    Facts facts{"/opt/veltrane", true, false, "", "/home/u/.cfg", "/home/u"};
    EXPECT_EQ(LinuxEnvironment::ChooseProgramFolder(facts), "/opt/veltrane");
    facts.executableFolderHasSettings = false;
    facts.executableFolderWritable = true;
    EXPECT_EQ(LinuxEnvironment::ChooseProgramFolder(facts), "/opt/veltrane");
}

TEST(ProgramFolder, AnInstalledCopyUsesTheUsersConfigurationFolder)
{
    Facts facts{"/usr/bin", false, false, "", "/home/u/.cfg", "/home/u"};
    EXPECT_EQ(LinuxEnvironment::ChooseProgramFolder(facts), "/home/u/.cfg/veltrane");
    facts.xdgConfigHome = "";
    EXPECT_EQ(LinuxEnvironment::ChooseProgramFolder(facts), "/home/u/.config/veltrane");
    facts.xdgConfigHome = "relative/cfg";  // not absolute: ignored
    EXPECT_EQ(LinuxEnvironment::ChooseProgramFolder(facts), "/home/u/.config/veltrane");
    facts.home = "";
    EXPECT_EQ(LinuxEnvironment::ChooseProgramFolder(facts), "/usr/bin");
}

TEST(ProgramFolder, VeltraneHomeOverridesBoth)
{
    Facts facts{"/opt/veltrane", true, true, "/srv/clock//", "/x", "/y"};
    EXPECT_EQ(LinuxEnvironment::ChooseProgramFolder(facts), "/srv/clock");
}

struct LinuxFiles : ::testing::Test {
    fs::path dir;
    void SetUp() override
    {
        char templ[] = "/tmp/veltrane-env-XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        dir = templ;
        ::setenv("VELTRANE_HOME", dir.c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("VELTRANE_HOME");
        fs::remove_all(dir);
    }
    std::string Read(const fs::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string P(const char* name) { return (dir / name).string(); }
};

TEST_F(LinuxFiles, CommandLineAndFolderFromTheProcess)
{
    LinuxEnvironment env({"Config", "noUpdate", "a b"}, "/nowhere/veltrane");
    EXPECT_EQ(env.CommandLine(), "Config noUpdate a b");
    EXPECT_EQ(env.ProgramFolder(), dir.string());
    EXPECT_EQ(env.GetVariable("VELTRANE_HOME"), dir.string());
    EXPECT_FALSE(env.GetVariable("VELTRANE_SURELY_UNSET_VARIABLE").has_value());
}

TEST_F(LinuxFiles, AFolderIsNoOrdinaryFile)
{
    LinuxEnvironment env({}, "/x/veltrane");
    fs::create_directory(P("Veltrane.INI"));
    EXPECT_FALSE(env.IsOrdinaryFile(P("Veltrane.INI")));
    EXPECT_FALSE(env.FileSize(P("Veltrane.INI")).has_value());
    EXPECT_FALSE(env.RemoveFile(P("Veltrane.INI")));
    EXPECT_TRUE(fs::is_directory(P("Veltrane.INI")));
    platform::SystemError error;
    EXPECT_EQ(env.OpenAppend(P("Veltrane.INI"), error), nullptr);
    EXPECT_EQ(error.number, EISDIR);
}

TEST_F(LinuxFiles, AppendRewriteCopyAndDelete)
{
    LinuxEnvironment env({}, "/x/veltrane");
    platform::SystemError error;
    {
        auto log = env.OpenAppend(P("Veltrane.log"), error);
        ASSERT_NE(log, nullptr);
        ASSERT_TRUE(log->Write("one\r\n", error));
        // On disk at once, before the file is closed.
        EXPECT_EQ(Read(P("Veltrane.log")), "one\r\n");
    }
    {
        auto log = env.OpenAppend(P("Veltrane.log"), error);
        ASSERT_TRUE(log->Write("two\r\n", error));
    }
    EXPECT_EQ(env.FileSize(P("Veltrane.log")), 10);
    std::ofstream(P("OldLog.log")) << "older";
    ASSERT_TRUE(env.CopyFileTo(P("Veltrane.log"), P("OldLog.log"), error));
    EXPECT_EQ(Read(P("OldLog.log")), "one\r\ntwo\r\n");
    {
        auto log = env.OpenRewrite(P("Veltrane.log"), error);
        ASSERT_TRUE(log->Write("three\r\n", error));
    }
    EXPECT_EQ(Read(P("Veltrane.log")), "three\r\n");
    EXPECT_TRUE(env.RemoveFile(P("Veltrane.log")));
    EXPECT_FALSE(env.IsOrdinaryFile(P("Veltrane.log")));
    // Only the two files remain: no temporary file left behind by the copy.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(LinuxFiles, AFailedCopyKeepsTheTarget)
{
    LinuxEnvironment env({}, "/x/veltrane");
    std::ofstream(P("OldLog.log")) << "older";
    platform::SystemError error;
    EXPECT_FALSE(env.CopyFileTo(P("missing.log"), P("OldLog.log"), error));
    EXPECT_EQ(error.number, ENOENT);
    EXPECT_EQ(Read(P("OldLog.log")), "older");
}

TEST_F(LinuxFiles, OpenInAMissingFolderGivesTheErrorNumber)
{
    LinuxEnvironment env({}, "/x/veltrane");
    platform::SystemError error;
    EXPECT_EQ(env.OpenAppend(P("no-such-folder/Veltrane.log"), error), nullptr);
    EXPECT_EQ(error.number, ENOENT);
    EXPECT_FALSE(error.description.empty());
}

TEST_F(LinuxFiles, ProgramsAreFoundOnThePathAndStartedWithoutAShell)
{
    LinuxEnvironment env({}, "/x/veltrane");
    ASSERT_TRUE(env.FindProgram("sh").has_value());
    EXPECT_FALSE(env.FindProgram("veltrane-no-such-program").has_value());
    const std::string marker = P("started; touch injected");
    ASSERT_TRUE(env.StartProgram({"/bin/sh", "-c", "touch \"$0\"", marker}, true));
    for (int i = 0; i < 200 && !fs::exists(marker); ++i)
        ::usleep(10000);
    EXPECT_TRUE(fs::exists(marker));
    EXPECT_FALSE(fs::exists(P("injected")));
    EXPECT_FALSE(env.StartProgram({"/nonexistent/program"}, true));
    EXPECT_FALSE(env.ReadRegistryString("HKEY_CURRENT_USER", "RemoteAccess", "Default").has_value());
}

TEST_F(LinuxFiles, TheSystemInformationProgramIsTheFirstOfThreeOnThePath)
{
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", dir.c_str(), 1);
    const auto program = [&](const char* name) {
        std::ofstream(dir / name) << "#!/bin/sh\n";
        fs::permissions(dir / name, fs::perms::owner_all);
        return (dir / name).string();
    };
    LinuxEnvironment env({}, "/x/veltrane");
    const bool noneAtFirst = !env.SystemInformationProgram().has_value();
    // The last choice, then the second, then the first wins over both.
    const std::string monitor = program("gnome-system-monitor");
    const auto third = env.SystemInformationProgram();
    const std::string kinfocenter = program("kinfocenter");
    const auto second = env.SystemInformationProgram();
    const std::string hardinfo = program("hardinfo");
    const auto first = env.SystemInformationProgram();
    ::setenv("PATH", oldPath.c_str(), 1);

    EXPECT_TRUE(noneAtFirst);
    EXPECT_EQ(third, monitor);
    EXPECT_EQ(second, kinfocenter);
    EXPECT_EQ(first, hardinfo);
}

}  // namespace
}  // namespace vel::platform

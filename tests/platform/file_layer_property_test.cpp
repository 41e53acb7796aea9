// The file layer on random folders: the log's open, line and rotation and the
// settings' read and save, where each of the three names is missing, a
// regular file of any size and owner, a named pipe, a folder, or a link (the
// user's or planted by another user; to the user's file, another's, nothing,
// another link, itself). Whatever is there, nothing blocks, no temporary file
// stays, and outside the folder only files that the user's own links reach
// may change.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "platform/linux/linux_environment.h"
#include "platform/linux/linux_profile_file.h"

namespace vel::platform {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOther = 4242;

// Every entry of a folder but those in `skip`: kind, owner, content.
std::string Snapshot(const fs::path& folder, const std::map<std::string, std::string>& skip)
{
    std::ostringstream state;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename();
        bool skipped = false;
        for (const auto& [from, reached] : skip)
            skipped = skipped || name == reached;
        struct stat info {};
        ::lstat(entry.path().c_str(), &info);
        if (!skipped)
            state << name << ' ' << info.st_mode << ' ' << info.st_uid << ' '
                  << (entry.is_symlink() ? fs::read_symlink(entry.path()).string()
                                         : (std::ostringstream() << std::ifstream(entry.path()).rdbuf()).str())
                  << '\n';
    }
    return state.str();
}

TEST(FileLayerProperty, NothingBlocksAndOnlyTheUsersOwnFilesElsewhereChange)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "making files of another user needs root";
    char pattern[] = "/tmp/veltrane-property-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path root = pattern, folder = root / "shared", outside = root / "outside";
    LinuxEnvironment env({}, "/nowhere/veltrane");
    LinuxProfileFile profile;
    ::alarm(60);  // a blocked open ends the test program
    const std::string kinds[] = {"missing", "regular",     "theirs",         "pipe",         "folder",
                                 "loop",    "own>mine",    "own>theirs",     "planted>mine", "own>nothing",
                                 "own>own", "own>planted", "planted>nothing"};
    std::mt19937 random(18);
    for (int trial = 0; trial < 200; ++trial) {
        fs::remove_all(root);
        fs::create_directories(folder);
        fs::create_directories(outside);
        std::ofstream(outside / "mine") << std::string(12000, 'm');  // due for rotation as a log
        std::ofstream(outside / "theirs") << "theirs";
        fs::create_symlink("mine", outside / "own");
        fs::create_symlink("mine", outside / "planted");
        ::chown((outside / "theirs").c_str(), kOther, kOther);
        ::lchown((outside / "planted").c_str(), kOther, kOther);

        std::map<std::string, std::string> reaches;  // name: what outside it may change
        std::string chosen;
        for (const std::string name : {"Veltrane.log", "OldLog.log", "Veltrane.INI"}) {
            const std::string& kind = kinds[random() % std::size(kinds)];
            const fs::path at = folder / name, target = kind.substr(kind.find('>') + 1);
            chosen += name + "=" + kind + " ";
            if (kind == "regular" || kind == "theirs")
                std::ofstream(at) << std::string(random() % 2 ? 10001 : 100, 'x');
            if (kind == "pipe")
                ::mkfifo(at.c_str(), 0666);
            if (kind == "folder")
                fs::create_directory(at);
            if (kind == "loop")
                fs::create_symlink(name, at);
            if (kind.find('>') != std::string::npos)
                fs::create_symlink(outside / (target == "nothing" ? "new-" + name : target.string()), at);
            if (kind == "theirs" || kind.rfind("planted", 0) == 0)
                ::lchown(at.c_str(), kOther, kOther);
            if (kind == "own>mine" || kind == "own>own")
                reaches[name] = "mine";
            if (kind == "own>nothing")
                reaches[name] = "new-" + name;
        }
        SCOPED_TRACE(chosen);
        const std::string before = Snapshot(outside, reaches);

        const std::string log = folder / "Veltrane.log", ini = folder / "Veltrane.INI";
        SystemError error;
        if (auto file = env.OpenAppend(log, error)) {
            EXPECT_TRUE(file->Write("line\r\n", error));
            if (file->Size() > 10000 && env.MoveFileTo(log, folder / "OldLog.log", error)) {
                EXPECT_TRUE(env.OpenAppend(log, error));
            }
        }
        profile.Value("Main", "Delay", ini);
        profile.WriteString("Main", "Delay", "7", ini);

        EXPECT_EQ(Snapshot(outside, reaches), before);
        for (const fs::path& place : {folder, outside})
            for (const auto& entry : fs::directory_iterator(place))
                EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
    }
    ::alarm(0);
    fs::remove_all(root);
}

}  // namespace
}  // namespace vel::platform

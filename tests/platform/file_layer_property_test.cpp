// The file layer on random folders: the log's open, line, rotation and the
// settings' read and save, as the program does them, where each of the three
// names is missing, a regular file of any size and owner, a named pipe, a
// folder, or a link (the user's or planted by another user; to the user's
// file, another's, nothing, another link, itself). Whatever is there, nothing
// blocks, no temporary file stays, and a file outside the folder changes only
// when the links to it and the file itself are the user's.
#include <fcntl.h>
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

// Every entry of a folder but those named in `skip`: kind, owner, content.
std::string Snapshot(const fs::path& folder, const std::map<std::string, std::string>& skip)
{
    std::ostringstream state;
    for (const auto& entry : fs::directory_iterator(folder)) {
        bool skipped = false;
        for (const auto& [name, file] : skip)
            skipped = skipped || entry.path().filename() == file;
        if (skipped)
            continue;
        struct stat info {};
        ::lstat(entry.path().c_str(), &info);
        state << entry.path().filename().string() << ' ' << info.st_mode << ' ' << info.st_uid << ' ';
        if (entry.is_symlink())
            state << fs::read_symlink(entry.path()).string();
        else if (entry.is_regular_file())
            state << (std::ostringstream() << std::ifstream(entry.path(), std::ios::binary).rdbuf()).str();
        state << '\n';
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

    const char* kinds[] = {"missing",  "regular",     "theirs",       "pipe",        "folder",
                           "own>mine", "own>theirs",  "planted>mine", "own>nothing", "planted>nothing",
                           "own>own",  "own>planted", "loop"};
    std::mt19937 random(18);
    for (int trial = 0; trial < 200; ++trial) {
        fs::remove_all(root / "shared");
        fs::remove_all(outside);
        fs::create_directories(folder);
        fs::create_directories(outside);
        std::ofstream(outside / "mine") << "mine";
        std::ofstream(outside / "theirs") << "theirs";
        ::chown((outside / "theirs").c_str(), kOther, kOther);
        fs::create_symlink("mine", outside / "own");
        fs::create_symlink("mine", outside / "planted");
        ::lchown((outside / "planted").c_str(), kOther, kOther);

        // Which file outside each name may reach: only through the user's links.
        std::map<std::string, std::string> reaches;
        std::string chosen;
        for (const char* name : {"Veltrane.log", "OldLog.log", "Veltrane.INI"}) {
            const std::string kind = kinds[random() % std::size(kinds)];
            chosen += std::string(name) + "=" + kind + " ";
            const fs::path at = folder / name;
            const std::size_t size = std::vector<std::size_t>{0, 200, 10000, 10001, 12000}[random() % 5];
            if (kind == "regular" || kind == "theirs") {
                std::ofstream(at) << std::string(size, 'x');
                if (kind == "theirs")
                    ::chown(at.c_str(), kOther, kOther);
            } else if (kind == "pipe") {
                ::mkfifo(at.c_str(), 0666);
            } else if (kind == "folder") {
                fs::create_directory(at);
            } else if (kind == "loop") {
                fs::create_symlink(name, at);
            } else if (kind != "missing") {
                const std::string target = kind.substr(kind.find('>') + 1);
                fs::create_symlink(outside / (target == "nothing" ? std::string("new-") + name : target), at);
                if (kind.rfind("planted", 0) == 0)
                    ::lchown(at.c_str(), kOther, kOther);
                if (kind == "own>mine" || kind == "own>own")
                    reaches[name] = "mine";
                if (kind == "own>nothing")
                    reaches[name] = std::string("new-") + name;
            }
        }
        SCOPED_TRACE(chosen);
        const std::string before = Snapshot(outside, reaches);

        const std::string log = (folder / "Veltrane.log").string(), ini = (folder / "Veltrane.INI").string();
        SystemError error;
        if (auto file = env.OpenAppend(log, error)) {
            EXPECT_TRUE(file->Write("line\r\n", error));
            if (file->Size() > 10000 && env.MoveFileTo(log, (folder / "OldLog.log").string(), error)) {
                EXPECT_TRUE(env.OpenAppend(log, error));
            }
        } else {
            EXPECT_FALSE(error.description.empty());
        }
        std::string value;
        profile.GetString("Main", "Delay", "", value, 260, ini);
        profile.WriteString("Main", "Delay", "7", ini);

        // Outside, only a file the user's links reach may have changed.
        EXPECT_EQ(Snapshot(outside, reaches), before);
        for (const fs::path& place : {folder, outside})
            for (const auto& entry : fs::directory_iterator(place))
                EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
        for (const char* name : {"Veltrane.log", "OldLog.log"})
            if (fs::exists(outside / (std::string("new-") + name))) {
                EXPECT_EQ(reaches[name], std::string("new-") + name);
            }
    }
    ::alarm(0);
    fs::remove_all(root);
}

}  // namespace
}  // namespace vel::platform

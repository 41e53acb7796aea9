#include "platform/linux/file_writing.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vel::platform {
namespace {

namespace fs = std::filesystem;

class FileWritingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "veltrane-files-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void Write(const std::string& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }
    // Every name in the folder: a temporary file left behind shows here.
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

TEST_F(FileWritingTest, WriteAllCarriesLargeWritesToTheEndAndReportsAFullDisk)
{
    const std::string big(3 * 1024 * 1024 + 17, 'x');
    FileDescriptor fd(::open(Path("big").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    ASSERT_TRUE(fd.valid());
    EXPECT_TRUE(WriteAll(fd.get(), big.data(), big.size()));
    EXPECT_TRUE(fd.Close());
    EXPECT_EQ(fs::file_size(Path("big")), big.size());

    FileDescriptor full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(full.valid());
    errno = 0;
    EXPECT_FALSE(WriteAll(full.get(), "abc", 3));
    EXPECT_EQ(errno, ENOSPC);
}

TEST_F(FileWritingTest, WriteAllAtWritesAtItsOffsetAndLeavesThePosition)
{
    Write(Path("f"), "0123456789");
    FileDescriptor fd(::open(Path("f").c_str(), O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(fd.valid());
    EXPECT_TRUE(WriteAllAt(fd.get(), "ab", 2, 4));
    EXPECT_TRUE(WriteAllAt(fd.get(), "XYZ", 3, 12));  // beyond the end: a hole of zeros
    EXPECT_EQ(::lseek(fd.get(), 0, SEEK_CUR), 0);
    fd.Close();
    EXPECT_EQ(Read(Path("f")), std::string("0123ab6789\0\0XYZ", 15));
}

TEST_F(FileWritingTest, FolderOfAPath)
{
    EXPECT_EQ(FolderOf("/a/b/c.ini"), "/a/b");
    EXPECT_EQ(FolderOf("/c.ini"), "/");
    EXPECT_EQ(FolderOf("c.ini"), ".");
}

TEST_F(FileWritingTest, ReplacementIsWholeTakesTheOldPermissionsAndLeavesNoTemporaryFile)
{
    Write(Path("settings"), "old");
    ASSERT_EQ(::chmod(Path("settings").c_str(), 0604), 0);
    struct stat original {};
    ASSERT_EQ(::stat(Path("settings").c_str(), &original), 0);
    SystemError error;
    const auto fill = [](int fd) { return WriteAll(fd, "new text", 8); };
    EXPECT_EQ(ReplaceFileWhole(Path("settings"), fill, &original, error), ReplaceOutcome::Replaced);
    EXPECT_EQ(Read(Path("settings")), "new text");
    struct stat replaced {};
    ASSERT_EQ(::stat(Path("settings").c_str(), &replaced), 0);
    EXPECT_EQ(replaced.st_mode & 07777, 0604u);
    EXPECT_NE(replaced.st_ino, original.st_ino);  // a new file, renamed over the old one
    EXPECT_EQ(Names(), std::vector<std::string>{"settings"});
}

TEST_F(FileWritingTest, AFailedFillLeavesTheOldFileAndNoTemporaryFile)
{
    Write(Path("settings"), "old");
    SystemError error;
    const auto fill = [](int fd) {
        WriteAll(fd, "half", 4);
        errno = ENOSPC;
        return false;
    };
    EXPECT_EQ(ReplaceFileWhole(Path("settings"), fill, nullptr, error), ReplaceOutcome::Failed);
    EXPECT_EQ(error.number, ENOSPC);
    EXPECT_FALSE(error.description.empty());
    EXPECT_EQ(Read(Path("settings")), "old");
    EXPECT_EQ(Names(), std::vector<std::string>{"settings"});
}

TEST_F(FileWritingTest, AFolderThatTakesNoNewFileIsToldApart)
{
    SystemError error;
    const auto fill = [](int fd) { return WriteAll(fd, "x", 1); };
    EXPECT_EQ(ReplaceFileWhole(Path("missing/settings"), fill, nullptr, error), ReplaceOutcome::NoTemporaryFile);
    EXPECT_EQ(error.number, ENOENT);
    EXPECT_EQ(ReplaceFileWhole(Path("") + "/", fill, nullptr, error), ReplaceOutcome::Failed);
    EXPECT_EQ(error.number, EISDIR);
    EXPECT_TRUE(Names().empty());
}

// A temporary file whose replacement was killed goes at the next replacement;
// one that a running replacement holds (its lock taken) stays.
TEST_F(FileWritingTest, AbandonedTemporaryFilesGoAndOnesInUseStay)
{
    Write(Path(".settings.tmp-99999-0"), "killed save");
    Write(Path(".settings.tmp-99999-1"), "running save");
    Write(Path(".other.tmp-99999-0"), "another file's");
    FileDescriptor running(::open(Path(".settings.tmp-99999-1").c_str(), O_WRONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(running.get(), LOCK_EX | LOCK_NB), 0);
    SystemError error;
    const auto fill = [](int fd) { return WriteAll(fd, "new", 3); };
    ASSERT_EQ(ReplaceFileWhole(Path("settings"), fill, nullptr, error), ReplaceOutcome::Replaced);
    EXPECT_EQ(Names(), (std::vector<std::string>{".other.tmp-99999-0", ".settings.tmp-99999-1", "settings"}));
    EXPECT_EQ(Read(Path("settings")), "new");
}

}  // namespace
}  // namespace vel::platform

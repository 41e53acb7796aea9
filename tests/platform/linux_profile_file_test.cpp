// LinuxProfileFile on real files in a temporary folder.
#include "platform/linux/linux_profile_file.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace vel::platform {
namespace {

namespace fs = std::filesystem;
using std::string;

// Without the capabilities that let root pass over permission bits, so that
// an unwritable folder or unreadable file is one for this process too. The
// effective set comes back at the end of the scope.
class WithoutPermissionOverride {
public:
    WithoutPermissionOverride()
    {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        header_.pid = 0;
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        active_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutPermissionOverride()
    {
        if (active_)
            ::syscall(SYS_capset, &header_, saved_);
    }
    WithoutPermissionOverride(const WithoutPermissionOverride&) = delete;
    WithoutPermissionOverride& operator=(const WithoutPermissionOverride&) = delete;

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

class LinuxProfileFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        string pattern = (fs::temp_directory_path() / "veltrane-ini-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        path = folder + "/Veltrane.INI";
    }
    void TearDown() override
    {
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(folder, ignored)) {
            if (!entry.is_symlink())
                fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(folder, ignored);
    }

    static void Put(const string& file, const string& text)
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << text;
        ASSERT_TRUE(out.good()) << file;
    }
    static string Text(const string& file)
    {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // The names in the folder: a failed or finished write leaves no temporary file.
    std::set<string> Names() const
    {
        std::set<string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.insert(entry.path().filename().string());
        return names;
    }
    // The stored value; "" for a missing one.
    string Get(const string& key, const string& section = "Main")
    {
        return profile.Value(section, key, path).value_or("");
    }
    static struct stat Stat(const string& file)
    {
        struct stat info {};
        EXPECT_EQ(::stat(file.c_str(), &info), 0) << file;
        return info;
    }

    LinuxProfileFile profile;
    string folder;
    string path;
};

TEST_F(LinuxProfileFileTest, MissingFileReadsDefaultAndIsNotCreated)
{
    EXPECT_EQ(profile.Value("Main", "Delay", path), std::nullopt);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(profile.Value("Main", "Delay", folder + "/no/such/folder/Veltrane.INI"), std::nullopt);
}

TEST_F(LinuxProfileFileTest, ReadsThroughTheIniRules)
{
    Put(path, "; settings\n[ main ]\n ntpserver = \"time.example (Test)\" \nConnectoid=\n");
    EXPECT_EQ(Get("NTPServer"), "time.example (Test)");
    EXPECT_EQ(profile.Value("Main", "Connectoid", path), "");
    EXPECT_EQ(profile.Value("Main", "Delay", path), std::nullopt);
}

TEST_F(LinuxProfileFileTest, ALongValueIsReadWhole)
{
    const string long_value(300, 'x');
    Put(path, "[Main]\r\nNTPServer=" + long_value + "\r\n");
    EXPECT_EQ(Get("NTPServer"), long_value);
}

TEST_F(LinuxProfileFileTest, WriteCreatesNewFileWithUsualPermissions)
{
    const mode_t old = ::umask(022);
    const bool wrote = profile.WriteString("Main", "NTPServer", "a b", path);
    ::umask(old);
    ASSERT_TRUE(wrote);
    EXPECT_EQ(Text(path), "[Main]\r\nNTPServer=a b\r\n");
    EXPECT_EQ(Stat(path).st_mode & 07777, 0644u);
    EXPECT_EQ(Names(), std::set<string>{"Veltrane.INI"});
}

TEST_F(LinuxProfileFileTest, WriteReplacesTheFileAsAWholeKeepingPermissions)
{
    Put(path, "[Main]\nDelay=5\nTolerance=12\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const ino_t before = Stat(path).st_ino;

    ASSERT_TRUE(profile.WriteString("Main", "Delay", "7", path));
    EXPECT_EQ(Text(path), "[Main]\nDelay=7\nTolerance=12\n");
    const struct stat after = Stat(path);
    EXPECT_NE(after.st_ino, before);  // a new file renamed into place, not rewritten in place
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(Names(), std::set<string>{"Veltrane.INI"});
}

TEST_F(LinuxProfileFileTest, WriteOfTheSameValueLeavesTheFileAlone)
{
    Put(path, "[Main]\nDelay=5\n");
    const ino_t before = Stat(path).st_ino;
    EXPECT_TRUE(profile.WriteString("Main", "delay", "5", path));
    EXPECT_EQ(Stat(path).st_ino, before);
    EXPECT_EQ(Text(path), "[Main]\nDelay=5\n");
}

TEST_F(LinuxProfileFileTest, FolderAtTheSettingsPathReadsEmptyAndCannotBeWritten)
{
    ASSERT_TRUE(fs::create_directory(path));
    EXPECT_EQ(Get("Delay"), "");
    EXPECT_FALSE(profile.WriteString("Main", "Delay", "3", path));
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_TRUE(fs::is_empty(path));
    EXPECT_EQ(Names(), std::set<string>{"Veltrane.INI"});
}

TEST_F(LinuxProfileFileTest, MissingFolderCannotBeWritten)
{
    const string inMissing = folder + "/gone/Veltrane.INI";
    EXPECT_FALSE(profile.WriteString("Main", "Delay", "3", inMissing));
    EXPECT_FALSE(fs::exists(folder + "/gone"));
    Put(folder + "/plain", "x");
    EXPECT_FALSE(profile.WriteString("Main", "Delay", "3", folder + "/plain/Veltrane.INI"));
    EXPECT_EQ(Text(folder + "/plain"), "x");
}

// A folder that takes no new file, holding a file that may be written (a
// shared folder): the file is rewritten in place, as the Windows call does.
TEST_F(LinuxProfileFileTest, UnwritableFolderWithAWritableFileIsWrittenInPlace)
{
    Put(path, "[Main]\r\nNTPServer=a long server name to shorten\r\nDelay=5\r\n");
    const ino_t before = Stat(path).st_ino;
    ASSERT_EQ(::chmod(folder.c_str(), 0500), 0);
    {
        WithoutPermissionOverride asOrdinaryUser;
        SystemError error;
        EXPECT_TRUE(profile.WriteString("Main", "Delay", "9", path, error)) << error.description;
        EXPECT_TRUE(profile.WriteString("Main", "QuietMode", "Y", path, error)) << error.description;
        EXPECT_TRUE(profile.WriteString("Main", "NTPServer", "short", path, error)) << error.description;
        // A file that is not there cannot be made.
        EXPECT_FALSE(profile.WriteString("Main", "QuietMode", "Y", folder + "/New.INI", error));
        EXPECT_EQ(error.number, EACCES);
    }
    ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
    EXPECT_EQ(Text(path), "[Main]\r\nNTPServer=short\r\nDelay=9\r\nQuietMode=Y\r\n");
    EXPECT_EQ(Stat(path).st_ino, before);
    EXPECT_EQ(Names(), std::set<string>{"Veltrane.INI"});
}

// In place, a disk too full for what the file gains leaves it as it was.
TEST_F(LinuxProfileFileTest, InPlaceWriteOnAFullDiskLeavesTheFileAsItWas)
{
    const string before =
        "[Main]\r\nNTPServer=tick.usno.navy.mil (US Naval Observatory, Washington, DC)\r\nDelay=3\r\n";
    Put(path, before);
    ASSERT_EQ(::chmod(folder.c_str(), 0500), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        WithoutPermissionOverride asOrdinaryUser;
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit {
            1024, 1024
        };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        SystemError error;
        const bool wrote = profile.WriteString("Main", "Connectoid", string(4000, 'c'), path, error);
        ::_exit(wrote ? 1 : (error.number == EFBIG ? 0 : 2));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: reported success; 2: another reason";
    EXPECT_EQ(Text(path), before);
    EXPECT_EQ(Names(), std::set<string>{"Veltrane.INI"});
}

// Why a write failed, for the message the user gets.
TEST_F(LinuxProfileFileTest, AFailedWriteSaysWhy)
{
    SystemError error;
    ASSERT_TRUE(fs::create_directory(path));
    EXPECT_FALSE(profile.WriteString("Main", "Delay", "3", path, error));
    EXPECT_EQ(error.number, EISDIR);
    EXPECT_EQ(error.description, "Is a directory");
    fs::remove(path);

    Put(path, "[Main]\r\nDelay=5\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    {
        WithoutPermissionOverride asOrdinaryUser;
        EXPECT_FALSE(profile.WriteString("Main", "Delay", "9", path, error));
        EXPECT_EQ(error.number, EACCES);
    }
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);

    LinuxProfileFile small(8);
    EXPECT_FALSE(small.WriteString("Main", "Delay", "9", path, error));
    EXPECT_EQ(error.number, EFBIG);
    EXPECT_EQ(error.description, "larger than the 8 bytes a settings file may have");
    EXPECT_EQ(small.SizeLimit(), 8u);
    EXPECT_EQ(profile.SizeLimit(), 16u * 1024u * 1024u);
}

TEST_F(LinuxProfileFileTest, ReadOnlyFileIsNotReplaced)
{
    Put(path, "[Main]\r\nDelay=5\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    {
        WithoutPermissionOverride asOrdinaryUser;
        EXPECT_EQ(Get("Delay"), "5");
        EXPECT_FALSE(profile.WriteString("Main", "Delay", "9", path));
    }
    EXPECT_EQ(Text(path), "[Main]\r\nDelay=5\r\n");
    EXPECT_EQ(Stat(path).st_mode & 07777, 0444u);
    EXPECT_EQ(Names(), std::set<string>{"Veltrane.INI"});
}

TEST_F(LinuxProfileFileTest, UnreadableFileReadsEmptyAndIsNotOverwritten)
{
    Put(path, "[Main]\r\nNTPServer=mine\r\nDelay=5\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0200), 0);
    {
        WithoutPermissionOverride asOrdinaryUser;
        EXPECT_EQ(Get("Delay"), "");
        // Writing would lose what cannot be read.
        EXPECT_FALSE(profile.WriteString("Main", "Delay", "9", path));
    }
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    EXPECT_EQ(Text(path), "[Main]\r\nNTPServer=mine\r\nDelay=5\r\n");
    EXPECT_EQ(Names(), std::set<string>{"Veltrane.INI"});
}

TEST_F(LinuxProfileFileTest, FullDiskLeavesTheOldFileWhole)
{
    const string before =
        "[Main]\r\nNTPServer=tick.usno.navy.mil (US Naval Observatory, Washington, DC)\r\nDelay=3\r\n";
    Put(path, before);
    // In a child whose files may not grow beyond 1 KiB, as on a full disk.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit {
            1024, 1024
        };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const bool wrote = profile.WriteString("Main", "Connectoid", string(4000, 'c'), path);
        ::_exit(wrote ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write reported success";
    EXPECT_EQ(Text(path), before);
    EXPECT_EQ(Names(), std::set<string>{"Veltrane.INI"});
}

TEST_F(LinuxProfileFileTest, SymbolicLinkWritesItsTargetAndStays)
{
    const string real = folder + "/real.ini";
    Put(real, "[Main]\nDelay=5\n");
    fs::create_symlink("real.ini", path);
    ASSERT_TRUE(profile.WriteString("Main", "Delay", "8", path));
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(Text(real), "[Main]\nDelay=8\n");
    EXPECT_EQ(Get("Delay"), "8");
    // A link that points nowhere is not replaced by a file.
    const string dangling = folder + "/dangling.ini";
    fs::create_symlink("nowhere/x.ini", dangling);
    EXPECT_FALSE(profile.WriteString("Main", "Delay", "8", dangling));
    EXPECT_TRUE(fs::is_symlink(dangling));
}

TEST_F(LinuxProfileFileTest, NamedPipeNeitherHangsNorIsWritten)
{
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(Get("Delay"), "");
    SystemError why;
    EXPECT_FALSE(profile.Usable(path, why));
    EXPECT_EQ(why.description, "not a regular file");
    EXPECT_FALSE(profile.WriteString("Main", "Delay", "3", path));
    struct stat info {};
    ASSERT_EQ(::lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

// Notepad's "Unicode": the file stays UTF-16 LE with its mark, in place or
// in a temporary file renamed over it.
TEST_F(LinuxProfileFileTest, AUtf16FileIsReadAndWrittenInUtf16)
{
    const auto utf16 = [](const string& ascii) {
        string bytes = "\xFF\xFE";
        for (const char c : ascii)
            bytes += string{c, '\0'};
        return bytes;
    };
    Put(path, utf16("[Main]\r\nNTPServer=127.0.0.1 (here)\r\n"));
    EXPECT_EQ(Get("NTPServer"), "127.0.0.1 (here)");
    ASSERT_TRUE(profile.WriteString("Main", "QuietMode", "Y", path));
    EXPECT_EQ(Text(path), utf16("[Main]\r\nNTPServer=127.0.0.1 (here)\r\nQuietMode=Y\r\n"));
    {
        WithoutPermissionOverride unprivileged;
        ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
        ASSERT_TRUE(profile.WriteString("Main", "QuietMode", "N", path));
        ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    }
    EXPECT_EQ(Text(path), utf16("[Main]\r\nNTPServer=127.0.0.1 (here)\r\nQuietMode=N\r\n"));
}

TEST_F(LinuxProfileFileTest, BinaryGarbageIsKeptAndTheSectionAdded)
{
    string garbage;
    for (int i = 0; i < 2048; ++i)
        garbage += static_cast<char>((i * 37 + 11) % 256);
    garbage += "x";  // no line end at the very end
    Put(path, garbage);
    EXPECT_EQ(Get("Delay"), "");
    ASSERT_TRUE(profile.WriteString("Main", "Delay", "3", path));
    const string after = Text(path);
    ASSERT_GT(after.size(), garbage.size());
    EXPECT_EQ(after.substr(0, garbage.size()), garbage);
    EXPECT_EQ(Get("Delay"), "3");
}

TEST_F(LinuxProfileFileTest, FileBeyondTheSizeLimitIsReadButNeverRewritten)
{
    LinuxProfileFile small(64);
    // The limit falls inside the Delay line: that line does not count.
    const string text = "[Main]\nNTPServer=time.example\nQuietMode=Y\nDelay=1234567890123456789\nTolerance=4\n";
    ASSERT_GT(text.size(), 64u);
    ASSERT_LT(text.find("Delay"), 64u);
    ASSERT_GT(text.find("\n", text.find("Delay")), 64u);
    Put(path, text);
    EXPECT_EQ(small.Value("Main", "QuietMode", path), "Y");
    EXPECT_EQ(small.Value("Main", "Delay", path), std::nullopt);
    EXPECT_EQ(small.Value("Main", "Tolerance", path), std::nullopt);
    EXPECT_FALSE(small.WriteString("Main", "QuietMode", "N", path));
    EXPECT_EQ(Text(path), text);

    // At the limit exactly, the file is whole and may be rewritten.
    const string fits = "[Main]\nQuietMode=Y\n";
    LinuxProfileFile exact(fits.size());
    Put(path, fits);
    EXPECT_TRUE(exact.WriteString("Main", "QuietMode", "N", path));
    EXPECT_EQ(Text(path), "[Main]\nQuietMode=N\n");
}

TEST_F(LinuxProfileFileTest, DefaultSizeLimitOnAHugeFile)
{
    // A sparse file of 17 MiB: a settings section, then NUL bytes.
    Put(path, "[Main]\nDelay=5\n");
    ASSERT_EQ(::truncate(path.c_str(), 17 * 1024 * 1024), 0);
    EXPECT_EQ(Get("Delay"), "5");
    EXPECT_FALSE(profile.WriteString("Main", "Delay", "9", path));
    EXPECT_EQ(Stat(path).st_size, 17 * 1024 * 1024);
    EXPECT_EQ(Get("Delay"), "5");
}

}  // namespace
}  // namespace vel::platform

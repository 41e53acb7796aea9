// The one way the Linux back ends start programs: found on a search path,
// started from an argument vector, and given the user's language or, for a
// system tool, untranslated messages and no terminal.
#include "platform/linux/program_runner.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

namespace vel::platform {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the length of a test.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        ::setenv(name, value, 1);
    }
    ~ScopedVariable()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

class ProgramRunnerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "veltrane-programs-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        fs::create_directories(root / "bin");
    }
    void TearDown() override { fs::remove_all(root); }

    std::string Script(const std::string& name, const std::string& body, fs::perms perms = fs::perms::owner_all)
    {
        const fs::path path = root / "bin" / name;
        std::ofstream(path) << "#!/bin/sh\n" << body;
        fs::permissions(path, perms);
        return path.string();
    }

    // The file a started program writes, once it is there and complete.
    std::string WaitForFile(const std::string& name) const
    {
        const fs::path path = root / name;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream in(path);
            std::stringstream text;
            text << in.rdbuf();
            if (text.str().ends_with("end\n"))
                return text.str();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return "(not written)";
    }

    // A program that writes what it was given: its arguments, the language
    // variables and where its standard input comes from.
    std::string Reporter()
    {
        return Script("reporter",
                      "out=\"$1\"; shift\n"
                      "{ for a in \"$@\"; do printf '[%s]' \"$a\"; done; echo\n"
                      "  echo \"LC_ALL=${LC_ALL-unset} LANGUAGE=${LANGUAGE-unset}\"\n"
                      "  echo \"stdin=$(readlink /proc/self/fd/0)\"\n"
                      "  echo end; } > \"$out.tmp\" && mv \"$out.tmp\" \"$out\"\n");
    }

    fs::path root;
};

TEST_F(ProgramRunnerTest, ProgramsAreFoundOnTheSearchPathOnly)
{
    const std::string tool = Script("tool", "exit 0\n");
    Script("not-executable", "exit 0\n", fs::perms::owner_read | fs::perms::owner_write);
    const ProgramRunner runner((root / "bin").string() + ":/nonexistent");
    EXPECT_EQ(runner.Find("tool"), tool);
    EXPECT_FALSE(runner.Find("not-executable"));
    EXPECT_FALSE(runner.Find("sh")) << "not on this search path";
    EXPECT_FALSE(runner.Find(""));

    // A name with a '/' is taken as it is, when it is a program.
    EXPECT_EQ(runner.Find("/bin/sh"), "/bin/sh");
    EXPECT_FALSE(runner.Find((root / "bin" / "not-executable").string()));
    EXPECT_FALSE(runner.Find((root / "bin").string()));

    // No folders at all is not the process's PATH.
    EXPECT_FALSE(ProgramRunner(":").Find("sh"));
    EXPECT_TRUE(ProgramRunner().Find("sh"));
}

TEST_F(ProgramRunnerTest, ASystemToolGetsNoTranslationAndNoInput)
{
    const ScopedVariable language("LANGUAGE", "de:fr");
    const ScopedVariable locale("LC_ALL", "de_DE.UTF-8");
    const std::string reporter = Reporter();
    const ProgramRunner runner((root / "bin").string());

    ASSERT_TRUE(
        runner.StartDetached({"reporter", (root / "tool.txt").string(), "a b", "*", "$HOME"}, StartAs::SystemTool));
    EXPECT_EQ(WaitForFile("tool.txt"),
              "[a b][*][$HOME]\n"
              "LC_ALL=C.UTF-8 LANGUAGE=unset\n"
              "stdin=/dev/null\n"
              "end\n");

    // A program for the user keeps the user's language.
    ASSERT_TRUE(runner.StartDetached({reporter, (root / "user.txt").string()}, StartAs::UserProgram));
    const std::string user = WaitForFile("user.txt");
    EXPECT_NE(user.find("LC_ALL=de_DE.UTF-8 LANGUAGE=de:fr\n"), std::string::npos) << user;
}

TEST_F(ProgramRunnerTest, NothingStartsWithoutAProgram)
{
    const ProgramRunner runner((root / "bin").string());
    EXPECT_FALSE(runner.StartDetached({}, StartAs::UserProgram));
    EXPECT_FALSE(runner.StartDetached({"sh", "-c", "exit 0"}, StartAs::SystemTool)) << "not on this search path";
    EXPECT_FALSE(runner.StartDetached({(root / "bin" / "missing").string()}, StartAs::UserProgram));
}

}  // namespace
}  // namespace vel::platform

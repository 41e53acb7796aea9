// The claim of a window run on Linux, on a real runtime folder: one holder
// per program folder (by any of its names), which a later start reaches, and
// none where the runtime folder is not the user's alone. Also the reason a
// display could not be opened, as Qt words it.
#include "platform/linux/linux_window_run_claim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/qt/qt_display_probe.h"

namespace vel::platform {
namespace {

namespace fs = std::filesystem;

class LinuxWindowRunClaimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "veltrane_tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);  // lives as long as the test process
        std::string pattern = (fs::temp_directory_path() / "veltrane-claim-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        runtime = (root / "runtime").string();
        fs::create_directory(runtime);
        fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
        fs::create_directories(root / "a");
        fs::create_directories(root / "b");
    }
    void TearDown() override { fs::remove_all(root); }

    fs::path root;
    std::string runtime;
};

TEST_F(LinuxWindowRunClaimTest, OneHolderPerFolderWhichALaterStartCallsToTheFront)
{
    const std::string a = (root / "a").string();
    auto first = std::make_unique<LinuxWindowRunClaim>(runtime);
    LinuxWindowRunClaim later(runtime);
    int fronts = 0;
    ASSERT_EQ(first->Claim(a, [&] { ++fronts; }), ClaimResult::Claimed);
    EXPECT_EQ(later.Claim(a, {}), ClaimResult::HolderBroughtToFront);
    // The same folder; the two requests waiting together bring it once.
    EXPECT_EQ(later.Claim((root / "b" / ".." / "a").string(), {}), ClaimResult::HolderBroughtToFront);
    QElapsedTimer waited;
    waited.start();
    while (fronts == 0 && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_EQ(fronts, 1);

    LinuxWindowRunClaim other(runtime);
    EXPECT_EQ(other.Claim((root / "b").string(), {}), ClaimResult::Claimed);
    first.reset();  // the holder ends: the claim goes with it
    EXPECT_EQ(later.Claim(a, {}), ClaimResult::Claimed);

    // A holder that does not listen (only the lock taken) is not reached.
    const std::string c = (root / "c").string();
    const int lock = ::open(later.PathFor(c, ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(later.Claim(c, {}), ClaimResult::HolderNotReached);
    ::close(lock);
}

// A runtime folder others could write to (or none) coordinates nothing:
// every claim is granted, and there is no holder to reach.
TEST_F(LinuxWindowRunClaimTest, NoRuntimeFolderOfTheUsersOwnCoordinatesNothing)
{
    std::ofstream(root / "file") << "x";
    fs::create_directory(root / "shared");
    fs::permissions(root / "shared", fs::perms::all, fs::perm_options::replace);
    for (const std::string& folder : {std::string(), std::string("relative"), (root / "file").string(),
                                      (root / "missing").string(), (root / "shared").string()}) {
        SCOPED_TRACE(folder);
        LinuxWindowRunClaim first(folder), later(folder);
        EXPECT_EQ(first.Claim(root / "a", {}), ClaimResult::Claimed);
        EXPECT_EQ(later.Claim(root / "a", {}), ClaimResult::Claimed);
    }
}

TEST(DisplayFailure, QtsOwnReasonWithoutItsCategory)
{
    const std::string tail =
        "This application failed to start because no Qt platform plugin could be initialized.\n\n"
        "Available platform plugins are: minimal, offscreen, xcb.\n";
    struct Case {
        std::string output;
        int signal;
        const char* reason;
    };
    const Case cases[] = {
        {"QStandardPaths: XDG_RUNTIME_DIR not set\nqt.qpa.xcb: could not connect to display :99\n"
         "qt.qpa.plugin: Could not load the Qt platform plugin \"xcb\" in \"\" even though it was found.\n" +
             tail,
         6, "could not connect to display :99"},
        {"qt.qpa.plugin: Could not find the Qt platform plugin \"wayland\" in \"\"\n"
         "qt.qpa.xcb: could not connect to display \n" +
             tail,
         6, "Could not find the Qt platform plugin \"wayland\" in \"\""},
        {"something else\tbroke\x1b[0m\nmore\n", 6, "something else broke [0m"},
        {"", 6, "Qt's windows could not start (signal 6)"},
        {"\n  \n", 0, "Qt's windows could not start"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DisplayFailure(c.output, c.signal), c.reason) << c.output;
    EXPECT_EQ(DisplayFailure(std::string(500, 'x'), 6), std::string(200, 'x') + "...");
}

}  // namespace
}  // namespace vel::platform

// The claim of a window run on Linux, on a real runtime folder: one holder
// per program folder (by any of its names), whose answer a later start has
// or is told it has not, and none where the runtime folder is not the user's
// alone. Also the reason a
// display could not be opened, as Qt words it.
#include "platform/linux/linux_window_run_claim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <filesystem>
#include <functional>
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

// A holder whose event loop runs in a thread of its own, as another
// process's would: it answers while this thread waits for the answer.
class ThreadedHolder {
public:
    explicit ThreadedHolder(const std::string& runtime)
    {
        context_.moveToThread(&thread_);
        thread_.start();
        Run([&] { claim_ = std::make_unique<LinuxWindowRunClaim>(runtime); });
    }
    ~ThreadedHolder()
    {
        Run([&] { claim_.reset(); });
        thread_.quit();
        thread_.wait();
    }
    ClaimOutcome Claim(const std::string& folder)
    {
        ClaimOutcome outcome;
        Run([&] { outcome = claim_->Claim(folder, [this] { ++fronts; }); });
        return outcome;
    }
    void Release()
    {
        Run([&] { claim_->Release(); });
    }

    std::atomic<int> fronts{0};

private:
    void Run(const std::function<void()>& work)
    {
        QMetaObject::invokeMethod(&context_, work, Qt::BlockingQueuedConnection);
    }
    QThread thread_;
    QObject context_;
    std::unique_ptr<LinuxWindowRunClaim> claim_;
};

// A later start of the folder (by any of its names) reaches the holder and
// has its answer, wherever the runtime folder lies and whatever lies beside
// the lock file; once the holder lets go (its window closed), it claims.
TEST_F(LinuxWindowRunClaimTest, ALaterStartHasTheHoldersAnswerUntilItLetsGo)
{
    const std::string a = (root / "a").string();
    const fs::path deep = root / std::string(120, 'd') / std::string(120, 'e');  // far beyond a socket path's 108
    fs::create_directories(deep);
    fs::permissions(deep, fs::perms::owner_all, fs::perm_options::replace);
    for (const std::string& folder : {runtime, deep.string()}) {
        SCOPED_TRACE(folder.size());
        ThreadedHolder holder(folder);
        LinuxWindowRunClaim later(folder, 5.0);
        ASSERT_EQ(holder.Claim(a).result, ClaimResult::Claimed);
        // What lay at the socket's name in the file system once holds nothing back.
        fs::create_directories(later.LockPathFor(a) + ".socket/x");
        const ClaimOutcome asked = later.Claim(a, {});
        EXPECT_EQ(asked.result, ClaimResult::HolderBroughtToFront);
        EXPECT_EQ(asked.holderProcess, ::getpid());
        EXPECT_EQ(holder.fronts, 1);
        EXPECT_EQ(later.Claim((root / "b" / ".." / "a").string(), {}).result, ClaimResult::HolderBroughtToFront);
        EXPECT_EQ(holder.fronts, 2);

        LinuxWindowRunClaim other(folder);
        EXPECT_EQ(other.Claim((root / "b").string(), {}).result, ClaimResult::Claimed);
        holder.Release();  // its window closed, its run goes on
        EXPECT_EQ(later.Claim(a, {}).result, ClaimResult::Claimed);
        EXPECT_EQ(holder.fronts, 2);
    }
}

// A holder that does not answer (a stopped process; here one whose thread is
// busy) is not reached within the bound, and is named; one that holds the
// lock without listening at all is not reached either.
TEST_F(LinuxWindowRunClaimTest, AHolderThatDoesNotAnswerIsNotReachedWithinTheBound)
{
    const std::string a = (root / "a").string();
    LinuxWindowRunClaim stopped(runtime);
    int fronts = 0;
    ASSERT_EQ(stopped.Claim(a, [&] { ++fronts; }).result, ClaimResult::Claimed);
    LinuxWindowRunClaim later(runtime, 0.3);
    QElapsedTimer waited;
    waited.start();
    const ClaimOutcome asked = later.Claim(a, {});
    EXPECT_EQ(asked.result, ClaimResult::HolderNotReached);
    EXPECT_EQ(asked.holderProcess, ::getpid());
    EXPECT_GE(waited.elapsed(), 290);
    EXPECT_LT(waited.elapsed(), 2000);
    EXPECT_EQ(fronts, 0);

    const std::string c = (root / "c").string();
    const int lock = ::open(later.LockPathFor(c).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(later.Claim(c, {}).result, ClaimResult::HolderNotReached);
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
        EXPECT_EQ(first.Claim(root / "a", {}).result, ClaimResult::Claimed);
        EXPECT_EQ(later.Claim(root / "a", {}).result, ClaimResult::Claimed);
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

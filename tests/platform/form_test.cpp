// The check of a window's declaration is the form engine's, so a table the
// real program would stop on stops the headless windows of the tests too.
// Web addresses without a scheme.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "about/about_dialog.h"
#include "platform/shell.h"
#include "settings/config_form.h"
#include "status/status_window.h"
#include "support/form_declaration.h"
#include "support/test_app.h"

namespace vel::platform {
namespace {

using test::FatalStop;

struct Declaration {
    const char* what;
    std::vector<ControlSpec> controls;
    const char* stop;  // null: accepted
};

// Each of the program's windows: every control inside its window or frame,
// no tab index twice. (The GUI tests lay them out as declared.)
TEST(FormDeclaration, EveryWindowsControlsFitAndHaveTabIndexesOfTheirOwn)
{
    for (const FormSpec& spec : {StatusWindowSpec(), ConfigurationDialogSpec(), AboutDialogSpec()}) {
        EXPECT_FALSE(spec.controls.empty()) << spec.name;
        EXPECT_EQ(test::DeclarationFaults(spec), "") << spec.name;
    }
    // The check finds both faults.
    FormSpec faulty = StatusWindowSpec();
    faulty.controls[0].left = faulty.clientWidth;
    faulty.controls[1].tabIndex = faulty.controls[2].tabIndex;
    const std::string faults = test::DeclarationFaults(faulty);
    EXPECT_NE(faults.find(faulty.controls[0].name + " outside frmVEL"), std::string::npos) << faults;
    EXPECT_NE(faults.find(" shares tab index "), std::string::npos) << faults;
}

TEST(FormDeclaration, ANameTwiceOrAMissingFrameStopsTheProgram)
{
    const ControlSpec frame = MakeControl(ControlKind::Frame, "fraGroup", "Group", 100, 100, 2000, 1000);
    const ControlSpec option =
        MakeControl(ControlKind::OptionButton, "optOne", "One", 100, 200, 1000, 255, 0, "fraGroup");
    ControlSpec selfFramed = frame;
    selfFramed.parent = "fraGroup";
    const std::vector<Declaration> cases = {
        {"a frame and its option", {frame, option}, nullptr},
        {"a name twice", {frame, option, option}, "internal error: frmSample declares optOne twice"},
        {"no such frame", {option}, "internal error: frmSample has no frame fraGroup"},
        {"a frame inside itself", {selfFramed, option}, "internal error: frmSample has no frame fraGroup"},
        {"a parent that is no frame",
         {MakeControl(ControlKind::Label, "fraGroup", "", 0, 0, 10, 10), option},
         "internal error: frmSample has no frame fraGroup"},
    };
    for (const Declaration& c : cases) {
        test::TestApp t;
        t.windows.SetFailureHandler([](const std::string& message) { throw FatalStop(message); });
        FormSpec spec;
        spec.name = "frmSample";
        spec.controls = c.controls;
        try {
            t.windows.CreateForm(spec);
            EXPECT_EQ(c.stop, nullptr) << c.what;
        } catch (const FatalStop& stop) {
            EXPECT_STREQ(stop.what(), c.stop) << c.what;
        }
    }
}

// A web address without its scheme, and nothing else, opens as https.
TEST(WebAddress, OnlyAHostWithAPathOrWwwTakesTheScheme)
{
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"github.com/veltrane/veltrane/issues", "https://github.com/veltrane/veltrane/issues"},
        {"www.example.org", "https://www.example.org"},
        {"https://example.org/x", std::nullopt},
        {"mailto:help@example.org", std::nullopt},
        {"Veltrane.log", std::nullopt},
        {"/home/u/.config/veltrane/Veltrane.log", std::nullopt},
        {"C:\\Users\\u\\Veltrane.log", std::nullopt},
        {"localhost/x", std::nullopt},
        {"example.org/a b", std::nullopt},
    };
    for (const auto& [target, address] : cases)
        EXPECT_EQ(WebAddressOf(target), address) << target;
}

}  // namespace
}  // namespace vel::platform

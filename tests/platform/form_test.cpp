// The check of a window's declaration is the form engine's, so a table the
// real program would stop on stops the headless windows of the tests too.
// An editable combo box's text and selection; web addresses without a scheme.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "platform/shell.h"
#include "support/test_app.h"

namespace vel::platform {
namespace {

using test::FatalStop;

struct Declaration {
    const char* what;
    std::vector<ControlSpec> controls;
    const char* stop;  // null: accepted
};

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

// The edit field holds any text; the selection is the item of that text, as
// set, picked or typed.
TEST(EditableComboBox, TheSelectionFollowsTheText)
{
    test::TestApp t;
    FormSpec spec;
    spec.name = "frmSample";
    ControlSpec combo = MakeControl(ControlKind::ComboBox, "cboServer", "", 0, 0, 2000, 315, 0);
    combo.editable = true;
    spec.controls = {combo};
    auto form = t.windows.CreateForm(spec);
    auto& f = static_cast<HeadlessForm&>(*form);
    f.Show();
    for (const char* item : {"alpha", "beta", "gamma"})
        f.AddItem("cboServer", item);

    using Step = std::function<void()>;
    struct Case {
        const char* what;
        Step step;
        const char* text;
        int selected;
    } cases[] = {
        {"added: nothing", [] {}, "", -1},
        {"set to an item", [&] { f.SetText("cboServer", "beta"); }, "beta", 1},
        {"set to another text", [&] { f.SetText("cboServer", "delta (by hand)"); }, "delta (by hand)", -1},
        {"item selected", [&] { f.SetSelectedIndex("cboServer", 2); }, "gamma", 2},
        {"picked", [&] { f.Select("cboServer", 0); }, "alpha", 0},
        {"typed on", [&] { f.Paste("cboServer", "x"); }, "alphax", -1},
        {"typed to an item",
         [&] {
             f.SetText("cboServer", "bet");
             f.Paste("cboServer", "a");
         },
         "beta", 1},
        {"none selected", [&] { f.SetSelectedIndex("cboServer", -1); }, "", -1},
        {"cleared",
         [&] {
             f.SetText("cboServer", "alpha");
             f.ClearItems("cboServer");
         },
         "", -1},
    };
    for (const Case& c : cases) {
        c.step();
        EXPECT_EQ(f.Text("cboServer"), c.text) << c.what;
        EXPECT_EQ(f.SelectedIndex("cboServer"), c.selected) << c.what;
    }
}

TEST(WebAddress, OnlyAHostWithAPathOrWwwTakesTheScheme)
{
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"github.com/veltrane/veltrane", "https://github.com/veltrane/veltrane"},
        {"github.com/veltrane/veltrane/issues", "https://github.com/veltrane/veltrane/issues"},
        {"www.example.org", "https://www.example.org"},
        {"https://example.org/x", std::nullopt},
        {"mailto:help@example.org", std::nullopt},
        {"Veltrane.log", std::nullopt},
        {"/home/u/.config/veltrane/Veltrane.log", std::nullopt},
        {"C:\\Users\\u\\Veltrane.log", std::nullopt},
        {"localhost/x", std::nullopt},
        {"a..b/x", std::nullopt},
        {"example.org/a b", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [target, address] : cases)
        EXPECT_EQ(WebAddressOf(target), address) << target;
}

}  // namespace
}  // namespace vel::platform

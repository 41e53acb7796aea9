#include "about/about_dialog.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string_view>

#include "about/hyper_text.h"
#include "about/version_info.h"
#include "app/app.h"
#include "common/controls.h"

namespace vel {

using platform::ControlKind;

namespace {

// X black, . white, blank transparent.
constexpr std::array<std::string_view, 32> kHandRows = {
    "                                ", "                                ", "                                ",
    "                                ", "                                ", "                                ",
    "                                ", "                                ", "                                ",
    "            XX                  ", "           X..X                 ", "           X..X                 ",
    "           X..X                 ", "           X..X                 ", "           X..XXX               ",
    "           X..X..XXX            ", "           X..X..X..XXX         ", "        XXXX..X..X..X..X        ",
    "       X..XX..X..X..X..X        ", "       X...X...........X        ", "       X...............X        ",
    "        X..............X        ", "        X..............X        ", "         X............X         ",
    "         X............X         ", "          X..........X          ", "          X..........X          ",
    "          XXXXXXXXXXXX          ", "                                ", "                                ",
    "                                ", "                                ",
};
static_assert(std::all_of(kHandRows.begin(), kHandRows.end(), [](std::string_view row) { return row.size() == 32; }));

class AboutDialog : public platform::FormEvents {
public:
    explicit AboutDialog(App& app) : app_(app), form_(app.platform.windows.CreateForm(AboutDialogSpec()))
    {
        form_->SetHandler(this);
        cmdOK.OnClick([this] { form_->Close(); });
        cmdSysInfo.OnClick([this] { StartSysInfo(app_); });
        Load();
    }

    // Unloading releases the links with the window.
    ~AboutDialog() override { form_->SetHandler(nullptr); }

    void ShowModal() { form_->ShowModal(); }

private:
    void Load()
    {
        const VersionInfo& info = kVersionInfo;
        form_->SetTitle(std::string("About ") + info.ProductName);
        lblTitle.SetCaption(std::string(info.ProductName) + " - " + info.FileDescription);
        lblVersion.SetCaption(VersionText(info.Major, info.Minor, info.Revision));
        lblDescription.SetCaption(info.LegalCopyright);

        const platform::CursorImage hand = PointingHandCursor();
        lblWebLink.SetCursor(hand);
        lblEMailLink.SetCursor(hand);
        webLink_ = std::make_unique<HyperText>(app_);
        eMailLink_ = std::make_unique<HyperText>(app_);
        webLink_->CreateHyper(lblWebLink);
        eMailLink_->CreateHyper(lblEMailLink);
    }

    App& app_;
    std::unique_ptr<platform::Form> form_;
    std::unique_ptr<HyperText> webLink_;
    std::unique_ptr<HyperText> eMailLink_;

public:
    Label lblTitle{*form_, "lblTitle"};
    Label lblVersion{*form_, "lblVersion"};
    Label lblDescription{*form_, "lblDescription"};
    Label lblWebLink{*form_, "lblWebLink"};
    Label lblEMailLink{*form_, "lblEMailLink"};
    Button cmdOK{*form_, "cmdOK"};
    Button cmdSysInfo{*form_, "cmdSysInfo"};
};

}  // namespace

platform::FormSpec AboutDialogSpec()
{
    platform::FormSpec spec;
    spec.name = "frmAbout";
    spec.caption = std::string("About ") + kVersionInfo.ProductName;
    spec.clientWidth = 6600;
    spec.clientHeight = 3255;
    spec.resizable = false;

    auto control = [&spec](ControlKind kind, const char* name, std::string caption, int left, int top, int width,
                           int height, int tabIndex = -1) -> platform::ControlSpec& {
        spec.controls.push_back(
            platform::MakeControl(kind, name, std::move(caption), left, top, width, height, tabIndex));
        return spec.controls.back();
    };
    control(ControlKind::Picture, "picIcon", "", 240, 240, 480, 480);
    control(ControlKind::Label, "lblTitle", "", 1050, 240, 5205, 480).bold = true;
    control(ControlKind::Label, "lblVersion", "", 1050, 780, 3885, 225);
    control(ControlKind::Label, "lblDescription", "", 1050, 1125, 3885, 570);
    // The etched separator: a grey line with a white one, two pixels wide,
    // under it.
    platform::ControlSpec& shadow = control(ControlKind::Line, "Line1(0)", "", 0, 1845, 6360, 0);
    shadow.lineColour = 0x808080;
    shadow.lineWidth = 1;
    platform::ControlSpec& light = control(ControlKind::Line, "Line1(1)", "", 0, 1860, 6360, 0);
    light.lineColour = 0xFFFFFF;
    light.lineWidth = 2;
    control(ControlKind::Label, "lblTechSupport", "Tech Support:", 360, 2040, 1455, 255);
    control(ControlKind::Label, "lblWeb", "Web:", 840, 2400, 495, 255);
    control(ControlKind::Label, "lblWebLink", kWebAddress, 1440, 2400, 2415, 255);
    // The project takes support questions in its issue tracker, not by e-mail;
    // its address is longer than the e-mail address the box was drawn for.
    control(ControlKind::Label, "lblEMail", "Issues:", 840, 2760, 615, 255);
    control(ControlKind::Label, "lblEMailLink", kIssuesAddress, 1440, 2760, 2895, 255);
    platform::ControlSpec& ok = control(ControlKind::Button, "cmdOK", "OK", 4845, 2025, 1260, 345, 0);
    ok.isDefault = true;
    ok.isCancel = true;
    control(ControlKind::Button, "cmdSysInfo", "&System Info...", 4860, 2475, 1245, 345, 1);
    return spec;
}

std::string VersionText(int major, int minor, int revision)
{
    std::string text = "Version " + std::to_string(major) + "." + std::to_string(minor);
    if (revision > 0)
        text += "." + std::to_string(revision);
    return text;
}

platform::CursorImage PointingHandCursor()
{
    platform::CursorImage cursor;
    for (std::size_t row = 0; row < kHandRows.size(); ++row)
        for (std::size_t column = 0; column < 32; ++column) {
            const std::uint32_t bit = std::uint32_t{1} << (31 - column);
            const char pixel = kHandRows[row][column];
            if (pixel == 'X')
                cursor.image[row] |= bit;
            if (pixel == 'X' || pixel == '.')
                cursor.mask[row] |= bit;
        }
    cursor.hotX = 12;
    cursor.hotY = 9;
    return cursor;
}

void StartSysInfo(App& app)
{
    if (app.platform.environment.StartSystemInformation())
        return;
    app.platform.windows.ShowMessageBox("System Information Is Unavailable At This Time", kVersionInfo.ProductName,
                                        platform::MessageButtons::Ok, platform::MessageIcon::None);
}

void ShowAboutDialog(App& app)
{
    AboutDialog dialog(app);
    dialog.ShowModal();
}

}  // namespace vel

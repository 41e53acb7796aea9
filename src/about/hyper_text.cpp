#include "about/hyper_text.h"

#include "app/app.h"

namespace vel {

namespace {

constexpr platform::Colour kBlue = 0xFF0000;  // 0x00BBGGRR
constexpr platform::Colour kRed = 0x0000FF;

}  // namespace

HyperText::HyperText(App& app) : app_(app)
{
    app_.platform.windows.SetPointer(platform::PointerShape::Default);
    LinkColor = kBlue;
    VisitedColor = kRed;
}

void HyperText::CreateHyper(const Label& label)
{
    mlblTarget = label;
    mlblTarget->SetUnderline(true);
    mlblTarget->SetForeColour(LinkColor);
    mlblTarget->OnClick([this] { Click(); });
    mlblTarget->OnMouseMove([this] { MouseMove(); });
}

void HyperText::Click()
{
    if (!mlblTarget)
        return;
    std::string target = mlblTarget->Caption();
    if (target.find('@') != std::string::npos)
        target = "mailto:" + target;

    if (app_.platform.shell.Open(target)) {
        mlblTarget->SetForeColour(VisitedColor);
        return;
    }
    const char* text =
        target.find("mailto:") != std::string::npos ? "Could not start e-mail program!" : "Could not start browser!";
    app_.platform.windows.ShowMessageBox(text, "Error", platform::MessageButtons::Ok, platform::MessageIcon::Critical);
}

void HyperText::MouseMove()
{
    if (mlblTarget)
        app_.platform.windows.SetPointer(platform::PointerShape::Custom, &mlblTarget->Owner(), mlblTarget->Name());
}

}  // namespace vel

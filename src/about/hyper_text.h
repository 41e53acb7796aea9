// HyperText: turns a label into a link, underlined and coloured, opened with
// the desktop's handler when clicked (the e-mail program for an address with
// "@" in it, else the web browser).
#pragma once

#include <optional>
#include <string>

#include "common/controls.h"
#include "platform/window_system.h"

namespace vel {

class App;

class HyperText {
public:
    // Sets the application-wide pointer back to the default pointer and the
    // colours to their defaults.
    explicit HyperText(App& app);

    // Text colour of a link not yet opened: blue.
    platform::Colour LinkColor;
    // Text colour after a successful open: red.
    platform::Colour VisitedColor;

    // Binds the label: underlined, in LinkColor; its clicks and the mouse
    // over it come here from then on.
    void CreateHyper(const Label& label);

    // The bound label's events. Click opens the caption ("mailto:" in front
    // when it holds "@"): on success the label turns VisitedColor, else an
    // error box tells.
    void Click();
    // Sets the application-wide pointer to the label's own pointer; nothing
    // sets it back when the mouse leaves.
    void MouseMove();

private:
    App& app_;
    std::optional<Label> mlblTarget;
};

}  // namespace vel

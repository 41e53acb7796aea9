#include "common/controls.h"

namespace vel {

const platform::ControlSpec* FindControl(const platform::FormSpec& spec, const std::string& name)
{
    for (const auto& control : spec.controls)
        if (control.name == name)
            return &control;
    return nullptr;
}

Control::Control(platform::Form& form, std::string name, platform::ControlKind kind)
    : form_(&form),
      name_(std::move(name)),
      // A handle on a control the window does not declare is a bug in the program.
      index_(form.IndexOf(name_, kind))
{}

}  // namespace vel

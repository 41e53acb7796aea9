#include "common/controls.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>

namespace vel {

const platform::ControlSpec* FindControl(const platform::FormSpec& spec, const std::string& name)
{
    for (const auto& control : spec.controls)
        if (control.name == name)
            return &control;
    return nullptr;
}

Control::Control(platform::Form& form, std::string name, platform::ControlKind kind)
    : form_(&form), name_(std::move(name))
{
    // A handle on a control the window does not declare is a bug in the program.
    const platform::ControlSpec* spec = FindControl(form.Spec(), name_);
    if (spec == nullptr || spec->kind != kind) {
        std::fprintf(stderr, "internal error: %s has no control %s of that kind\n", form.Spec().name.c_str(),
                     name_.c_str());
        std::abort();
    }
}

}  // namespace vel

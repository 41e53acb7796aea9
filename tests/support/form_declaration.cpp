#include "support/form_declaration.h"

#include <algorithm>
#include <map>

#include "common/controls.h"

namespace vel::test {

std::string DeclarationFaults(const platform::FormSpec& spec)
{
    std::string faults;
    std::map<int, std::string> tabs;
    for (const platform::ControlSpec& control : spec.controls) {
        int width = spec.clientWidth, height = spec.clientHeight;
        if (const platform::ControlSpec* frame = FindControl(spec, control.parent)) {
            width = frame->width;
            height = frame->height;
        }
        if (control.left < 0 || control.top < 0 || control.width < 0 || control.height < 0 ||
            control.left + control.width > width || control.top + control.height > height)
            faults += control.name + " outside " + (control.parent.empty() ? spec.name : control.parent) + "; ";
        if (control.tabIndex < 0)
            continue;
        const auto [at, added] = tabs.emplace(control.tabIndex, control.name);
        if (!added)
            faults +=
                control.name + " shares tab index " + std::to_string(control.tabIndex) + " with " + at->second + "; ";
    }
    return faults;
}

std::vector<std::string> ByTabIndex(const platform::FormSpec& spec)
{
    std::vector<const platform::ControlSpec*> tabbed;
    for (const platform::ControlSpec& control : spec.controls)
        if (control.tabIndex >= 0)
            tabbed.push_back(&control);
    std::stable_sort(tabbed.begin(), tabbed.end(), [](auto* a, auto* b) { return a->tabIndex < b->tabIndex; });
    std::vector<std::string> names;
    for (const platform::ControlSpec* control : tabbed)
        names.push_back(control->name);
    return names;
}

}  // namespace vel::test

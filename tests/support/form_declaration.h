// What tests read from a window's declaration instead of copying it: whether
// its controls fit where they are declared, and its Tab order.
#pragma once

#include <string>
#include <vector>

#include "platform/window_system.h"

namespace vel::test {

// How the declaration cannot be laid out as written: a control that does not
// lie inside its window or frame, two controls of the window sharing a tab
// index. Empty when none.
std::string DeclarationFaults(const platform::FormSpec& spec);

// The controls with a tab index, by it.
std::vector<std::string> ByTabIndex(const platform::FormSpec& spec);

}  // namespace vel::test

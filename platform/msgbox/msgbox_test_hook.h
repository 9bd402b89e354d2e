// Test hook of the message box: what it showed. There is one box for the whole process, so a
// test, or the plug-in host, reads there what any loaded library showed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "msgbox.h"

namespace msgbox_test {

// Texts shown since the last call, oldest first (the last 256 of them).
std::vector<std::string> TakeMessageBoxTexts();

// Boxes shown since the process started; taking the texts leaves the count alone.
std::uint64_t MessageBoxesShown();

}  // namespace msgbox_test

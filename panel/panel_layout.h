#pragma once
// The panel window as data: caption, size, colour, font and the table of its
// nineteen controls in creation order.

#include "ui/window_layout.h"

namespace monvia::panel {

inline constexpr const char* kProgramTitle = "Testing";
inline constexpr const char* kDefaultHost = "localhost";
inline constexpr uint32_t kPanelBackColor = 0x00FFC0C0;  // 0x00BBGGRR: red 192, green 192, blue 255

const ui::WindowSpec& frmTest_layout();

}  // namespace monvia::panel

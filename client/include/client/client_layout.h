#pragma once
// The client window as data: caption, client size, font and the table of its
// controls in creation order. The socket WS is not a window control: the
// window object owns it beside the table.

#include "ui/window_layout.h"

namespace monvia::client {

// Title of the unhandled-failure report.
inline constexpr const char* kProgramTitle = "VeluntTest";
inline constexpr const char* kDefaultHost = "127.0.0.1";
inline constexpr const char* kDefaultPort = "16501";

// Timer1 is armed with this interval by Send and re-armed with the other
// between the requests of an automatic series.
inline constexpr int kFirstStepMs = 1;
inline constexpr int kStepGapMs = 1000;

const ui::WindowSpec& Test_layout();

}  // namespace monvia::client

#pragma once
// The handler guard: every event handler runs inside it. A Failure that no
// command handled becomes the unhandled-failure report, a modal box titled
// with the program's title giving the error's number and description; when it
// is dismissed the program ends. ProgramEnded passes through quietly.

#include <functional>
#include <string>

#include "runtime/failure.h"
#include "ui/toolkit.h"

namespace monvia {

// The report's text for a failure.
std::string unhandled_failure_text(const Failure& failure);

// Runs the handler; returns false when it ended through a failure or program end.
bool run_guarded(ui::Toolkit& toolkit, const std::string& program_title,
                 const std::function<void()>& handler);

// Wraps a handler so that it always runs guarded.
std::function<void()> guarded(ui::Toolkit& toolkit, std::string program_title, std::function<void()> handler);

}  // namespace monvia

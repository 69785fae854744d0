#include "ui/guard.h"

#include <cstdio>
#include <exception>

namespace monvia {

namespace {

// Internal error: something other than a Failure escaped a handler.
constexpr int32_t kErrInternal = 51;
constexpr int kExitAfterFailure = 1;

std::string hex8(uint32_t v) {
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08X", v);
    return buf;
}

void report_and_end(ui::Toolkit& toolkit, const std::string& title, const Failure& failure) {
    try {
        toolkit.message_box(title, unhandled_failure_text(failure));
    } catch (const ProgramEnded&) {
        // The program ended while the report was open; it ends all the same.
    }
    toolkit.end_program(kExitAfterFailure);
}

}  // namespace

std::string unhandled_failure_text(const Failure& failure) {
    // Status codes from components are large negative numbers; their
    // hexadecimal form is what people look up, so it is shown beside them.
    std::string number = std::to_string(failure.number());
    if (failure.number() < 0) number += " (" + hex8(static_cast<uint32_t>(failure.number())) + ")";
    return "Run-time error '" + number + "':\n\n" + failure.description();
}

bool run_guarded(ui::Toolkit& toolkit, const std::string& program_title,
                 const std::function<void()>& handler) {
    if (toolkit.program_ended()) return false;
    try {
        handler();
        return true;
    } catch (const ProgramEnded&) {
        // The program ended inside the handler (for example during a wait);
        // nothing is left to do but unwind.
    } catch (const Failure& f) {
        report_and_end(toolkit, program_title, f);
    } catch (const std::exception& e) {
        report_and_end(toolkit, program_title, Failure(kErrInternal, e.what()));
    }
    return false;
}

std::function<void()> guarded(ui::Toolkit& toolkit, std::string program_title,
                              std::function<void()> handler) {
    return [&toolkit, title = std::move(program_title), h = std::move(handler)] {
        run_guarded(toolkit, title, h);
    };
}

}  // namespace monvia

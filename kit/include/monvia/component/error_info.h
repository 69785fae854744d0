#pragma once
// How a component on Windows states the description of a failing status:
// the system's error object, set on the calling thread just before the
// status is returned, which a client reads with GetErrorInfo after asking
// ISupportErrorInfo. (On Linux a component answers IErrorSource instead.)

#if defined(_WIN32)

#include <monvia/component/types.h>

#include <string_view>

namespace monvia::com {

// Sets the thread's error object for a failure of interface `iid` with the
// given source and description (UTF-8). Returns the failing status of
// creating it, or S_OK.
HRESULT set_error_info(const Guid& iid, std::string_view source, std::string_view description);

// Clears the thread's error object, so that a client never reads a stale
// description after a later call.
void clear_error_info();

}  // namespace monvia::com

#endif

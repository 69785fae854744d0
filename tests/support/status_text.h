#pragma once
// The description a failing status gets when the component gives none: the
// layer's own text on Linux, written out in the tests so that they check it,
// and the system's message for the code on Windows, whose wording (and
// language) is the system's.

#include <monvia/component/types.h>

#include <string>

namespace monvia::testing_env {

inline std::string status_text(com::HRESULT h, const std::string& layer_text) {
#if defined(_WIN32)
    (void)layer_text;
    return com::describe(h);
#else
    (void)h;
    return layer_text;
#endif
}

}  // namespace monvia::testing_env

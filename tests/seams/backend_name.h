#pragma once
// Names the backends in the typed suites' test names (ToolkitContract/Qt.…),
// from each backend's kName.

#include <string>

namespace monvia::seams {

struct BackendName {
    template <class Backend>
    static std::string GetName(int) {
        return Backend::kName;
    }
};

}  // namespace monvia::seams

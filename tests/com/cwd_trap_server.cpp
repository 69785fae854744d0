// A server that must never be loaded: the tests place it in the working
// directory and register it by a relative name, which the registry refuses.
// Should it be loaded anyway, its initialiser leaves a mark in the environment.

#include <monvia/component/server.h>

#include <cstdlib>

namespace {
__attribute__((constructor)) void mark_loaded() { setenv("MONVIA_CWD_TRAP_LOADED", "1", 1); }
}  // namespace

MONVIA_COMPONENT_EXPORT monvia::com::HRESULT MonviaCreateInstance(const monvia::com::Guid*,
                                                                  const monvia::com::Guid*, void** object) {
    if (object) *object = nullptr;
    return monvia::com::E_FAIL;
}

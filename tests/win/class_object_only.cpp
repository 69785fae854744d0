// A DLL that exports DllGetClassObject and serves no class. Built for the
// other bitness, it is what a server of that bitness looks like from
// outside: the right export, the wrong machine.

#include <windows.h>

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(const GUID&, const GUID&, void** out) {
    if (out) *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

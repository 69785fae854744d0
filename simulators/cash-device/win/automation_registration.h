#pragma once
// What the simulator registers beside its class so that clients can bind to
// it late, by name, and reach it from another process: its type library (a
// resource of the DLL), the interface marshalled by the system's type
// library marshaller, and the ProgIDs Monvia.CashDeviceSimulator.1 and
// Monvia.CashDeviceSimulator.
//
// Under <root>\Software\Classes (root is where the class goes):
//
//   TypeLib\{LIBID}\1.0                 "Monvia CashDevice contract 1.0"
//       0\win64 (win32 in a 32-bit DLL) the DLL's path
//       FLAGS "0", HELPDIR the DLL's folder
//   Interface\{IID}                     "ICashDevice"
//       ProxyStubClsid, ProxyStubClsid32 the type library marshaller
//       TypeLib {LIBID}, Version "1.0"
//   Monvia.CashDeviceSimulator.1        CLSID
//   Monvia.CashDeviceSimulator          CLSID, CurVer
//   CLSID\{CLSID}                       ProgID, VersionIndependentProgID, TypeLib, Version
//
// Each entry is written only where it is missing or already this
// library's; an entry another server wrote (its type library path, an
// interface key that names another type library, a ProgID of another
// class) is left as it is, and unregistering removes only what names this
// library, so that registering twice changes nothing and unregistering
// leaves the registry as it was before.

#include <windows.h>

#include <string>

namespace monvia::cashsim {

// Writes the entries above under `root` for the library at `self`. The
// class key must already name this library. Returns the first failure.
HRESULT register_automation(HKEY root, const std::wstring& self);

// Removes, under `root`, the entries above that name the library at `self`.
// Succeeds where there is nothing to remove.
HRESULT unregister_automation(HKEY root, const std::wstring& self);

}  // namespace monvia::cashsim

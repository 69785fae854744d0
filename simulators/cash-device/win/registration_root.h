#pragma once
// Where an in-process server's class registration goes: the machine's classes
// (HKLM\Software\Classes) when the process is elevated, the user's own
// (HKCU\Software\Classes) when it is not.

#include <monvia/component/elevation.h>

namespace monvia::cashsim {

inline bool elevated() { return com::process_elevated(); }

inline HKEY registration_root() { return elevated() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

}  // namespace monvia::cashsim

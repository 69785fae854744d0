#pragma once
// Where an in-process server's class registration goes: the machine's classes
// (HKLM\Software\Classes) when the process is elevated, the user's own
// (HKCU\Software\Classes) when it is not.

#include <windows.h>

namespace monvia::cashsim {

// Whether the process runs elevated; false when that cannot be told.
inline bool elevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return ok && elevation.TokenIsElevated;
}

inline HKEY registration_root() { return elevated() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

}  // namespace monvia::cashsim

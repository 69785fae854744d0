#pragma once
// Windows only: whether the process runs elevated. It decides where a
// server's DllRegisterServer writes (the machine's classes when elevated,
// the user's when not), and whether the system reads the user's class
// registrations at all (an elevated process reads the machine's only).

#if defined(_WIN32)

#include <windows.h>

namespace monvia::com {

// False when it cannot be told.
inline bool process_elevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return ok && elevation.TokenIsElevated;
}

}  // namespace monvia::com

#endif

#pragma once
// Whether a registered path names a given file: a question about files, not
// strings. Two paths are compared by file identity (volume serial number and
// file index), so that another spelling of the same path (letter case, short
// names, another drive mapping) still counts as the same file.

#include <windows.h>

#include <optional>
#include <string>

namespace monvia::cashsim {

// A file's identity: the volume it lies on and its index there.
struct FileIdentity {
    DWORD volume = 0, index_high = 0, index_low = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file a path names; nothing when it cannot be opened
// (it is missing, or not ours to look at).
inline std::optional<FileIdentity> identity_of(const std::wstring& path) {
    // No access is asked for, only the attributes: a DLL loaded elsewhere
    // can be opened this way, and so can a folder.
    const HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!ok) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// Whether `registered` names the file `self`.
inline bool names_same_file(const std::wstring& registered, const std::wstring& self) {
    const auto theirs = identity_of(registered);
    const auto mine = identity_of(self);
    if (theirs && mine) return *theirs == *mine;
    // Without identities (a file that cannot be opened), only the same
    // spelling counts as the same file.
    return CompareStringOrdinal(registered.c_str(), static_cast<int>(registered.size()), self.c_str(),
                                static_cast<int>(self.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace monvia::cashsim

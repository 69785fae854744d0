// The journal's system parts on Windows: the folder under the user's local
// application data, the file appended to with one WriteFile per line, and
// the process's name from its executable.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
// clang-format on

#include "journal_platform.h"

#include <optional>
#include <string>

#include "com/win_classes.h"

namespace fs = std::filesystem;

namespace monvia::journal::platform {
namespace {

std::string utf8(std::wstring_view w) {
    if (w.empty()) return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                            nullptr);
    return out;
}

// The system's message for an error number, without its line break.
std::string system_message(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n && text ? std::wstring(text, n) : std::wstring();
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.'))
        message.pop_back();
    if (message.empty()) return "error " + std::to_string(code);
    return utf8(message);
}

std::string quoted(const fs::path& p) { return "\"" + path_text(p) + "\""; }

std::wstring environment(const wchar_t* name) {
    std::wstring value(256, L'\0');
    for (;;) {
        const DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) return {};
        if (n < value.size()) {
            value.resize(n);
            return value;
        }
        value.resize(n);
    }
}

HANDLE handle_of(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

std::optional<BY_HANDLE_FILE_INFORMATION> information(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
    return info;
}

}  // namespace

fs::path journal_directory() {
    const fs::path set = environment(L"LOCALAPPDATA");
    if (set.is_absolute()) return set / L"Monvia" / L"journal";
    wchar_t* known = nullptr;
    fs::path folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known)) && known) folder = known;
    CoTaskMemFree(known);
    if (folder.empty()) return {};
    return folder / L"Monvia" / L"journal";
}

const char* no_directory_reason() {
    return "there is no local application data folder (LOCALAPPDATA is not set and the system knows none)";
}

std::tm local_time(std::time_t t) {
    std::tm local{};
    localtime_s(&local, &t);
    return local;
}

std::string process_name() {
    const fs::path path = com::win::program_path();
    if (path.empty()) return {};
    fs::path file = path.filename();
    if (_wcsicmp(file.extension().c_str(), L".exe") == 0) file.replace_extension();
    return path_text(file);
}

unsigned long process_id() { return GetCurrentProcessId(); }

std::string path_text(const fs::path& p) { return utf8(p.native()); }

bool AppendFile::open(const fs::path& file, std::string& why) {
    close();
    // Appending only: every WriteFile goes to the end of the file as it is
    // then, in one piece. Shared with everyone for everything, so that other
    // clients write too and the file can be set aside or shown meanwhile.
    const HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = "cannot open the journal " + quoted(file) + ": " + system_message(GetLastError());
        return false;
    }
    LARGE_INTEGER size{};
    size_ = GetFileSizeEx(h, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
    handle_ = reinterpret_cast<intptr_t>(h);
    path_ = file;
    return true;
}

void AppendFile::close() {
    if (handle_ != kClosed) CloseHandle(handle_of(handle_));
    handle_ = kClosed;
}

bool AppendFile::append(const std::string& bytes, std::string& why) {
    DWORD written = 0;
    // A journal line is far below 4 GiB: one call writes it whole.
    const BOOL ok =
        WriteFile(handle_of(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    if (!ok || written != bytes.size()) {
        why = "cannot write the journal " + quoted(path_) + ": " +
              system_message(ok ? ERROR_DISK_FULL : GetLastError());
        // Opened anew for the next line: the problem may be gone by then.
        close();
        return false;
    }
    return true;
}

bool AppendFile::moved_away_from(const fs::path& path) const {
    const auto mine = information(handle_of(handle_));
    const HANDLE named = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    const auto theirs = information(named);
    CloseHandle(named);
    return mine && theirs &&
           (mine->dwVolumeSerialNumber != theirs->dwVolumeSerialNumber ||
            mine->nFileIndexHigh != theirs->nFileIndexHigh || mine->nFileIndexLow != theirs->nFileIndexLow);
}

void rename_replacing(const fs::path& from, const fs::path& to) {
    MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace monvia::journal::platform

#pragma once
// Registry entries and folders that tests write and remove again.

#include <gtest/gtest.h>
#include <monvia/component/bstr.h>
#include <monvia/component/types.h>

#include <filesystem>
#include <string>
#include <utility>

#include "com/win_classes.h"
#include "registration_root.h"
#include "test_env.h"

namespace monvia::com::testing {

namespace fs = std::filesystem;

using win::wide;

// A path as failure descriptions show it.
inline std::string quoted(const fs::path& p) {
    const std::wstring w = p.wstring();
    return "\"" + utf16_to_utf8({reinterpret_cast<const char16_t*>(w.data()), w.size()}) + "\"";
}

// A class registration written for one test and removed after it, where
// regsvr32 writes one (for the user, or for the machine when elevated), in
// this process's registry view or the one named.
class ScopedClass {
public:
    ScopedClass(const Guid& clsid, const fs::path& server, REGSAM view = 0)
        : root_(cashsim::registration_root()),
          view_(view),
          key_(L"Software\\Classes\\CLSID\\" + wide(to_string(clsid))) {
        HKEY inproc = nullptr;
        EXPECT_EQ(RegCreateKeyExW(root_, (key_ + L"\\InprocServer32").c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE | view_, nullptr, &inproc, nullptr),
                  ERROR_SUCCESS);
        if (!inproc) return;
        for (const auto& [name, value] : {std::pair<const wchar_t*, std::wstring>{nullptr, server.wstring()},
                                          {L"ThreadingModel", L"Apartment"}})
            EXPECT_EQ(RegSetValueExW(inproc, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                      ERROR_SUCCESS);
        RegCloseKey(inproc);
    }
    ~ScopedClass() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root_, key_.c_str(), 0, KEY_ALL_ACCESS | view_, &key) == ERROR_SUCCESS) {
            RegDeleteTreeW(key, nullptr);
            RegCloseKey(key);
        }
        RegDeleteKeyExW(root_, key_.c_str(), view_, 0);
    }

private:
    HKEY root_;
    REGSAM view_;
    std::wstring key_;
};

// The registry view of the other bitness, from this process.
inline constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

// A temporary folder of the test's own, removed with everything in it.
class ScopedFolder {
public:
    explicit ScopedFolder(const std::string& name)
        : path_(fs::temp_directory_path() /
                fs::u8path(name + "-" + std::to_string(testing_env::process_id()))) {
        fs::create_directories(path_);
    }
    ~ScopedFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

}  // namespace monvia::com::testing

// Class registrations in both registry views, and server files read from
// their headers.

#include <monvia/component/bstr.h>
#include <monvia/component/elevation.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "com/win_classes.h"

namespace fs = std::filesystem;

namespace monvia::com::win {

std::wstring wide(const std::string& s) {
    const std::u16string u = utf8_to_utf16(s);
    return {reinterpret_cast<const wchar_t*>(u.data()), u.size()};
}

std::string utf8(const std::wstring& w) {
    return utf16_to_utf8({reinterpret_cast<const char16_t*>(w.data()), w.size()});
}

std::filesystem::path program_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        // Cut short: a longer buffer, up to the longest path there is.
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

namespace {

// A string value of an open key, REG_EXPAND_SZ expanded.
std::optional<std::wstring> string_value(HKEY key, const wchar_t* name) {
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return std::nullopt;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &bytes) !=
        ERROR_SUCCESS)
        return std::nullopt;
    value.resize(wcsnlen(value.c_str(), value.size()));
    if (type == REG_EXPAND_SZ) {
        const DWORD n = ExpandEnvironmentStringsW(value.c_str(), nullptr, 0);
        if (n == 0) return value;
        std::wstring expanded(n, L'\0');
        ExpandEnvironmentStringsW(value.c_str(), expanded.data(), n);
        expanded.resize(wcsnlen(expanded.c_str(), expanded.size()));
        return expanded;
    }
    return value;
}

// Little-endian fields of the image headers.
uint16_t u16(const std::vector<char>& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8));
}
uint32_t u32(const std::vector<char>& b, size_t at) {
    return u16(b, at) | (static_cast<uint32_t>(u16(b, at + 2)) << 16);
}

class ImageReader {
public:
    explicit ImageReader(const fs::path& file) : in_(file, std::ios::binary) {
        if (in_) {
            in_.seekg(0, std::ios::end);
            size_ = static_cast<uint64_t>(in_.tellg());
        }
    }
    bool open() const { return static_cast<bool>(in_); }

    // `n` bytes at `offset`, or nothing when the file is shorter.
    bool read(uint64_t offset, size_t n, std::vector<char>& out) {
        if (offset > size_ || n > size_ - offset) return false;
        out.resize(n);
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(offset));
        return static_cast<bool>(in_.read(out.data(), static_cast<std::streamsize>(n)));
    }

private:
    std::ifstream in_;
    uint64_t size_ = 0;
};

struct Section {
    uint32_t address, size, raw_offset, raw_size;
};

// The file offset of a relative virtual address, when a section holds it.
std::optional<uint64_t> file_offset(const std::vector<Section>& sections, uint32_t rva) {
    for (const Section& s : sections) {
        const uint32_t extent = std::max(s.size, s.raw_size);
        if (rva >= s.address && rva - s.address < extent && rva - s.address < s.raw_size)
            return uint64_t{s.raw_offset} + (rva - s.address);
    }
    return std::nullopt;
}

// Whether the export table names DllGetClassObject.
bool exports_class_object(ImageReader& image, const std::vector<Section>& sections, uint32_t export_rva) {
    static constexpr char kName[] = "DllGetClassObject";
    std::vector<char> dir;
    const auto at = file_offset(sections, export_rva);
    if (!at || !image.read(*at, 40, dir)) return false;
    const uint32_t names = std::min<uint32_t>(u32(dir, 24), 1u << 16);
    const auto table = file_offset(sections, u32(dir, 32));
    std::vector<char> rvas, name;
    if (!table || !image.read(*table, size_t{names} * 4, rvas)) return false;
    for (uint32_t i = 0; i < names; ++i) {
        const auto where = file_offset(sections, u32(rvas, size_t{i} * 4));
        if (where && image.read(*where, sizeof kName, name) &&
            std::memcmp(name.data(), kName, sizeof kName) == 0)
            return true;
    }
    return false;
}

}  // namespace

Bitness process_bitness() { return sizeof(void*) == 8 ? Bitness::Bits64 : Bitness::Bits32; }

Bitness other_bitness(Bitness b) {
    switch (b) {
        case Bitness::Bits32:
            return Bitness::Bits64;
        case Bitness::Bits64:
            return Bitness::Bits32;
        default:
            return Bitness::Unknown;
    }
}

std::string bitness_word(Bitness b) {
    switch (b) {
        case Bitness::Bits32:
            return "32-bit";
        case Bitness::Bits64:
            return "64-bit";
        default:
            return "unknown bitness";
    }
}

std::string panel_for(Bitness b) { return b == Bitness::Bits32 ? "Testing" : "Testing (64-bit components)"; }

std::string scope_word(Scope s) { return s == Scope::User ? "the user's" : "the machine's"; }

namespace {

// Whether the system is a 64-bit Windows, whatever this process is.
bool system_is_64_bit() {
    if (process_bitness() == Bitness::Bits64) return true;
    BOOL wow = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}

}  // namespace

ClassKey class_key(const Guid& clsid, Bitness view, Scope scope) {
    const std::wstring id = wide(to_string(clsid));
    if (scope == Scope::Machine)
        return {HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\" + id,
                static_cast<REGSAM>(view == Bitness::Bits32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY)};
    if (view == Bitness::Bits32 && system_is_64_bit())
        return {HKEY_CURRENT_USER, L"Software\\Classes\\Wow6432Node\\CLSID\\" + id, KEY_WOW64_64KEY};
    return {HKEY_CURRENT_USER, L"Software\\Classes\\CLSID\\" + id, KEY_WOW64_64KEY};
}

std::optional<Registration> read_registration(const Guid& clsid, Bitness view, Scope scope) {
    const ClassKey where = class_key(clsid, view, scope);
    HKEY key = nullptr;
    if (RegOpenKeyExW(where.root, (where.path + L"\\InprocServer32").c_str(), 0, KEY_QUERY_VALUE | where.view,
                      &key) != ERROR_SUCCESS)
        return std::nullopt;
    const auto server = string_value(key, nullptr);
    const auto model = string_value(key, L"ThreadingModel");
    RegCloseKey(key);
    // A key without a server names nothing the system could load.
    if (!server || server->empty()) return std::nullopt;
    Registration r;
    r.scope = scope;
    r.view = view;
    r.server = fs::path(*server);
    if (model) r.threading_model = utf8(*model);
    return r;
}

bool elevated() { return process_elevated(); }

std::optional<Registration> effective_registration(const Guid& clsid, Bitness view, bool is_elevated) {
    if (!is_elevated)
        if (auto user = read_registration(clsid, view, Scope::User)) return user;
    return read_registration(clsid, view, Scope::Machine);
}

ServerFile inspect_server(const fs::path& file) {
    ServerFile result;
    std::error_code ec;
    const auto status = fs::status(file, ec);
    if (status.type() == fs::file_type::not_found) return result;
    if (status.type() == fs::file_type::directory) {
        result.kind = ServerFile::Kind::Folder;
        return result;
    }
    ImageReader image(file);
    if (ec || !image.open()) {
        result.kind = ServerFile::Kind::Unreadable;
        return result;
    }
    result.kind = ServerFile::Kind::NotAnImage;
    std::vector<char> dos, pe;
    if (!image.read(0, 64, dos) || dos[0] != 'M' || dos[1] != 'Z') return result;
    const uint32_t pe_at = u32(dos, 0x3C);
    // Signature, file header, and the optional header up to its data directories.
    if (!image.read(pe_at, 24, pe) || std::memcmp(pe.data(), "PE\0\0", 4) != 0) return result;
    result.machine = u16(pe, 4);
    const uint16_t section_count = u16(pe, 6);
    const uint16_t optional_size = u16(pe, 20);
    const uint16_t characteristics = u16(pe, 22);
    switch (result.machine) {
        case 0x014C:  // i386
            result.bitness = Bitness::Bits32;
            break;
        case 0x8664:  // x86-64
            result.bitness = Bitness::Bits64;
            break;
        default:
            break;
    }
    result.kind = (characteristics & 0x2000) ? ServerFile::Kind::Dll : ServerFile::Kind::NotADll;
    if (result.kind != ServerFile::Kind::Dll) return result;

    std::vector<char> optional, table;
    if (!image.read(uint64_t{pe_at} + 24, optional_size, optional) || optional_size < 2) return result;
    const uint16_t magic = u16(optional, 0);
    const size_t directories = magic == 0x20B ? 112 : 96;  // PE32+ or PE32
    if (optional_size < directories + 8) return result;
    const uint32_t export_rva = u32(optional, directories);
    if (export_rva == 0) return result;
    if (!image.read(uint64_t{pe_at} + 24 + optional_size, size_t{section_count} * 40, table)) return result;
    std::vector<Section> sections;
    for (size_t i = 0; i < section_count; ++i)
        sections.push_back({u32(table, i * 40 + 12), u32(table, i * 40 + 8), u32(table, i * 40 + 20),
                            u32(table, i * 40 + 16)});
    result.exports_class_object = exports_class_object(image, sections, export_rva);
    return result;
}

std::string server_file_problem(const ServerFile& file, Bitness process) {
    switch (file.kind) {
        case ServerFile::Kind::Missing:
            return "does not exist";
        case ServerFile::Kind::Folder:
            return "is a folder, not a DLL";
        case ServerFile::Kind::Unreadable:
            return "cannot be read";
        case ServerFile::Kind::NotAnImage:
            return "is not a DLL (not a Windows executable file)";
        case ServerFile::Kind::NotADll:
            return "is a program, not a DLL";
        case ServerFile::Kind::Dll:
            break;
    }
    if (file.bitness == Bitness::Unknown) {
        char machine[8];
        std::snprintf(machine, sizeof machine, "%04X", file.machine);
        return std::string("is a DLL for another kind of processor (machine ") + machine + ")";
    }
    if (file.bitness != process)
        return "is a " + bitness_word(file.bitness) + " DLL, which a " + bitness_word(process) +
               " program cannot load; the " + bitness_word(file.bitness) + " panel \"" +
               panel_for(file.bitness) + "\" can";
    if (!file.exports_class_object)
        return "does not export DllGetClassObject, so it is not an in-process server";
    return {};
}

std::optional<std::vector<RegistryValue>> read_values(HKEY key, LSTATUS* error) {
    LSTATUS rc = ERROR_SUCCESS;
    auto failed = [&]() -> std::optional<std::vector<RegistryValue>> {
        if (error) *error = rc;
        return std::nullopt;
    };
    // Read again from the start when a value grows while it is read.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD count = 0, longest_name = 0, longest_data = 0;
        rc = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                              &longest_name, &longest_data, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) return failed();
        std::vector<RegistryValue> values;
        std::vector<wchar_t> name(longest_name + 1);
        bool grew = false;
        for (DWORD i = 0; i < count; ++i) {
            RegistryValue v;
            DWORD name_length = static_cast<DWORD>(name.size());
            DWORD bytes = longest_data;
            v.data.resize(bytes);
            rc = RegEnumValueW(key, i, name.data(), &name_length, nullptr, &v.type,
                               bytes ? v.data.data() : nullptr, &bytes);
            if (rc == ERROR_NO_MORE_ITEMS) break;
            if (rc == ERROR_MORE_DATA) {
                grew = true;
                break;
            }
            if (rc != ERROR_SUCCESS) return failed();
            v.name.assign(name.data(), name_length);
            v.data.resize(bytes);
            values.push_back(std::move(v));
        }
        if (!grew) return values;
    }
    rc = ERROR_MORE_DATA;
    return failed();
}

const RegistryValue* find_value(const std::vector<RegistryValue>& values, const std::wstring& name) {
    for (const RegistryValue& v : values)
        if (CompareStringOrdinal(v.name.c_str(), static_cast<int>(v.name.size()), name.c_str(),
                                 static_cast<int>(name.size()), TRUE) == CSTR_EQUAL)
            return &v;
    return nullptr;
}

std::optional<std::wstring> value_text(const RegistryValue& value) {
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) return std::nullopt;
    std::wstring text(value.data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) std::memcpy(text.data(), value.data.data(), text.size() * sizeof(wchar_t));
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

RegistryValue make_string_value(const std::wstring& name, const std::wstring& text) {
    RegistryValue v{name, REG_SZ, {}};
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    v.data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    return v;
}

RegistryValue make_dword_value(const std::wstring& name, DWORD number) {
    RegistryValue v{name, REG_DWORD, {}};
    const auto* bytes = reinterpret_cast<const BYTE*>(&number);
    v.data.assign(bytes, bytes + sizeof number);
    return v;
}

LSTATUS write_value(HKEY key, const RegistryValue& value) {
    return RegSetValueExW(key, value.name.empty() ? nullptr : value.name.c_str(), 0, value.type,
                          value.data.empty() ? nullptr : value.data.data(),
                          static_cast<DWORD>(value.data.size()));
}

LSTATUS set_values_exactly(HKEY key, const std::vector<RegistryValue>& values) {
    LSTATUS rc = ERROR_SUCCESS;
    const auto present = read_values(key, &rc);
    if (!present) return rc;
    for (const RegistryValue& v : *present) {
        if (find_value(values, v.name)) continue;
        rc = RegDeleteValueW(key, v.name.empty() ? nullptr : v.name.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return rc;
    }
    for (const RegistryValue& v : values) {
        const RegistryValue* now = find_value(*present, v.name);
        if (now && *now == v) continue;
        rc = write_value(key, v);
        if (rc != ERROR_SUCCESS) return rc;
    }
    return ERROR_SUCCESS;
}

}  // namespace monvia::com::win

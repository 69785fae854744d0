#pragma once
// Windows only: where the system registry has a class, in both registry
// views and both scopes, and what a registered server file is, read from its
// headers without loading it. The class registry uses these to say why a
// creation failed; monvia-register lists and checks registrations with them.
//
// On a 64-bit Windows the registry holds two views of the classes: 64-bit
// processes read the 64-bit one, 32-bit processes the 32-bit one
// (Wow6432Node), and a process loads in-process servers of its own bitness
// only. In each view the user's registration (HKCU\Software\Classes) comes
// before the machine's (HKLM\Software\Classes), except for an elevated
// process, for which the system reads the machine's alone.

#include <monvia/component/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace monvia::com::win {

enum class Bitness { Unknown = 0, Bits32 = 32, Bits64 = 64 };

// This process's bitness, and the other one.
Bitness process_bitness();
Bitness other_bitness(Bitness b);
// "32-bit" or "64-bit" ("unknown bitness" for Unknown).
std::string bitness_word(Bitness b);
// The panel that loads servers of this bitness: "Testing" (32-bit) or
// "Testing (64-bit components)" (64-bit).
std::string panel_for(Bitness b);

enum class Scope { User, Machine };
// "the user's" or "the machine's".
std::string scope_word(Scope s);

struct Registration {
    Scope scope = Scope::Machine;
    Bitness view = Bitness::Unknown;
    std::filesystem::path server;  // InprocServer32's default value, environment references expanded
    std::string threading_model;   // empty when the value is absent
};

// Where a class's registration lies in one view and scope: the root, the
// key's path and the access flag that reaches that view. The machine's
// views are reached through the registry's view flags; the user's by their
// own paths (the 32-bit view is HKCU\Software\Classes\Wow6432Node on a
// 64-bit Windows), which Wine keeps apart only that way.
struct ClassKey {
    HKEY root;
    std::wstring path;  // ...\CLSID\{class}
    REGSAM view;
};
ClassKey class_key(const Guid& clsid, Bitness view, Scope scope);

// The class's in-process registration in one view and scope, when there is one.
std::optional<Registration> read_registration(const Guid& clsid, Bitness view, Scope scope);

// Whether this process runs elevated; false when that cannot be told.
bool elevated();

// The registration a process of the given bitness creates the class from:
// the user's first unless the process is elevated, then the machine's.
std::optional<Registration> effective_registration(const Guid& clsid, Bitness view, bool elevated);

// What a file named as an in-process server is.
struct ServerFile {
    enum class Kind {
        Missing,     // no such file
        Folder,      // a directory
        Unreadable,  // there, but cannot be opened or read
        NotAnImage,  // not a Windows executable image
        NotADll,     // an executable image, but a program rather than a DLL
        Dll,
    };
    Kind kind = Kind::Missing;
    Bitness bitness = Bitness::Unknown;  // of an image: from its machine field
    uint16_t machine = 0;                // the machine field itself
    bool exports_class_object = false;   // a DLL that exports DllGetClassObject
};

// Reads the file's headers and export table; never loads it.
ServerFile inspect_server(const std::filesystem::path& file);

// Text as the system's wide-character functions take it, and back.
std::wstring wide(const std::string& utf8_text);
std::string utf8(const std::wstring& wide_text);

// The full path of this process's program file; empty when the system
// cannot say.
std::filesystem::path program_path();

// One value of a registry key as it is stored: its name (empty for the
// key's default value), its type and its bytes, uninterpreted.
struct RegistryValue {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const RegistryValue&) const = default;
};

// Every value of an open key, in the order the registry lists them;
// nothing when they cannot be read (the status in `error`, when given).
std::optional<std::vector<RegistryValue>> read_values(HKEY key, LSTATUS* error = nullptr);

// The value of that name among `values` (names compare as the registry
// does, without regard to case), or null.
const RegistryValue* find_value(const std::vector<RegistryValue>& values, const std::wstring& name);

// A REG_SZ or REG_EXPAND_SZ value's text, without its terminating zero and
// unexpanded; nothing for a value of another type.
std::optional<std::wstring> value_text(const RegistryValue& value);

// A REG_SZ value holding `text`, and a REG_DWORD value.
RegistryValue make_string_value(const std::wstring& name, const std::wstring& text);
RegistryValue make_dword_value(const std::wstring& name, DWORD number);

// Sets one value, byte for byte as given.
LSTATUS write_value(HKEY key, const RegistryValue& value);

// Makes the open key hold exactly `values`: sets each of them and deletes
// every other value it has. Stops at the first failure and returns it.
LSTATUS set_values_exactly(HKEY key, const std::vector<RegistryValue>& values);

// Why a file cannot serve a process of the given bitness, as a clause after
// the file's name ("is a 32-bit DLL, ..."); empty when it can.
std::string server_file_problem(const ServerFile& file, Bitness process);

}  // namespace monvia::com::win

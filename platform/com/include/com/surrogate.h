#pragma once
// The system's surrogate for an in-process server on Windows: a class whose
// key names an AppID with a DllSurrogate value is created, when a client
// asks for a local server (CLSCTX_LOCAL_SERVER), in a process of its own
// (dllhost.exe) that loads the server's DLL, so that clients of another
// process, or of the other bitness, reach it through the system's
// marshalling. monvia-register --surrogate adds and removes these entries;
// --list shows them.
//
// Under <root>\Software\Classes, in the registry view `view` (0 for the
// process's own, KEY_WOW64_32KEY or KEY_WOW64_64KEY for the other):
//
//   CLSID\{class}: AppID = {class}
//   AppID\{class}: (default) "<class name> (surrogate)", DllSurrogate "" (the system's dllhost)
//
// Only a registered in-process class gets a surrogate; a class whose AppID
// names another AppID is left as it is. Removing takes away exactly these
// entries and nothing that another tool wrote into the AppID's key.

#if defined(_WIN32)

#include <monvia/component/types.h>

#include <string>
#include <vector>

namespace monvia::com {

struct SurrogateOutcome {
    bool ok = false;
    bool changed = false;  // false when there was nothing to do
    std::string message;   // what was done, or why not
};

// `surrogate` is the DllSurrogate value: empty for the system's dllhost,
// else the full path of the surrogate program.
SurrogateOutcome add_surrogate(HKEY root, REGSAM view, const Guid& clsid, const std::string& surrogate = {});
SurrogateOutcome remove_surrogate(HKEY root, REGSAM view, const Guid& clsid);

struct SurrogateEntry {
    Guid clsid{};
    std::string surrogate;  // the DllSurrogate value; empty for the system's dllhost
    std::string server;     // the class's InprocServer32, empty when it has none
};

// Every class under `root` whose AppID has a DllSurrogate value.
std::vector<SurrogateEntry> list_surrogates(HKEY root, REGSAM view);

}  // namespace monvia::com

#endif

#pragma once
// The system's surrogate for an in-process server on Windows: a class whose
// key names an AppID with a DllSurrogate value is created, when a client
// asks for a local server (CLSCTX_LOCAL_SERVER), in a process of its own
// (dllhost.exe) that loads the server's DLL, so that clients of another
// process, or of the other bitness, reach it through the system's
// marshalling. monvia-register --surrogate adds and removes these entries;
// --list shows them.
//
// Beside a class's registration in one registry view and scope (see
// com/win_classes.h), under the same root's Software\Classes:
//
//   CLSID\{class}: AppID = {class}                      (in the class's view)
//   AppID\{class}: (default) "<class name> (surrogate)",
//                  DllSurrogate "<program>" (empty: the system's dllhost),
//                  WrittenBy "monvia-register"
//
// AppID keys are one per root, shared by both views, as Windows keeps them;
// each view's class key names it on its own. WrittenBy marks the entries as
// these functions' own: an AppID that another server or tool wrote, named by
// the class or of the same identifier, is never changed or removed.

#if defined(_WIN32)

#include <monvia/component/types.h>

#include <optional>
#include <string>

#include "com/win_classes.h"

namespace monvia::com {

struct SurrogateOutcome {
    bool ok = false;
    bool changed = false;  // false when there was nothing to do
    std::string message;   // what was done, or why not
};

// The class's AppID and surrogate in one view and scope.
struct SurrogateEntry {
    std::string app_id;          // the AppID the class's key names
    bool has_surrogate = false;  // the AppID has a DllSurrogate value
    std::string surrogate;       // that value; empty for the system's dllhost
    bool ours = false;           // written by add_surrogate
};

// Nothing when the class's key names no AppID.
std::optional<SurrogateEntry> read_surrogate(const Guid& clsid, win::Bitness view, win::Scope scope);

// Adds the entries beside the class's in-process registration; `surrogate`
// is the DllSurrogate value. Refused (ok false, nothing written) when the
// class has no such registration there, names an AppID that is not ours, an
// AppID key of its identifier is not ours, or ours names another surrogate;
// ok but unchanged when exactly these entries are there. With `write` false
// only says what adding would do.
SurrogateOutcome add_surrogate(const Guid& clsid, win::Bitness view, win::Scope scope,
                               const std::string& surrogate = {}, bool write = true);

// Removes the class's AppID value in that view, and the AppID key's own
// values (the key itself when nothing else is left in it) once the class
// in neither view names it. Refused when the AppID is not ours; ok but
// unchanged when the class names none.
SurrogateOutcome remove_surrogate(const Guid& clsid, win::Bitness view, win::Scope scope);

// A DllSurrogate value as messages show it.
std::string surrogate_words(const std::string& surrogate);

}  // namespace monvia::com

#endif

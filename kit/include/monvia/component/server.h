#pragma once
// What an in-process server library exports so that the class registry can
// create its objects. The registry loads the library from the absolute path
// registered for the class and calls
//
//   extern "C" HRESULT MonviaCreateInstance(const Guid* clsid, const Guid* iid, void** object);
//
// which must return, in *object, the interface asked for with one reference
// owned by the caller, or set *object to null and return a failing status
// (CLASS_E_CLASSNOTAVAILABLE for a class the library does not serve,
// E_NOINTERFACE for an interface the object does not have).
//
// A server also says which classes it serves, so that the registration
// command can write an entry for each of them:
//
//   extern "C" uint32_t MonviaListClasses(Guid* classes, uint32_t capacity);
//
// which copies up to `capacity` class identifiers into `classes` (which may be
// null when `capacity` is 0) and returns how many classes the library serves,
// even when that is more than `capacity`. It allocates nothing and may be
// called before any object exists.
//
// A server whose creation can fail for a reason of its own (one that stands
// in front of another server, say) may also export
//
//   extern "C" HRESULT MonviaTakeCreationError(char16_t** description);
//
// which, right after MonviaCreateInstance failed on the same thread, gives
// the failure's full description as a layer string owned by the caller and
// returns S_OK, or returns S_FALSE with *description null when it has none.
// The registry then reports that description instead of its own.

#include <monvia/component/types.h>

// Marks a function as exported from the server library, whatever the
// library's default symbol visibility.
#if defined(_WIN32)
#define MONVIA_COMPONENT_EXPORT extern "C" __declspec(dllexport)
#else
#define MONVIA_COMPONENT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace monvia::com {

using CreateInstanceFn = HRESULT (*)(const Guid* clsid, const Guid* iid, void** object);
inline constexpr const char* kCreateInstanceSymbol = "MonviaCreateInstance";

using ListClassesFn = uint32_t (*)(Guid* classes, uint32_t capacity);
inline constexpr const char* kListClassesSymbol = "MonviaListClasses";

using TakeCreationErrorFn = HRESULT (*)(char16_t** description);
inline constexpr const char* kTakeCreationErrorSymbol = "MonviaTakeCreationError";

}  // namespace monvia::com

#pragma once
// The CashDevice object of the simulator, as the library's entry points
// create it: MonviaCreateInstance on Linux, the class factory on Windows.

#include <monvia/component/types.h>

namespace monvia::cashsim {

// Creates a new object and returns interface `iid` of it with one reference
// owned by the caller, or sets *object to null and returns the failure.
com::HRESULT create_cash_device(const com::Guid& iid, void** object);

// How many objects of this library are alive.
long live_objects();

}  // namespace monvia::cashsim

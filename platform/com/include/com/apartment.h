#pragma once
// The component object model's per-thread set-up, held for the life of the
// program on the user-interface thread. On Windows it enters a
// single-threaded apartment (COM initialised apartment-threaded) and leaves
// it when destroyed, which must be after every object made through it is
// gone. Elsewhere it does nothing.

#include <string>

namespace monvia::com {

#if defined(_WIN32)

class Apartment {
public:
    // Throws Failure when the thread cannot enter the apartment (for example
    // because it is already in a multi-threaded one).
    Apartment();
    ~Apartment();
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
};

#else

class Apartment {
public:
    // Not trivial, so that holding one is not taken for an unused variable.
    Apartment() {}
    ~Apartment() {}
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
};

#endif

}  // namespace monvia::com

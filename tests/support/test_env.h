#pragma once
// Environment variables and the process number for tests that run on Linux
// and on Windows alike.

#include <string>

#if defined(_WIN32)
#include <process.h>
#include <stdlib.h>
#else
#include <stdlib.h>
#include <unistd.h>
#endif

namespace monvia::testing_env {

inline void set_env(const std::string& name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name.c_str(), value.c_str());
#else
    ::setenv(name.c_str(), value.c_str(), 1);
#endif
}

inline void unset_env(const std::string& name) {
#if defined(_WIN32)
    _putenv_s(name.c_str(), "");  // an empty value removes the variable
#else
    ::unsetenv(name.c_str());
#endif
}

inline long process_id() {
#if defined(_WIN32)
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(::getpid());
#endif
}

}  // namespace monvia::testing_env

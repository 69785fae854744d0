#pragma once
// Environment variables and the process number for tests that run on Linux
// and on Windows alike.

#include <cstdlib>
#include <optional>
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

// Sets (or, given nullptr, removes) an environment variable for one scope;
// the old value comes back when the scope ends.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            set_env(name_, value);
        else
            unset_env(name_);
    }
    ~ScopedEnv() {
        if (old_)
            set_env(name_, *old_);
        else
            unset_env(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

inline long process_id() {
#if defined(_WIN32)
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(::getpid());
#endif
}

}  // namespace monvia::testing_env

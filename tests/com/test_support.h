#pragma once
// Scoped helpers of the layer's tests: a temporary directory, an environment
// variable and a working directory, each restored when the scope ends.

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "test_env.h"

namespace monvia::com::testing {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "monvia-com-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

using testing_env::ScopedEnv;

class ScopedCwd {
public:
    explicit ScopedCwd(const fs::path& to) : old_(fs::current_path()) { fs::current_path(to); }
    ~ScopedCwd() {
        std::error_code ec;
        fs::current_path(old_, ec);
    }

private:
    fs::path old_;
};

}  // namespace monvia::com::testing

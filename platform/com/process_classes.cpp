// The part of the class registry both backends share: the classes registered
// in the process itself (factories and libraries named directly), which come
// before any entry or system registration, and the entry directories it was
// given.

#include <mutex>

#include "com/registry.h"

namespace fs = std::filesystem;

namespace monvia::com {

const fs::path& ClassRegistry::entry_directory() const {
    static const fs::path none;
    return entry_directories_.empty() ? none : entry_directories_.front();
}

void ClassRegistry::register_factory(const Guid& clsid, Factory factory) {
    std::lock_guard lock(mutex_);
    factories_[clsid] = std::move(factory);
}

void ClassRegistry::unregister(const Guid& clsid) {
    std::lock_guard lock(mutex_);
    factories_.erase(clsid);
    libraries_.erase(clsid);
}

void ClassRegistry::register_library(const Guid& clsid, fs::path library) {
    std::lock_guard lock(mutex_);
    libraries_[clsid] = std::move(library);
}

}  // namespace monvia::com

// The journal of the cash device: an in-process server of the CashDevice
// class that stands in front of another server of the class. Creating an
// object creates the real one from the fronted server at the same moment;
// every member is passed on with the caller's arguments, and the caller gets
// back exactly what the real object gave (status, result, every output and
// the failure's description). Each call is written to the journal as one
// line (see journal_line.h and README.md).
//
// The fronted server is named by the journal's own registration entry (the
// first one found for the class, in the registry's search order) and loaded
// through a class registry of the journal's own, so by the same rules as any
// server: absolute path, safe place, component server exports.

#include <dlfcn.h>
#include <monvia/component/bstr.h>
#include <monvia/component/cash_device.h>
#include <monvia/component/com_ptr.h>
#include <monvia/component/server.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "com/registry.h"
#include "journal_device.h"
#include "journal_entry.h"
#include "journal_line.h"
#include "runtime/failure.h"

namespace fs = std::filesystem;
using namespace monvia::com;
using namespace monvia::device;
using monvia::Failure;

namespace monvia::journal {
namespace {

std::atomic<uint64_t> g_next_object{1};

// Where this library itself was loaded from.
fs::path own_library() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&own_library), &info) && info.dli_fname) return info.dli_fname;
    return {};
}

bool same_file(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    const bool same = fs::equivalent(a, b, ec);
    return !ec && same;
}

// The description a failing creation had, for the client that asks: a
// layer string, so that the thread-local slot needs no destructor (one
// would keep the library from ever being unloaded).
thread_local BSTR t_creation_error = nullptr;

void set_creation_error(const std::string& text) {
    free_string(t_creation_error);
    t_creation_error = alloc_utf8(text);
}

[[noreturn]] void refuse(HRESULT h, const std::string& text) { throw Failure(h, text); }

// The server this journal fronts: the "fronts" line of the entry the class
// was found by.
fs::path fronted_server(fs::path& entry_file) {
    for (const auto& dir : ClassRegistry::entry_directories()) {
        std::optional<ClassRegistry::EntryFile> found;
        for (auto& e : ClassRegistry::entries_in(dir.path)) {
            if (e.clsid != CLSID_CashDevice) continue;
            // The entry the registry reads first: the one under the exact name.
            if (!found || e.file.filename() == CLSID_CashDevice.str() + ".class") found = std::move(e);
        }
        if (!found) continue;
        entry_file = found->file;
        if (!found->problem.empty()) refuse(REGDB_E_CLASSNOTREG, found->problem);
        const auto content = read_small_file(found->file);
        const auto entry = content ? parse_journal_entry(*content) : std::nullopt;
        if (!entry)
            refuse(REGDB_E_CLASSNOTREG, "the journal was loaded, but the entry \"" + found->file.string() +
                                            "\" names no server to front (no \"fronts=\" line); run "
                                            "monvia-journal on");
        return entry->fronts;
    }
    refuse(REGDB_E_CLASSNOTREG, "the journal was loaded, but no registration entry for " +
                                    CLSID_CashDevice.str() + " names it; run monvia-journal on");
}

// The journal object here: the calls of JournalDevice, and the layer's way
// of passing a failure's description on (IErrorSource).
class LayerJournalDevice final : public JournalDevice, public IErrorSource {
public:
    LayerJournalDevice(ComPtr<ICashDevice> real, bool real_explains, uint64_t number)
        : JournalDevice(std::move(real), number), real_explains_(real_explains) {}

    // IUnknown: the journal object has its own identity and count.
    HRESULT STDMETHODCALLTYPE QueryInterface(const Guid& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_ICashDevice)
            *object = static_cast<ICashDevice*>(this);
        else if (iid == IID_IErrorSource && real_explains_)
            *object = static_cast<IErrorSource*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return JournalDevice::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return JournalDevice::Release(); }

    // IErrorSource: the description the real object gave for the last
    // failing call, taken from it when the call failed (to journal it) and
    // handed on here.
    HRESULT STDMETHODCALLTYPE TakeErrorDescription(char16_t** description) override {
        if (!description) return E_POINTER;
        *description = nullptr;
        std::lock_guard lock(mutex_);
        if (!pending_) return S_FALSE;
        *description = alloc_string(*pending_);
        const bool made = *description || pending_->empty();
        pending_.reset();
        return made ? S_OK : E_OUTOFMEMORY;
    }

private:
    void before_call() noexcept override {
        std::lock_guard lock(mutex_);
        pending_.reset();
    }

    // Takes the real object's description of its failing status, keeping it
    // for the client's own TakeErrorDescription.
    std::string failure_description(HRESULT) override {
        if (!real_explains_) return {};
        void* raw = nullptr;
        if (failed(real_->QueryInterface(IID_IErrorSource, &raw)) || !raw) return {};
        auto source = ComPtr<IErrorSource>::attach(static_cast<IErrorSource*>(raw));
        Bstr text;
        if (source->TakeErrorDescription(text.inout()) != S_OK) return {};
        std::lock_guard lock(mutex_);
        pending_ = std::u16string(chars_of(text.get()));
        return text.utf8();
    }

    const bool real_explains_;
    std::mutex mutex_;
    std::optional<std::u16string> pending_;
};

// The journal's own registry of the one server it fronts; never unloaded
// while the journal is loaded, since the real objects live in it.
ClassRegistry& fronted_registry() {
    static ClassRegistry registry;
    return registry;
}

HRESULT create(const Guid& iid, void** object) {
    const auto when = std::chrono::system_clock::now();
    const auto start = std::chrono::steady_clock::now();
    const uint64_t number = g_next_object++;
    fs::path entry_file, fronted;
    auto journal_line = [&](const std::string& outcome) {
        std::string line = line_start(when, number) + " create class=" + CLSID_CashDevice.str() +
                           " server=" + quote_utf8(fronted.string());
        if (!entry_file.empty()) line += " entry=" + quote_utf8(entry_file.string());
        write_line(line + " -> " + outcome + " " + duration_text(std::chrono::steady_clock::now() - start),
                   when);
    };
    try {
        fronted = fronted_server(entry_file);
        const fs::path self = own_library();
        if (!fronted.is_absolute())
            refuse(CO_E_BADPATH,
                   "the journal fronts \"" + fronted.string() +
                       "\", which is not an absolute path; run monvia-journal off and on again");
        if (same_file(fronted, self))
            refuse(CO_E_ERRORINDLL, "the journal's entry \"" + entry_file.string() +
                                        "\" names the journal itself as the server it fronts");
        ClassRegistry& registry = fronted_registry();
        registry.register_library(CLSID_CashDevice, fronted);
        auto real = registry.create<ICashDevice>(CLSID_CashDevice, IID_ICashDevice);
        void* source = nullptr;
        const bool explains = succeeded(real->QueryInterface(IID_IErrorSource, &source)) && source;
        if (source) static_cast<IErrorSource*>(source)->Release();
        auto device = std::make_unique<LayerJournalDevice>(std::move(real), explains, number);
        journal_line("ok");
        const HRESULT h = device->QueryInterface(iid, object);
        device.release()->Release();
        return h;
    } catch (const Failure& f) {
        set_creation_error(f.description());
        journal_line("failed " + hex(f.number()) + " " + quote_utf8(f.description()));
        return failed(f.number()) ? f.number() : E_FAIL;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace
}  // namespace monvia::journal

MONVIA_COMPONENT_EXPORT HRESULT MonviaCreateInstance(const Guid* clsid, const Guid* iid, void** object) {
    if (!clsid || !iid || !object) return E_POINTER;
    *object = nullptr;
    if (*clsid != CLSID_CashDevice) return CLASS_E_CLASSNOTAVAILABLE;
    free_string(std::exchange(monvia::journal::t_creation_error, nullptr));
    return monvia::journal::create(*iid, object);
}

MONVIA_COMPONENT_EXPORT uint32_t MonviaListClasses(Guid* classes, uint32_t capacity) {
    if (classes && capacity >= 1) classes[0] = CLSID_CashDevice;
    return 1;
}

// The description of the last creation that failed on this thread, so that
// the client's registry can report the fronted server's own failure.
MONVIA_COMPONENT_EXPORT HRESULT MonviaTakeCreationError(char16_t** description) {
    if (!description) return E_POINTER;
    *description = nullptr;
    BSTR& pending = monvia::journal::t_creation_error;
    if (string_len(pending) == 0) return S_FALSE;
    *description = std::exchange(pending, nullptr);
    return S_OK;
}

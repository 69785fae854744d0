// Tests of the component object model layer: identifiers, status texts,
// layer strings, the reference-counted pointer, the class registry and check().

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <monvia/component/bstr.h>
#include <monvia/component/com_ptr.h>
#include <monvia/component/types.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "com/registry.h"
#include "com/safe_path.h"
#include "runtime/failure.h"
#include "test_support.h"
#include "test_widget.h"

namespace fs = std::filesystem;
using namespace monvia;
using namespace monvia::com;
using namespace monvia::com::testing;

namespace {

// ---------------------------------------------------------------- identifiers

struct GuidCase {
    const char* text;
    bool valid;
    const char* formatted;  // expected str() when valid
};

TEST(Guid, ParsesAndFormats) {
    const GuidCase cases[] = {
        {"{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}", true, "{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}"},
        {"{3f6a1d20-8b4c-4e57-9a12-6c0d5b7e2a91}", true, "{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}"},
        {"3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91", true, "{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}"},
        {"{00000000-0000-0000-c000-000000000046}", true, "{00000000-0000-0000-C000-000000000046}"},
        {"{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}", true, "{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}"},
        {"", false, nullptr},
        {"{}", false, nullptr},
        {"{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91", false, nullptr},  // brace not closed
        {"3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}", false, nullptr},  // brace not opened
        {"{{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}}", false, nullptr},
        {"{3F6A1D208B4C-4E57-9A12-6C0D5B7E2A91A}", false, nullptr},   // dash missing
        {"{3F6A1D2-08B4C-4E57-9A12-6C0D5B7E2A91}", false, nullptr},   // dash misplaced
        {"{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A9}", false, nullptr},    // one digit short
        {"{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A911}", false, nullptr},  // one digit over
        {"{3G6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}", false, nullptr},   // not hexadecimal
        {" {3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}", false, nullptr},  // leading blank
        {"{+F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}", false, nullptr},
        {"3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91.class", false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto g = Guid::parse(c.text);
        ASSERT_EQ(g.has_value(), c.valid);
        if (c.valid) {
            EXPECT_EQ(g->str(), c.formatted);
            EXPECT_EQ(Guid::parse(g->str()), g);
        } else {
            EXPECT_THROW(guid(c.text), std::invalid_argument);
        }
    }
}

TEST(Guid, FieldsLandInTheirPlaces) {
    const Guid g = guid("{01234567-89AB-CDEF-0123-456789ABCDEF}");
    EXPECT_EQ(g.data1, 0x01234567u);
    EXPECT_EQ(g.data2, 0x89ABu);
    EXPECT_EQ(g.data3, 0xCDEFu);
    const std::array<uint8_t, 8> tail{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    EXPECT_EQ(g.data4, tail);
}

TEST(Guid, WellKnownInterfaces) {
    EXPECT_EQ(IID_IUnknown.str(), "{00000000-0000-0000-C000-000000000046}");
    EXPECT_EQ(IID_IDispatch.str(), "{00020400-0000-0000-C000-000000000046}");
    EXPECT_NE(IID_IErrorSource, IID_IUnknown);
    EXPECT_NE(IID_IErrorSource, IID_IDispatch);
}

TEST(Status, HexAndDescriptions) {
    const struct {
        HRESULT h;
        const char* hex;
        const char* text;
    } cases[] = {
        {S_OK, "00000000", "The operation completed successfully"},
        {REGDB_E_CLASSNOTREG, "80040154", "Class not registered"},
        {E_NOINTERFACE, "80004002", "No such interface supported"},
        {E_FAIL, "80004005", "Unspecified error"},
        {E_MOD_NOT_FOUND, "8007007E", "The specified module could not be found"},
        {CLASS_E_CLASSNOTAVAILABLE, "80040111", "ClassFactory cannot supply requested class"},
        {E_INVALIDARG, "80070057", "The parameter is incorrect"},
        {E_OUTOFMEMORY, "8007000E", "Out of memory"},
        {E_NOTIMPL, "80004001", "Not implemented"},
        {E_ACCESSDENIED, "80070005", "Access is denied"},
        {hr(0x80041234), "80041234", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hex);
        EXPECT_EQ(hex(c.h), c.hex);
        EXPECT_EQ(describe(c.h), c.text);
    }
    // Every code the registry reports has a text of its own.
    for (HRESULT h :
         {CO_E_BADPATH, CO_E_ERRORINDLL, RPC_E_SERVERFAULT, E_POINTER, E_UNEXPECTED, RPC_E_TIMEOUT})
        EXPECT_FALSE(describe(h).empty()) << hex(h);
}

// -------------------------------------------------------------- layer strings

TEST(LayerString, RoundTrips) {
    const struct {
        std::string utf8;
        std::u16string utf16;
    } cases[] = {
        {"", u""},
        {"Connect OK", u"Connect OK"},
        {"Grüße, 5 €", u"Grüße, 5 €"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},  // outside the basic plane: a surrogate pair
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {std::string("\0", 1), std::u16string(u"\0", 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(utf8_to_utf16(c.utf8), c.utf16);
        EXPECT_EQ(utf16_to_utf8(c.utf16), c.utf8);

        Bstr b(c.utf8);
        ASSERT_NE(b.get(), nullptr);
        EXPECT_EQ(b.size(), c.utf16.size());
        EXPECT_EQ(std::u16string(b.get(), b.size()), c.utf16);
        EXPECT_EQ(b.get()[b.size()], u'\0');  // terminated after the counted units
        uint32_t prefix = 0;
        std::memcpy(&prefix, reinterpret_cast<const char*>(b.get()) - sizeof prefix, sizeof prefix);
        EXPECT_EQ(prefix, c.utf16.size() * 2);  // byte length
        EXPECT_EQ(b.utf8(), c.utf8);
    }
}

TEST(LayerString, InvalidUtf8IsReplaced) {
    const std::u16string r(1, u'\xFFFD');
    const struct {
        std::string in;
        std::u16string out;
    } cases[] = {
        {"\xFF", r},
        {"a\x80"
         "b",
         u"a" + r + u"b"},                    // stray continuation byte
        {"\xC0\xAF", r + r},                  // overlong form
        {"\xE0\x80\xAF", r + r + r},          // overlong three-byte form
        {"\xED\xA0\x80", r + r + r},          // encoded surrogate
        {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
        {"\xE2\x82", r},                      // cut short at the end
        {"\xE2\x82"
         "A",
         r + u"A"},  // cut short by an ASCII byte
        {"\xF0\x9F\x98", r},
        {"\xF5\x80", r + r},
        {"ok\xC3", u"ok" + r},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.in));
        EXPECT_EQ(utf8_to_utf16(c.in), c.out);
    }
}

TEST(LayerString, UnpairedSurrogatesAreReplaced) {
    const std::string r = "\xEF\xBF\xBD";
    const struct {
        std::u16string in;
        std::string out;
    } cases[] = {
        {std::u16string(1, u'\xD800'), r},
        {std::u16string(1, u'\xDC00'), r},
        {std::u16string{u'\xD83D', u'A'}, r + "A"},
        {std::u16string{u'\xDE00', u'\xD83D'}, r + r},
    };
    for (const auto& c : cases) EXPECT_EQ(utf16_to_utf8(c.in), c.out);
}

TEST(LayerString, NullIsTheEmptyString) {
    EXPECT_EQ(string_len(nullptr), 0u);
    EXPECT_EQ(to_utf8(nullptr), "");
    free_string(nullptr);  // harmless
    Bstr empty;
    EXPECT_EQ(empty.get(), nullptr);
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_EQ(empty.utf8(), "");
}

TEST(LayerString, AllocatesFromNullCharsAsZeros) {
    BSTR s = monvia_sys_alloc_string_len(nullptr, 3);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(string_len(s), 3u);
    EXPECT_EQ(std::u16string(s, 3), std::u16string(3, u'\0'));
    free_string(s);
    // A length whose byte count cannot be stored is refused, not wrapped.
    EXPECT_EQ(monvia_sys_alloc_string_len(u"x", 0x80000000u), nullptr);
}

TEST(LayerString, OwnerMovesAndTakesReplacements) {
    Bstr a("first");
    Bstr b(std::move(a));
    EXPECT_EQ(a.get(), nullptr);
    EXPECT_EQ(b.utf8(), "first");
    // A callee replacing an in/out string frees the old one and hands over the new.
    BSTR* slot = b.inout();
    free_string(*slot);
    *slot = alloc_utf8("second");
    EXPECT_EQ(b.utf8(), "second");
    Bstr c("third");
    b = std::move(c);
    EXPECT_EQ(b.utf8(), "third");
    EXPECT_EQ(c.get(), nullptr);
}

// ----------------------------------------------------------- reference counts

// Counts without owning: the test object lives on the stack.
struct Counted final : IUnknown {
    int refs = 1;
    HRESULT QueryInterface(const Guid& iid, void** object) override {
        if (iid != IID_IUnknown) return E_NOINTERFACE;
        *object = this;
        ++refs;
        return S_OK;
    }
    uint32_t AddRef() override { return static_cast<uint32_t>(++refs); }
    uint32_t Release() override { return static_cast<uint32_t>(--refs); }
};

TEST(ComPtr, CountsReferences) {
    Counted obj;
    {
        auto a = ComPtr<IUnknown>::attach(&obj);  // takes the existing reference
        EXPECT_EQ(obj.refs, 1);
        {
            ComPtr<IUnknown> copy = a;
            EXPECT_EQ(obj.refs, 2);
            ComPtr<IUnknown> moved = std::move(copy);
            EXPECT_EQ(obj.refs, 2);
            EXPECT_FALSE(copy);
            EXPECT_EQ(moved.get(), &obj);
        }
        EXPECT_EQ(obj.refs, 1);

        ComPtr<IUnknown> other;
        other = a;
        EXPECT_EQ(obj.refs, 2);
        // Self-assignment keeps the count (through a second name, as it
        // happens in real code, e.g. a[i] = a[j] with i == j).
        const ComPtr<IUnknown>& same = other;
        other = same;
        EXPECT_EQ(obj.refs, 2);
        other = nullptr;
        EXPECT_EQ(obj.refs, 1);

        ComPtr<IUnknown> slot = a;
        EXPECT_EQ(obj.refs, 2);
        void** out = slot.put_void();  // drops what it held first
        EXPECT_EQ(obj.refs, 1);
        EXPECT_EQ(*out, nullptr);
        ASSERT_EQ(obj.QueryInterface(IID_IUnknown, out), S_OK);
        EXPECT_EQ(obj.refs, 2);
        slot.reset();
        EXPECT_EQ(obj.refs, 1);
        slot.reset();  // a second reset is harmless
        EXPECT_EQ(obj.refs, 1);
    }
    EXPECT_EQ(obj.refs, 0);

    obj.refs = 1;
    auto d = ComPtr<IUnknown>::attach(&obj);
    IUnknown* raw = d.detach();
    EXPECT_EQ(raw, &obj);
    EXPECT_FALSE(d);
    EXPECT_EQ(obj.refs, 1);  // the reference went with the raw pointer
}

// ------------------------------------------------------------------ registry

// The files and directories the tests make get the usual modes whatever the
// umask the tests run under: the registry refuses group-writable ones.
[[maybe_unused]] const mode_t kOldUmask = ::umask(022);

const fs::path kServer = MONVIA_TEST_SERVER;
const fs::path kNoExport = MONVIA_NO_EXPORT_SERVER;
const fs::path kTrap = MONVIA_CWD_TRAP_SERVER;

// Runs the creation and returns the Failure it threw.
Failure creation_failure(ClassRegistry& registry, const Guid& clsid, const Guid& iid = IID_ITestWidget) {
    try {
        void* p = registry.create_instance(clsid, iid);
        static_cast<IUnknown*>(p)->Release();
    } catch (const Failure& f) {
        return f;
    }
    ADD_FAILURE() << "the creation succeeded";
    return Failure(0, "");
}

void expect_mentions(const std::string& text, const std::vector<std::string>& parts) {
    for (const auto& p : parts)
        EXPECT_NE(text.find(p), std::string::npos) << "\"" << text << "\" lacks \"" << p << "\"";
}

TEST(Registry, CreatesFromALibraryRegisteredByAbsolutePath) {
    ClassRegistry registry;
    registry.register_library(CLSID_TestWidget, kServer);
    auto w = registry.create<ITestWidget>(CLSID_TestWidget, IID_ITestWidget);
    ASSERT_TRUE(w);
    int32_t sum = 0;
    ASSERT_EQ(w->Add(2, 40, &sum), S_OK);
    EXPECT_EQ(sum, 42);
    {
        auto second = registry.create<ITestWidget>(CLSID_TestWidget, IID_IUnknown);
        int32_t live = 0;
        ASSERT_EQ(w->LiveCount(&live), S_OK);
        EXPECT_EQ(live, 2);
    }
    int32_t live = 0;
    ASSERT_EQ(w->LiveCount(&live), S_OK);
    EXPECT_EQ(live, 1);  // the second one was released with its pointer
}

TEST(Registry, InProcessFactoriesComeFirstAndCanBeRemoved) {
    Counted obj;
    obj.refs = 0;
    ClassRegistry registry;
    registry.register_library(CLSID_TestWidget, kServer);
    registry.register_factory(CLSID_TestWidget,
                              [&](const Guid& iid, void** out) { return obj.QueryInterface(iid, out); });
    {
        auto p = registry.create<IUnknown>(CLSID_TestWidget, IID_IUnknown);
        EXPECT_EQ(p.get(), &obj);
        EXPECT_EQ(obj.refs, 1);
    }
    EXPECT_EQ(obj.refs, 0);
    // The factory's own refusal reaches the caller with its code.
    const Failure f = creation_failure(registry, CLSID_TestWidget, IID_IDispatch);
    EXPECT_EQ(f.number(), E_NOINTERFACE);

    registry.unregister(CLSID_TestWidget);
    EXPECT_EQ(creation_failure(registry, CLSID_TestWidget).number(), REGDB_E_CLASSNOTREG);
}

TEST(Registry, RefusedCasesSayWhy) {
    TempDir dir;
    const fs::path not_a_library = dir.path() / "libtext.so";
    std::ofstream(not_a_library) << "this is not a library\n";
    const fs::path missing = dir.path() / "gone" / "libgone.so";

    const struct {
        const char* name;
        std::optional<fs::path> library;  // nothing: not registered at all
        Guid clsid;
        Guid iid;
        HRESULT number;
        std::vector<std::string> mentions;
    } cases[] = {
        {"unregistered",
         std::nullopt,
         CLSID_Nobody,
         IID_ITestWidget,
         REGDB_E_CLASSNOTREG,
         {"Class not registered", CLSID_Nobody.str()}},
        {"class not provided",
         kServer,
         CLSID_Nobody,
         IID_ITestWidget,
         CLASS_E_CLASSNOTAVAILABLE,
         {"ClassFactory cannot supply requested class", kServer.string(), CLSID_Nobody.str()}},
        {"interface not supported",
         kServer,
         CLSID_TestWidget,
         IID_IDispatch,
         E_NOINTERFACE,
         {"No such interface supported", IID_IDispatch.str()}},
        {"missing library",
         missing,
         CLSID_TestWidget,
         IID_ITestWidget,
         E_MOD_NOT_FOUND,
         {"The specified module could not be found", missing.string()}},
        {"relative path",
         fs::path("lib/libwidget.so"),
         CLSID_TestWidget,
         IID_ITestWidget,
         CO_E_BADPATH,
         {"lib/libwidget.so", "absolute"}},
        {"bare name",
         fs::path("libwidget.so"),
         CLSID_TestWidget,
         IID_ITestWidget,
         CO_E_BADPATH,
         {"libwidget.so", "absolute"}},
        {"no export",
         kNoExport,
         CLSID_TestWidget,
         IID_ITestWidget,
         CO_E_ERRORINDLL,
         {kNoExport.string(), "MonviaCreateInstance"}},
        {"not a library",
         not_a_library,
         CLSID_TestWidget,
         IID_ITestWidget,
         CO_E_ERRORINDLL,
         {not_a_library.string(), "could not be loaded"}},
        {"a directory",
         dir.path(),
         CLSID_TestWidget,
         IID_ITestWidget,
         CO_E_ERRORINDLL,
         {dir.path().string()}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClassRegistry registry;
        if (c.library) registry.register_library(c.clsid, *c.library);
        const Failure f = creation_failure(registry, c.clsid, c.iid);
        EXPECT_EQ(f.number(), c.number) << hex(f.number()) << " " << f.description();
        expect_mentions(f.description(), c.mentions);
        // The second attempt reports the same (a library stays loaded).
        EXPECT_EQ(creation_failure(registry, c.clsid, c.iid).number(), c.number);
    }
}

TEST(Registry, NeverLoadsARelativeNameFromTheWorkingDirectory) {
    TempDir dir;
    const fs::path placed = dir.path() / kTrap.filename();
    fs::copy_file(kTrap, placed);
    ScopedEnv clear("MONVIA_CWD_TRAP_LOADED", nullptr);
    ScopedCwd cwd(dir.path());

    for (const fs::path& name : {kTrap.filename(), fs::path(".") / kTrap.filename()}) {
        SCOPED_TRACE(name.string());
        // Both as a direct registration and through an entry file.
        ClassRegistry direct;
        direct.register_library(CLSID_TestWidget, name);
        EXPECT_EQ(creation_failure(direct, CLSID_TestWidget).number(), CO_E_BADPATH);

        TempDir entries;
        std::ofstream(entries.path() / (CLSID_TestWidget.str() + ".class"))
            << "library=" << name.string() << "\n";
        ClassRegistry from_entry(entries.path());
        const Failure f = creation_failure(from_entry, CLSID_TestWidget);
        EXPECT_EQ(f.number(), CO_E_BADPATH);
        expect_mentions(f.description(), {name.string()});
    }
    EXPECT_EQ(getenv("MONVIA_CWD_TRAP_LOADED"), nullptr);
    EXPECT_EQ(dlopen(placed.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST(Registry, ReadsEntryFilesFromItsDirectory) {
    TempDir dir;
    ClassRegistry::write_entry(dir.path(), CLSID_TestWidget, kServer);
    std::ifstream in(dir.path() / "{A1C4E2B7-3D58-4F0A-9B61-2E7D8C5F1A34}.class");
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "library=" + kServer.string() + "\n");

    ClassRegistry registry(dir.path());
    EXPECT_EQ(registry.entry_directory(), dir.path());
    auto w = registry.create<ITestWidget>(CLSID_TestWidget, IID_ITestWidget);
    int32_t sum = 0;
    ASSERT_EQ(w->Add(-5, 3, &sum), S_OK);
    EXPECT_EQ(sum, -2);
}

TEST(Registry, EntryFileForms) {
    const std::string server = kServer.string();
    const struct {
        const char* name;
        std::string file_name;
        std::string content;
        HRESULT number;  // S_OK: the class is created
    } cases[] = {
        {"written by hand, lower case, no braces", "a1c4e2b7-3d58-4f0a-9b61-2e7d8c5f1a34.class",
         "# test widget\r\n\r\n  library = " + server + "  \r\n", S_OK},
        {"unknown keys are skipped", CLSID_TestWidget.str() + ".class",
         "threading=apartment\nlibrary=" + server, S_OK},
        {"no library line", CLSID_TestWidget.str() + ".class", "threading=apartment\n", REGDB_E_CLASSNOTREG},
        {"empty library", CLSID_TestWidget.str() + ".class", "library=\n", REGDB_E_CLASSNOTREG},
        {"empty file", CLSID_TestWidget.str() + ".class", "", REGDB_E_CLASSNOTREG},
        {"relative library", CLSID_TestWidget.str() + ".class", "library=libwidget.so\n", CO_E_BADPATH},
        {"another class's entry", CLSID_Nobody.str() + ".class", "library=" + server + "\n",
         REGDB_E_CLASSNOTREG},
        {"not an entry name", "widget.class", "library=" + server + "\n", REGDB_E_CLASSNOTREG},
        {"wrong extension", CLSID_TestWidget.str() + ".txt", "library=" + server + "\n", REGDB_E_CLASSNOTREG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::ofstream(dir.path() / c.file_name, std::ios::binary) << c.content;
        ClassRegistry registry(dir.path());
        if (c.number == S_OK) {
            auto w = registry.create<ITestWidget>(CLSID_TestWidget, IID_ITestWidget);
            EXPECT_TRUE(w);
        } else {
            const Failure f = creation_failure(registry, CLSID_TestWidget);
            EXPECT_EQ(f.number(), c.number) << f.description();
            EXPECT_FALSE(f.description().empty());
        }
    }
}

TEST(Registry, WriteEntryRefusesARelativeLibrary) {
    TempDir dir;
    try {
        ClassRegistry::write_entry(dir.path(), CLSID_TestWidget, "libwidget.so");
        ADD_FAILURE() << "a relative library was written";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), CO_E_BADPATH);
        expect_mentions(f.description(), {"libwidget.so", "absolute"});
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
    // The directory is made when it does not exist yet.
    ClassRegistry::write_entry(dir.path() / "a" / "b", CLSID_TestWidget, kServer);
    EXPECT_TRUE(fs::exists(dir.path() / "a" / "b" / (CLSID_TestWidget.str() + ".class")));
}

TEST(Registry, DefaultEntryDirectory) {
    const struct {
        const char* override_dir;
        const char* xdg;
        const char* home;
        fs::path expected;
    } cases[] = {
        {"/opt/reg", "/x", "/h", "/opt/reg"},
        {"", "/x", "/h", "/x/monvia/classes"},  // an empty override does not count
        {nullptr, "/x", "/h", "/x/monvia/classes"},
        {nullptr, "relative", "/h", "/h/.config/monvia/classes"},  // a relative XDG_CONFIG_HOME is ignored
        {nullptr, nullptr, "/h", "/h/.config/monvia/classes"},
        {nullptr, "", "/home/u", "/home/u/.config/monvia/classes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.string());
        ScopedEnv a("MONVIA_CLASS_REGISTRY", c.override_dir);
        ScopedEnv b("XDG_CONFIG_HOME", c.xdg);
        ScopedEnv h("HOME", c.home);
        EXPECT_EQ(ClassRegistry::default_entry_directory(), c.expected);
    }
}

TEST(Registry, OverrideDirectoryIsUsed) {
    TempDir dir;
    ClassRegistry::write_entry(dir.path(), CLSID_TestWidget, kServer);
    ScopedEnv over("MONVIA_CLASS_REGISTRY", dir.path().c_str());
    ClassRegistry registry(ClassRegistry::default_entry_directory());
    EXPECT_TRUE(registry.create<ITestWidget>(CLSID_TestWidget, IID_ITestWidget));
    // With the override gone the class is unknown again.
    ScopedEnv gone("MONVIA_CLASS_REGISTRY", nullptr);
    TempDir empty_home;
    ScopedEnv home("HOME", empty_home.path().c_str());
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ClassRegistry plain(ClassRegistry::default_entry_directory());
    EXPECT_EQ(creation_failure(plain, CLSID_TestWidget).number(), REGDB_E_CLASSNOTREG);
}

TEST(Registry, SearchOrderFollowsTheXdgRules) {
    using Kind = ClassRegistry::EntryDirectory::Kind;
    const struct {
        const char* name;
        const char* override_dir;
        const char* config_dirs;
        const char* data_dirs;
        std::vector<std::pair<Kind, fs::path>> expected;
    } cases[] = {
        {"override alone", "/opt/reg", "/etc/a", "/usr/a", {{Kind::Override, "/opt/reg"}}},
        {"defaults",
         nullptr,
         nullptr,
         nullptr,
         {{Kind::User, "/h/.config/monvia/classes"},
          {Kind::Administrator, "/etc/xdg/monvia/classes"},
          {Kind::PackagedDefault, "/usr/local/share/monvia/classes"},
          {Kind::PackagedDefault, "/usr/share/monvia/classes"}}},
        {"lists in their order; relative and empty members skipped, repeats searched once",
         "",
         "/etc/b::rel:/etc/a/",
         "/x/share:/etc/b:/x/share",
         {{Kind::User, "/h/.config/monvia/classes"},
          {Kind::Administrator, "/etc/b/monvia/classes"},
          {Kind::Administrator, "/etc/a/monvia/classes"},
          {Kind::PackagedDefault, "/x/share/monvia/classes"}}},
        {"lists naming nothing usable fall back to the defaults",
         nullptr,
         "relative",
         ":",
         {{Kind::User, "/h/.config/monvia/classes"},
          {Kind::Administrator, "/etc/xdg/monvia/classes"},
          {Kind::PackagedDefault, "/usr/local/share/monvia/classes"},
          {Kind::PackagedDefault, "/usr/share/monvia/classes"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv a("MONVIA_CLASS_REGISTRY", c.override_dir);
        ScopedEnv b("XDG_CONFIG_HOME", nullptr);
        ScopedEnv h("HOME", "/h");
        ScopedEnv d("XDG_CONFIG_DIRS", c.config_dirs);
        ScopedEnv e("XDG_DATA_DIRS", c.data_dirs);
        std::vector<std::pair<Kind, fs::path>> got;
        for (const auto& dir : ClassRegistry::entry_directories()) got.emplace_back(dir.kind, dir.path);
        EXPECT_EQ(got, c.expected);
    }
}

TEST(Registry, FirstEntryFoundWins) {
    // Each place holds an entry or not; an entry names the working server or
    // a library that is not there, so the outcome tells which entry was read.
    enum Entry { None, Works, Missing };
    const struct {
        const char* name;
        Entry user, admin, packaged;
        HRESULT number;  // S_OK: created
    } cases[] = {
        {"packaged default alone", None, None, Works, S_OK},
        {"administrator before packaged default", None, Missing, Works, E_MOD_NOT_FOUND},
        {"administrator over a broken packaged default", None, Works, Missing, S_OK},
        {"user before administrator", Missing, Works, Works, E_MOD_NOT_FOUND},
        {"user over both", Works, Missing, Missing, S_OK},
        {"nowhere", None, None, None, REGDB_E_CLASSNOTREG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        ScopedEnv a("MONVIA_CLASS_REGISTRY", nullptr);
        ScopedEnv b("XDG_CONFIG_HOME", (root.path() / "home").c_str());
        ScopedEnv d("XDG_CONFIG_DIRS", (root.path() / "etc").c_str());
        ScopedEnv e("XDG_DATA_DIRS",
                    ((root.path() / "empty").string() + ":" + (root.path() / "share").string()).c_str());
        const std::pair<Entry, fs::path> places[] = {{c.user, root.path() / "home"},
                                                     {c.admin, root.path() / "etc"},
                                                     {c.packaged, root.path() / "share"}};
        for (const auto& [entry, base] : places)
            if (entry != None)
                ClassRegistry::write_entry(base / "monvia" / "classes", CLSID_TestWidget,
                                           entry == Works ? kServer : root.path() / "gone.so");
        std::vector<fs::path> dirs;
        for (const auto& d : ClassRegistry::entry_directories()) dirs.push_back(d.path);
        ClassRegistry registry(dirs);
        if (c.number == S_OK) {
            EXPECT_TRUE(registry.create<ITestWidget>(CLSID_TestWidget, IID_ITestWidget));
        } else {
            const Failure f = creation_failure(registry, CLSID_TestWidget);
            EXPECT_EQ(f.number(), c.number) << f.description();
            if (c.number == REGDB_E_CLASSNOTREG)
                // Every place searched, in order, and how to register.
                expect_mentions(f.description(), {"Class not registered", CLSID_TestWidget.str() + ".class",
                                                  (root.path() / "home/monvia/classes").string() + ", " +
                                                      (root.path() / "etc/monvia/classes").string() + ", " +
                                                      (root.path() / "empty/monvia/classes").string() + ", " +
                                                      (root.path() / "share/monvia/classes").string(),
                                                  "monvia-register /"});
        }
    }
}

TEST(Registry, ProcessRegistryIsOne) { EXPECT_EQ(&ClassRegistry::process(), &ClassRegistry::process()); }

TEST(Registry, CreatesFromManyThreads) {
    ClassRegistry registry;
    registry.register_library(CLSID_TestWidget, kServer);
    std::atomic<int> made{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (t == 0 && i % 10 == 0) registry.register_library(CLSID_Nobody, kServer);
                try {
                    auto w = registry.create<ITestWidget>(t % 2 ? CLSID_TestWidget : CLSID_Nobody,
                                                          IID_ITestWidget);
                    if (w) ++made;
                } catch (const Failure&) {
                    ++refused;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(made.load(), 400);
    EXPECT_EQ(refused.load(), 400);
}

// ------------------------------------------------- registry: safe locations

// A registry layout of its own: <root>/entries/<clsid>.class naming
// <root>/lib/<copy of the test server>, all owned by the user, mode 0755/0644,
// and an empty <root>/open for what the cases make writable by all.
struct Layout {
    TempDir root;
    fs::path entries = root.path() / "entries";
    fs::path lib_dir = root.path() / "lib";
    fs::path open_dir = root.path() / "open";
    fs::path library = lib_dir / kServer.filename();
    fs::path entry = entries / (CLSID_TestWidget.str() + ".class");

    Layout() {
        fs::create_directories(entries);
        fs::create_directories(lib_dir);
        fs::create_directories(open_dir);
        fs::permissions(entries, fs::perms(0755));
        fs::permissions(lib_dir, fs::perms(0755));
        fs::copy_file(kServer, library);
        fs::permissions(library, fs::perms(0755));
        point_at(library);
    }
    void point_at(const fs::path& lib) {
        std::ofstream(entry, std::ios::trunc) << "library=" << lib.string() << "\n";
        fs::permissions(entry, fs::perms(0644));
    }
};

void chmod_or_fail(const fs::path& p, mode_t mode) { ASSERT_EQ(::chmod(p.c_str(), mode), 0) << p; }

TEST(RegistrySafety, PathsOthersCanChangeAreRefused) {
    const struct {
        const char* name;
        std::function<fs::path(Layout&)> arrange;  // gives the path the failure must end with
        std::vector<std::string> mentions;         // empty: the class is created
    } cases[] = {
        {"all in order", [](Layout&) { return fs::path(); }, {}},
        {"entry directory writable by all",
         [](Layout& l) {
             chmod_or_fail(l.entries, 0777);
             return l.entries;
         },
         {"the registration entry directory can be changed by users other than its owner (mode 0777)"}},
        {"entry directory writable by its group",
         [](Layout& l) {
             chmod_or_fail(l.entries, 0775);
             return l.entries;
         },
         {"the registration entry directory can be changed", "(mode 0775)"}},
        {"entry directory sticky and writable by all",
         [](Layout& l) {
             chmod_or_fail(l.entries, 01777);
             return l.entries;
         },
         {"the registration entry directory can be changed", "(mode 1777)"}},
        {"a directory above the entries writable by all",
         [](Layout& l) {
             chmod_or_fail(l.root.path(), 0777);
             return l.root.path();
         },
         {"a directory on the path of the registration entry directory can be changed", "(mode 0777)"}},
        {"entry file writable by all",
         [](Layout& l) {
             chmod_or_fail(l.entry, 0666);
             return l.entry;
         },
         {"the registration entry can be changed by users other than its owner (mode 0666)"}},
        {"entry file writable by its group",
         [](Layout& l) {
             chmod_or_fail(l.entry, 0664);
             return l.entry;
         },
         {"(mode 0664)"}},
        {"library writable by all",
         [](Layout& l) {
             chmod_or_fail(l.library, 0777);
             return l.library;
         },
         {"the server library can be changed by users other than its owner (mode 0777)"}},
        {"library's directory writable by all",
         [](Layout& l) {
             chmod_or_fail(l.lib_dir, 0777);
             return l.lib_dir;
         },
         {"a directory on the path of the server library can be changed", "(mode 0777)"}},
        // Like /tmp: nobody else can replace the user's own file in it.
        {"library's directory sticky and writable by all",
         [](Layout& l) {
             chmod_or_fail(l.lib_dir, 01777);
             return fs::path();
         },
         {}},
        // A link is only as safe as the directory it lies in...
        {"link to the library in a directory writable by all",
         [](Layout& l) {
             fs::create_symlink(l.library, l.open_dir / "link.so");
             l.point_at(l.open_dir / "link.so");
             return l.open_dir;
         },
         {"a directory on the path of the server library can be changed", "(mode 0777)"}},
        // ... and so is its target.
        {"safe link to a library in a directory writable by all",
         [](Layout& l) {
             fs::copy_file(l.library, l.open_dir / "real.so");
             fs::create_symlink(l.open_dir / "real.so", l.lib_dir / "link.so");
             l.point_at(l.lib_dir / "link.so");
             return l.open_dir;
         },
         {"a directory on the path of the server library can be changed", "(mode 0777)"}},
        {"entry file is a link into a directory writable by all",
         [](Layout& l) {
             fs::rename(l.entry, l.open_dir / "real.class");
             fs::create_symlink(l.open_dir / "real.class", l.entry);
             return l.open_dir;
         },
         {"a directory on the path of the registration entry can be changed", "(mode 0777)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Layout layout;
        const fs::path where = c.arrange(layout);
        chmod_or_fail(layout.open_dir, 0777);  // used only by the cases that link through it
        ClassRegistry registry(layout.entries);
        if (c.mentions.empty()) {
            EXPECT_TRUE(registry.create<ITestWidget>(CLSID_TestWidget, IID_ITestWidget));
            continue;
        }
        const Failure f = creation_failure(registry, CLSID_TestWidget);
        EXPECT_EQ(f.number(), E_ACCESSDENIED) << f.description();
        expect_mentions(f.description(), c.mentions);
        const std::string tail = ": \"" + where.string() + "\"";
        EXPECT_TRUE(f.description().ends_with(tail)) << f.description() << " does not end with " << tail;
        EXPECT_EQ(f.description().rfind("Access is denied: ", 0), 0u) << f.description();
        fs::permissions(layout.root.path(), fs::perms(0700));  // so that the clean-up can remove it
    }
}

// Owned by someone else (neither the user nor root): only root can arrange it.
TEST(RegistrySafety, PathsOwnedByOthersAreRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
    const uid_t other = 65534;  // nobody
    const struct {
        const char* name;
        std::function<fs::path(Layout&)> target;
        const char* cause;
    } cases[] = {
        {"entry directory", [](Layout& l) { return l.entries; },
         "the registration entry directory belongs to user 65534"},
        {"entry file", [](Layout& l) { return l.entry; }, "the registration entry belongs to user 65534"},
        {"library", [](Layout& l) { return l.library; }, "the server library belongs to user 65534"},
        {"library's directory", [](Layout& l) { return l.lib_dir; },
         "a directory on the path of the server library belongs to user 65534"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Layout layout;
        const fs::path target = c.target(layout);
        ASSERT_EQ(::chown(target.c_str(), other, static_cast<gid_t>(-1)), 0);
        ClassRegistry registry(layout.entries);
        const Failure f = creation_failure(registry, CLSID_TestWidget);
        EXPECT_EQ(f.number(), E_ACCESSDENIED) << f.description();
        expect_mentions(f.description(), {c.cause, ", not to you or root: \"" + target.string() + "\""});
        EXPECT_TRUE(f.description().ends_with("\"" + target.string() + "\"")) << f.description();
    }
    // In a sticky directory writable by all, another user's library is still refused.
    Layout sticky;
    chmod_or_fail(sticky.lib_dir, 01777);
    ASSERT_EQ(::chown(sticky.library.c_str(), other, static_cast<gid_t>(-1)), 0);
    ClassRegistry registry(sticky.entries);
    expect_mentions(creation_failure(registry, CLSID_TestWidget).description(), {"belongs to user 65534"});
}

// The build's own registry (the cash device simulator's entry and library)
// is in a safe place, and so is a library registered directly.
TEST(RegistrySafety, TheBuildsRegistryPasses) {
    Layout layout;
    ClassRegistry direct;
    direct.register_library(CLSID_TestWidget, layout.library);
    EXPECT_TRUE(direct.create<ITestWidget>(CLSID_TestWidget, IID_ITestWidget));
    chmod_or_fail(layout.library, 0757);
    ClassRegistry refused;
    refused.register_library(CLSID_TestWidget, layout.library);
    EXPECT_EQ(creation_failure(refused, CLSID_TestWidget).number(), E_ACCESSDENIED);
}

// ------------------------------------------------- registry: failure causes

// Every failure names its cause first and the path it concerns last; a very
// long path is shortened in the middle.
TEST(Registry, FailuresNameTheCauseFirstAndThePathLast) {
    TempDir dir;
    const std::string long_name(60 * 1024, 'a');
    const fs::path long_library = dir.path() / (long_name + ".so");
    const fs::path long_component = dir.path() / (std::string(300, 'b') + ".so");
    const fs::path entry = dir.path() / (CLSID_TestWidget.str() + ".class");
    const std::string shown_long = "\"" + long_library.string().substr(0, 80) + "\xE2\x80\xA6" +
                                   std::string(77, 'a') + ".so\" (" +
                                   std::to_string(long_library.string().size()) + " bytes)";

    const struct {
        const char* name;
        std::function<void(ClassRegistry&)> arrange;
        HRESULT number;
        std::string text;  // the whole description
    } cases[] = {
        {"a 60 KB library path",
         [&](ClassRegistry& r) { r.register_library(CLSID_TestWidget, long_library); }, CO_E_BADPATH,
         "The path to the class's server is not valid: the server library cannot be found: the name is too "
         "long: " +
             shown_long},
        {"a file name over the limit",
         [&](ClassRegistry& r) { r.register_library(CLSID_TestWidget, long_component); }, CO_E_BADPATH,
         "The path to the class's server is not valid: the server library cannot be found: the name is too "
         "long: " +
             shown_path(long_component)},
        {"a missing library",
         [&](ClassRegistry& r) { r.register_library(CLSID_TestWidget, dir.path() / "gone.so"); },
         E_MOD_NOT_FOUND,
         "The specified module could not be found: the server library does not exist: \"" +
             (dir.path() / "gone.so").string() + "\""},
        {"a library under a file",
         [&](ClassRegistry& r) { r.register_library(CLSID_TestWidget, kServer / "x.so"); }, E_MOD_NOT_FOUND,
         "The specified module could not be found: the server library cannot be found: a part of its path is "
         "not a "
         "directory: \"" +
             (kServer / "x.so").string() + "\""},
        {"a library that is a directory",
         [&](ClassRegistry& r) { r.register_library(CLSID_TestWidget, dir.path()); }, CO_E_ERRORINDLL,
         "Error in the DLL: the server library is not a regular file but a directory: \"" +
             dir.path().string() + "\""},
        {"an entry that is a FIFO", [&](ClassRegistry&) { ASSERT_EQ(mkfifo(entry.c_str(), 0644), 0); },
         REGDB_E_CLASSNOTREG,
         "Class not registered: the registration entry for " + CLSID_TestWidget.str() +
             " is not a regular file but a FIFO: \"" + entry.string() + "\""},
        {"an entry that is a directory", [&](ClassRegistry&) { fs::create_directory(entry); },
         REGDB_E_CLASSNOTREG,
         "Class not registered: the registration entry for " + CLSID_TestWidget.str() +
             " is not a regular file but a directory: \"" + entry.string() + "\""},
        {"a hand-named entry that is a FIFO",
         [&](ClassRegistry&) {
             ASSERT_EQ(mkfifo((dir.path() / "a1c4e2b7-3d58-4f0a-9b61-2e7d8c5f1a34.class").c_str(), 0644), 0);
         },
         REGDB_E_CLASSNOTREG,
         "Class not registered: the registration entry for " + CLSID_TestWidget.str() +
             " is not a regular file but a FIFO: \"" +
             (dir.path() / "a1c4e2b7-3d58-4f0a-9b61-2e7d8c5f1a34.class").string() + "\""},
        {"an entry that is a dangling link",
         [&](ClassRegistry&) { fs::create_symlink(dir.path() / "nowhere", entry); }, REGDB_E_CLASSNOTREG,
         "Class not registered: the registration entry for " + CLSID_TestWidget.str() +
             " cannot be read: it does not exist: \"" + entry.string() + "\""},
        {"an entry too large",
         [&](ClassRegistry&) { fs::resize_file((std::ofstream(entry), entry), 64 * 1024 + 1); },
         REGDB_E_CLASSNOTREG,
         "Class not registered: the registration entry for " + CLSID_TestWidget.str() +
             " is too large to be an entry (over 64 KiB): \"" + entry.string() + "\""},
        {"an entry without a library line",
         [&](ClassRegistry&) { std::ofstream(entry) << "threading=both\n"; }, REGDB_E_CLASSNOTREG,
         "Class not registered: the registration entry for " + CLSID_TestWidget.str() +
             " has no \"library=<absolute path>\" line: \"" + entry.string() + "\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir.path());
        fs::create_directory(dir.path());
        fs::permissions(dir.path(), fs::perms(0700));
        ClassRegistry registry(dir.path());
        c.arrange(registry);
        const Failure f = creation_failure(registry, CLSID_TestWidget);
        EXPECT_EQ(f.number(), c.number) << hex(f.number());
        EXPECT_EQ(f.description(), c.text);
    }
    // Nothing there at all: no entry (the text goes on to say where it looked).
    fs::remove(entry);
    ClassRegistry registry(dir.path());
    const Failure none = creation_failure(registry, CLSID_TestWidget);
    EXPECT_EQ(none.number(), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(none.description().rfind("Class not registered: " + CLSID_TestWidget.str() +
                                           " has no in-process registration and no entry",
                                       0),
              0u)
        << none.description();
}

// An entry directory named by a path too long to use says so.
TEST(Registry, AnEntryDirectoryTooLongToUseSaysSo) {
    const fs::path dir = fs::path("/") / std::string(5000, 'd');
    ClassRegistry registry(dir);
    const Failure f = creation_failure(registry, CLSID_TestWidget);
    EXPECT_EQ(f.number(), REGDB_E_CLASSNOTREG);
    expect_mentions(f.description(),
                    {"the registration entry cannot be reached: the name is too long: \"/ddd", "\xE2\x80\xA6",
                     "ddd/" + CLSID_TestWidget.str() + ".class\" ("});
    EXPECT_LT(f.description().size(), 300u);
}

// --------------------------------------------------------------------- check

// An object that may or may not explain itself.
struct Explaining final : IErrorSource {
    bool offers = true;
    HRESULT answer = S_OK;
    std::string text;
    int refs = 1;
    int taken = 0;
    HRESULT QueryInterface(const Guid& iid, void** object) override {
        *object = nullptr;
        if (iid == IID_IUnknown || (offers && iid == IID_IErrorSource)) {
            *object = this;
            ++refs;
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    uint32_t AddRef() override { return static_cast<uint32_t>(++refs); }
    uint32_t Release() override { return static_cast<uint32_t>(--refs); }
    HRESULT TakeErrorDescription(char16_t** description) override {
        ++taken;
        *description = text.empty() ? nullptr : alloc_utf8(text);
        return answer;
    }
};

TEST(Check, DescriptionComesFromTheObjectOrTheLayer) {
    const struct {
        const char* name;
        bool object;
        bool offers;
        HRESULT answer;
        const char* text;
        HRESULT h;
        const char* expected;
    } cases[] = {
        {"object explains", true, true, S_OK, "Drawer jammed", E_FAIL, "Drawer jammed"},
        {"non-ASCII explanation", true, true, S_OK, "Caja llena: 5 €", hr(0x80040201), "Caja llena: 5 €"},
        {"nothing to say", true, true, S_FALSE, "", E_INVALIDARG, "The parameter is incorrect"},
        {"no error source", true, false, S_OK, "", E_NOTIMPL, "Not implemented"},
        {"empty explanation", true, true, S_OK, "", E_FAIL, "Unspecified error"},
        {"no object", false, false, S_OK, "", REGDB_E_CLASSNOTREG, "Class not registered"},
        {"unknown code", false, false, S_OK, "", hr(0x80041234), "Automation error"},
        {"unknown code, silent object", true, true, S_FALSE, "", hr(0x80041234), "Automation error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Explaining obj;
        obj.offers = c.offers;
        obj.answer = c.answer;
        obj.text = c.text;
        try {
            check(c.h, c.object ? &obj : nullptr);
            ADD_FAILURE() << "check did not throw";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), c.h);
            EXPECT_EQ(f.description(), c.expected);
        }
        EXPECT_EQ(obj.refs, 1);  // the error source reference was given back
    }
}

TEST(Check, SucceedingStatusesPass) {
    Explaining obj;
    EXPECT_NO_THROW(check(S_OK, &obj));
    EXPECT_NO_THROW(check(S_FALSE, &obj));
    EXPECT_NO_THROW(check(S_OK));
    EXPECT_EQ(obj.taken, 0);  // the object is not asked when nothing failed
}

TEST(Check, ExplanationCrossesTheLibraryBoundary) {
    ClassRegistry registry;
    registry.register_library(CLSID_TestWidget, kServer);
    auto w = registry.create<ITestWidget>(CLSID_TestWidget, IID_ITestWidget);
    int32_t sum = 7;
    const HRESULT h = w->Add(2147483647, 1, &sum);
    EXPECT_EQ(sum, 7);
    try {
        check(h, w.get());
        ADD_FAILURE() << "check did not throw";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), E_INVALIDARG);
        EXPECT_EQ(f.description(), "The sum 2147483648 does not fit 32 bits");
    }
}

}  // namespace

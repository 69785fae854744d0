// Tests of monvia-register, run in-process: what it writes, lists and
// removes, and every refusal with its one line and exit code.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "com/registry.h"
#include "register_command.h"
#include "test_support.h"
#include "test_widget.h"

namespace fs = std::filesystem;
using namespace monvia;
using namespace monvia::com;
using namespace monvia::com::testing;

namespace {

const fs::path kServer = MONVIA_TEST_SERVER;
const fs::path kUnlisted = MONVIA_UNLISTED_SERVER;
const fs::path kNoExport = MONVIA_NO_EXPORT_SERVER;

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome run(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = reg::run(args, out, err);
    return {code, out.str(), err.str()};
}

std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

const std::string kWidgetEntry = CLSID_TestWidget.str() + ".class";

// A private registry: the override variable names a fresh directory.
class RegisterTest : public ::testing::Test {
protected:
    TempDir root_;
    fs::path dir_ = root_.path() / "classes";
    ScopedEnv override_{"MONVIA_CLASS_REGISTRY", dir_.c_str()};
};

TEST_F(RegisterTest, RegistersListsAndUnregisters) {
    // The library says which class it serves.
    Outcome r = run({kServer.string()});
    ASSERT_EQ(r.code, reg::kDone) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "registered " + CLSID_TestWidget.str() + " -> " + kServer.string() + " in " +
                         dir_.string() + "\n");
    EXPECT_EQ(names_in(dir_), std::vector<std::string>{kWidgetEntry});
    EXPECT_EQ(read(dir_ / kWidgetEntry), "library=" + kServer.string() + "\n");
    // What was written is what the registry creates from.
    ClassRegistry registry(dir_);
    EXPECT_TRUE(registry.create<ITestWidget>(CLSID_TestWidget, IID_ITestWidget));

    // A library that does not list its classes is registered for the one named.
    r = run({"--class", CLSID_Nobody.str(), kUnlisted.string()});
    ASSERT_EQ(r.code, reg::kDone) << r.err;
    // An entry whose library has gone is listed as such.
    ClassRegistry::write_entry(dir_, guid("{11111111-2222-3333-4444-555555555555}"),
                               root_.path() / "gone.so");
    r = run({"--list"});
    ASSERT_EQ(r.code, reg::kDone) << r.err;
    EXPECT_EQ(r.out, "override (MONVIA_CLASS_REGISTRY): " + dir_.string() + "\n" +
                         "  {11111111-2222-3333-4444-555555555555}  " + (root_.path() / "gone.so").string() +
                         "  (library missing)\n"
                         "  " +
                         CLSID_TestWidget.str() + "  " + kServer.string() + "  (library present)\n" + "  " +
                         CLSID_Nobody.str() + "  " + kUnlisted.string() + "  (library present)\n");

    // By class, and by library: every entry naming it goes.
    r = run({"--unregister", CLSID_TestWidget.str()});
    EXPECT_EQ(r.code, reg::kDone) << r.err;
    EXPECT_EQ(r.out,
              "unregistered " + CLSID_TestWidget.str() + " (" + (dir_ / kWidgetEntry).string() + ")\n");
    r = run({"--unregister", kUnlisted.string()});
    EXPECT_EQ(r.code, reg::kDone) << r.err;
    r = run({"--unregister", (root_.path() / "gone.so").string()});
    EXPECT_EQ(r.code, reg::kDone) << r.err;
    EXPECT_EQ(names_in(dir_), std::vector<std::string>{});
}

TEST_F(RegisterTest, EveryRefusalIsOneLineAndWritesNothing) {
    fs::create_directories(dir_);
    const fs::path text_file = root_.path() / "notes.so";
    std::ofstream(text_file) << "not a library\n";
    const std::string server = kServer.string();
    const struct {
        const char* name;
        std::vector<std::string> args;
        int code;
        std::string says;
    } cases[] = {
        {"relative path", {"libwidget.so"}, reg::kUsage, "\"libwidget.so\" is not an absolute path"},
        {"dot-relative path", {"./lib/x.so"}, reg::kUsage, "is not an absolute path"},
        {"directory",
         {root_.path().string()},
         reg::kLibraryRefused,
         "the server library is not a regular file but a directory: \"" + root_.path().string() + "\""},
        {"not a library", {text_file.string()}, reg::kLibraryRefused, "is not a loadable library: "},
        {"missing file",
         {(root_.path() / "none.so").string()},
         reg::kLibraryRefused,
         "the server library does not exist: \"" + (root_.path() / "none.so").string() + "\""},
        {"library without the creation export",
         {kNoExport.string()},
         reg::kLibraryRefused,
         "does not export MonviaCreateInstance, so it is not a component server"},
        {"library that does not list its classes",
         {kUnlisted.string()},
         reg::kLibraryRefused,
         "does not say which classes it serves"},
        {"class the library does not serve",
         {"--class", CLSID_Nobody.str(), server},
         reg::kLibraryRefused,
         "does not serve the class " + CLSID_Nobody.str()},
        {"not a class identifier",
         {"--class", "{nope}", server},
         reg::kUsage,
         "\"{nope}\" is not a class identifier"},
        {"identifier one digit short",
         {"--class=3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A9", server},
         reg::kUsage,
         "is not a class identifier"},
        {"--class without a value", {server, "--class"}, reg::kUsage, "--class needs a class identifier"},
        {"unknown option", {"--force", server}, reg::kUsage, "unknown option --force"},
        {"a Windows-only option", {"--surrogate"}, reg::kUsage, "--surrogate is for Windows only"},
        {"nothing named", {}, reg::kUsage, "name a library"},
        {"two libraries", {server, server}, reg::kUsage, "name exactly one"},
        {"both scopes",
         {"--user", "--system", server},
         reg::kUsage,
         "--user and --system exclude each other"},
        {"list with more", {"--list", server}, reg::kUsage, "--list takes nothing else"},
        {"unregister what is not there",
         {"--unregister", CLSID_Nobody.str()},
         reg::kRegistryFailed,
         "no entry for " + CLSID_Nobody.str() + " in " + dir_.string()},
        {"unregister a non-identifier",
         {"--unregister", "widget"},
         reg::kUsage,
         "\"widget\" is not a class identifier"},
        {"unregister a relative library",
         {"--unregister", "lib/x.so"},
         reg::kUsage,
         "is not an absolute path"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = run(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("monvia-register: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(names_in(dir_), std::vector<std::string>{});
    }
}

// What the programs would refuse to load or read is refused when
// registering, with the cause they would give and the path it is about.
TEST_F(RegisterTest, RefusesWhatTheProgramsWouldRefuse) {
    const TempDir elsewhere;  // the library, apart from the registry
    const fs::path lib_dir = elsewhere.path() / "lib";
    const fs::path library = lib_dir / "libwidget.so";
    const struct {
        const char* name;
        mode_t lib_dir_mode, library_mode, root_mode;
        bool make_registry;  // the entry directory exists already (mode 0775)
        int code;
        std::string says;
    } cases[] = {
        {"library writable by its group", 0755, 0775, 0700, false, reg::kLibraryRefused,
         "the server library can be changed by users other than its owner (mode 0775): \"" +
             library.string() + "\""},
        {"library writable by all", 0755, 0757, 0700, false, reg::kLibraryRefused,
         "the server library can be changed by users other than its owner (mode 0757): \"" +
             library.string() + "\""},
        {"library's directory writable by all", 0777, 0755, 0700, false, reg::kLibraryRefused,
         "a directory on the path of the server library can be changed by users other than its owner "
         "(mode 0777): \"" +
             lib_dir.string() + "\""},
        {"entry directory writable by its group", 0755, 0755, 0700, true, reg::kRegistryFailed,
         "the registration entry directory can be changed by users other than its owner (mode 0775): \"" +
             dir_.string() + "\""},
        {"entry directory still to be made in one writable by all", 0755, 0755, 0777, false,
         reg::kRegistryFailed,
         "a directory on the path of the registration entry directory can be changed by users other than "
         "its owner (mode 0777): \"" +
             root_.path().string() + "\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(lib_dir);
        fs::remove_all(dir_);
        fs::create_directories(lib_dir);
        fs::copy_file(kServer, library);
        ASSERT_EQ(::chmod(library.c_str(), c.library_mode), 0);
        ASSERT_EQ(::chmod(lib_dir.c_str(), c.lib_dir_mode), 0);
        if (c.make_registry) {
            fs::create_directories(dir_);
            ASSERT_EQ(::chmod(dir_.c_str(), 0775), 0);
        }
        ASSERT_EQ(::chmod(root_.path().c_str(), c.root_mode), 0);
        const Outcome r = run({library.string()});
        ASSERT_EQ(::chmod(root_.path().c_str(), 0700), 0);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "monvia-register: " + c.says + "\n");
        EXPECT_EQ(c.make_registry ? names_in(dir_) : std::vector<std::string>{}, std::vector<std::string>{});
        EXPECT_EQ(fs::exists(dir_), c.make_registry);
    }
}

// Under a umask that lets the group write, the directories made for the
// entry are still the owner's alone, so the programs read what was written.
TEST_F(RegisterTest, DirectoriesItMakesAreSafeWhateverTheUmask) {
    const mode_t old = ::umask(002);
    const Outcome r = run({kServer.string()});
    ::umask(old);
    ASSERT_EQ(r.code, reg::kDone) << r.err;
    EXPECT_EQ(fs::status(dir_).permissions(), fs::perms(0755));
    ClassRegistry registry(dir_);
    EXPECT_TRUE(registry.create<ITestWidget>(CLSID_TestWidget, IID_ITestWidget));
}

// The list marks every entry the programs would refuse, with the cause.
TEST_F(RegisterTest, ListMarksWhatTheProgramsWouldRefuse) {
    const fs::path library = root_.path() / "libwidget.so";
    fs::copy_file(kServer, library);
    ASSERT_EQ(::chmod(library.c_str(), 0775), 0);
    ClassRegistry::write_entry(dir_, CLSID_TestWidget, library);
    // A directory in an entry's place is found by the lookup, and refused.
    const Guid other = guid("{11111111-2222-3333-4444-555555555555}");
    fs::create_directories(dir_ / (other.str() + ".class"));
    const Outcome r = run({"--list"});
    ASSERT_EQ(r.code, reg::kDone) << r.err;
    EXPECT_EQ(r.out, "override (MONVIA_CLASS_REGISTRY): " + dir_.string() + "\n" + "  " + other.str() +
                         "  unusable entry " + other.str() + ".class: " + describe(REGDB_E_CLASSNOTREG) +
                         ": the registration entry for " + other.str() +
                         " is not a regular file but a directory: \"" +
                         (dir_ / (other.str() + ".class")).string() + "\"\n" + "  " + CLSID_TestWidget.str() +
                         "  " + library.string() +
                         "  (refused: the server library can be changed by users other than its owner (mode "
                         "0775): \"" +
                         library.string() + "\")\n");
}

TEST_F(RegisterTest, UnwritableRegistryLeavesNothingBehind) {
    // The registry folder cannot be made: its parent is a file.
    std::ofstream(root_.path() / "file") << "x";
    {
        ScopedEnv blocked("MONVIA_CLASS_REGISTRY", (root_.path() / "file" / "classes").c_str());
        const Outcome r = run({kServer.string()});
        EXPECT_EQ(r.code, reg::kRegistryFailed);
        EXPECT_NE(r.err.find("cannot create the registry directory"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    // The entry's name is taken by a directory: the rename fails and the
    // temporary file is removed again.
    fs::create_directories(dir_ / kWidgetEntry);
    const Outcome r = run({kServer.string()});
    EXPECT_EQ(r.code, reg::kRegistryFailed);
    EXPECT_NE(r.err.find("cannot write the registration entry"), std::string::npos) << r.err;
    EXPECT_EQ(names_in(dir_), std::vector<std::string>{kWidgetEntry});
    EXPECT_TRUE(fs::is_empty(dir_ / kWidgetEntry));
}

TEST(Register, UserAndSystemScopesAndWhatComesFirst) {
    TempDir root;
    ScopedEnv over("MONVIA_CLASS_REGISTRY", nullptr);
    ScopedEnv user("XDG_CONFIG_HOME", (root.path() / "home").c_str());
    ScopedEnv admin("XDG_CONFIG_DIRS", (root.path() / "etc").c_str());
    ScopedEnv data("XDG_DATA_DIRS", (root.path() / "share").c_str());
    const fs::path user_dir = root.path() / "home/monvia/classes";
    const fs::path admin_dir = root.path() / "etc/monvia/classes";
    const fs::path packaged_dir = root.path() / "share/monvia/classes";
    ClassRegistry::write_entry(packaged_dir, CLSID_TestWidget, root.path() / "packaged.so");

    Outcome r = run({"--user", kServer.string()});
    ASSERT_EQ(r.code, reg::kDone) << r.err;
    EXPECT_TRUE(fs::exists(user_dir / kWidgetEntry));
    // The administrator's entry is shadowed by the user's, and says so.
    r = run({"--system", kServer.string()});
    ASSERT_EQ(r.code, reg::kDone) << r.err;
    EXPECT_TRUE(fs::exists(admin_dir / kWidgetEntry));
    EXPECT_NE(r.out.find("note: the entry " + (user_dir / kWidgetEntry).string() +
                         " comes first in the search and is used instead"),
              std::string::npos)
        << r.out;

    r = run({"--list"});
    ASSERT_EQ(r.code, reg::kDone) << r.err;
    const std::string widget = "  " + CLSID_TestWidget.str() + "  ";
    EXPECT_EQ(r.out, "user: " + user_dir.string() + "\n" + widget + kServer.string() +
                         "  (library present)\n" + "administrator: " + admin_dir.string() + "\n" + widget +
                         kServer.string() + "  (library present; not used, an earlier entry wins)\n" +
                         "packaged defaults: " + packaged_dir.string() + "\n" + widget +
                         (root.path() / "packaged.so").string() +
                         "  (library missing; not used, an earlier entry wins)\n");

    r = run({"--unregister", "--system", CLSID_TestWidget.str()});
    EXPECT_EQ(r.code, reg::kDone) << r.err;
    EXPECT_FALSE(fs::exists(admin_dir / kWidgetEntry));
    EXPECT_TRUE(fs::exists(user_dir / kWidgetEntry));
    // The packaged default is never the command's to remove.
    r = run({"--unregister", "--user", CLSID_TestWidget.str()});
    EXPECT_EQ(r.code, reg::kDone) << r.err;
    r = run({"--unregister", "--user", CLSID_TestWidget.str()});
    EXPECT_EQ(r.code, reg::kRegistryFailed);
    EXPECT_TRUE(fs::exists(packaged_dir / kWidgetEntry));
}

}  // namespace

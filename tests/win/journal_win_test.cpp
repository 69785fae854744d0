// The journal DLL in front of the simulator through the system's registry,
// as monvia-journal on puts it there: the panel's scripted session gives
// the same boxes with and without it and the journal holds exactly the
// session's calls; creation failures reach the client with the fronted
// server's status and description or one saying what is wrong; a journal
// that cannot be written changes no call; late-bound calls are journaled by
// name; and the DLL and the server it loaded unload when the last object
// is gone. Runs in a Wine prefix of its own (it registers the class).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <monvia/component/cash_device.h>
#include <olectl.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cash_device_callers.h"
#include "com/registry.h"
#include "com/win_classes.h"
#include "journal_entry.h"
#include "journal_line.h"
#include "panel_session.h"
#include "scoped_class.h"
#include "test_env.h"

using namespace monvia;
using namespace monvia::com::testing;
using monvia::device::CLSID_CashDevice;
using monvia::device::ICashDevice;
using monvia::device::IID_ICashDevice;
using monvia::journal::testing::scripted_session;
using monvia::journal::testing::Texts;
using Lines = std::vector<std::string>;
namespace win = monvia::com::win;

namespace {

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

Lines lines_of(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string utf8(const std::wstring& w) {
    return com::utf16_to_utf8({reinterpret_cast<const char16_t*>(w.data()), w.size()});
}

// The description in the thread's error object, taken.
std::string error_description() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return {};
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::string d = com::to_utf8(text);
    SysFreeString(text);
    info->Release();
    return d;
}

struct Creation {
    HRESULT status;
    std::string description;
};

Creation create_device() {
    SetErrorInfo(0, nullptr);
    ICashDevice* device = nullptr;
    const HRESULT h = CoCreateInstance(CLSID_CashDevice, nullptr, CLSCTX_INPROC_SERVER, IID_ICashDevice,
                                       reinterpret_cast<void**>(&device));
    if (device) device->Release();
    return {h, error_description()};
}

// The same creation as the panel makes it, through the system's classes: the
// failure it reports (code and text), or S_OK.
Creation create_as_the_panel() {
    com::ClassRegistry registry{fs::path()};
    try {
        registry.create<IUnknown>(CLSID_CashDevice, IID_ICashDevice);
    } catch (const Failure& f) {
        return {static_cast<HRESULT>(f.number()), f.description()};
    }
    return {S_OK, ""};
}

const fs::path kJournalDll = MONVIA_JOURNAL_DLL;
const fs::path kSimulatorDll = MONVIA_SIMULATOR_DLL;

class JournalOnWindows : public ::testing::Test {
protected:
    void SetUp() override {
        // Nothing of the simulator's may be registered already: the test
        // writes the class's registration itself.
        ASSERT_FALSE(win::effective_registration(CLSID_CashDevice, win::process_bitness(), win::elevated())
                         .has_value())
            << "CashDevice is registered here already; this test needs a Wine prefix (or machine) without it";
        scenario_file_ = folder_.path() / "scenario.txt";
        std::ofstream(scenario_file_) << "Pay false code=2 text=\"Hopper empty\"\n";
    }
    void TearDown() override {
        cls_.reset();
        // Every object is gone: the journal and the server it loaded go too.
        CoFreeUnusedLibrariesEx(0, 0);
        EXPECT_EQ(GetModuleHandleW(kJournalDll.filename().c_str()), nullptr) << "the journal stayed loaded";
        EXPECT_EQ(GetModuleHandleW(kSimulatorDll.filename().c_str()), nullptr)
            << "the simulator stayed loaded";
    }

    void serve(const fs::path& server) {
        cls_.reset();  // the old registration goes first: it removes the class key
        cls_ = std::make_unique<ScopedClass>(CLSID_CashDevice, server);
    }

    // The registration monvia-journal on writes: the journal DLL in front,
    // and what it fronts (nothing when `fronts` is empty).
    void front(const std::wstring& fronts) {
        serve(kJournalDll);
        if (fronts.empty()) return;
        const std::wstring key =
            L"Software\\Classes\\CLSID\\" + wide(com::to_string(CLSID_CashDevice)) + L"\\InprocServer32";
        HKEY inproc = nullptr;
        ASSERT_EQ(RegOpenKeyExW(cashsim::registration_root(), key.c_str(), 0, KEY_SET_VALUE, &inproc),
                  ERROR_SUCCESS);
        RegSetValueExW(inproc, L"MonviaJournalFronts", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(fronts.c_str()),
                       static_cast<DWORD>((fronts.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(inproc);
    }

    fs::path journal_file() const { return journal::todays_journal_file(); }

    // Today's journal, each line's time, process and duration checked and
    // taken away, the simulator's path named <simulator>.
    Lines journal_lines() const {
        Lines lines;
        const std::regex line_re(
            R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ([^ ]+)\[(\d+)\] (.*?)( \(\d+ us\))?$)");
        for (const std::string& line : lines_of(read_file(journal_file()))) {
            std::smatch m;
            if (!std::regex_match(line, m, line_re)) {
                ADD_FAILURE() << "not a journal line: " << line;
                continue;
            }
            EXPECT_EQ(m[1], "journal_win_test");
            EXPECT_EQ(std::stol(m[2]), static_cast<long>(GetCurrentProcessId()));
            std::string rest = m[3];
            const std::string simulator = utf8(kSimulatorDll.native());
            for (size_t at; (at = rest.find(simulator)) != std::string::npos;)
                rest.replace(at, simulator.size(), "<simulator>");
            lines.push_back(rest);
        }
        return lines;
    }

    // The entry the journal names: the class's InprocServer32 key.
    static std::string entry_key() {
        return std::string(cashsim::registration_root() == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE"
                                                                              : "HKEY_CURRENT_USER") +
               "\\Software\\Classes\\CLSID\\" + com::to_string(CLSID_CashDevice) + "\\InprocServer32";
    }

    Texts session() {
        testing_env::ScopedEnv scenario("MONVIA_CASHDEVICE_SCENARIO", scenario_file_.string().c_str());
        com::ClassRegistry registry{fs::path()};  // the system's classes, as the programs use them
        return scripted_session(registry);
    }

    ScopedFolder folder_{"journal-win"};
    testing_env::ScopedEnv local_app_data_{"LOCALAPPDATA", folder_.path().string().c_str()};
    fs::path scenario_file_;
    std::unique_ptr<ScopedClass> cls_;
};

TEST_F(JournalOnWindows, TheSessionGivesTheSameBoxesAndTheJournalHoldsEveryCall) {
    serve(kSimulatorDll);
    const Texts direct = session();
    ASSERT_EQ(direct.size(), 13u);
    EXPECT_EQ(direct[2], "Testing: Pay NOK, Paid = 0, 2-Hopper empty");
    EXPECT_FALSE(fs::exists(journal_file())) << "nothing journals without the journal";

    front(kSimulatorDll.native());
    EXPECT_EQ(session(), direct);

    // The session's lines as on Linux, but for where the class is registered.
    const Lines lines = journal_lines();
    Lines expected = lines_of(read_file(MONVIA_SESSION_JOURNAL));
    ASSERT_FALSE(expected.empty());
    expected.front() = "#1 create class=" + com::to_string(CLSID_CashDevice) +
                       " server=\"<simulator>\" entry=" + journal::quote_utf8(entry_key()) + " -> ok";
    std::ofstream(MONVIA_SESSION_JOURNAL_OUTPUT, std::ios::binary) << read_file(journal_file());
    EXPECT_EQ(lines, expected) << "the journal as written is in " << MONVIA_SESSION_JOURNAL_OUTPUT;
}

TEST_F(JournalOnWindows, ACreationFailureOfTheFrontedServerReachesTheClientUnchanged) {
    const fs::path failing = MONVIA_FAILING_CASH_SERVER;
    serve(failing);
    const Creation direct = create_device();
    EXPECT_EQ(com::hex(direct.status), "80040201");
    EXPECT_EQ(direct.description, "the cash drawer does not answer on COM3 (is it switched on?)");
    // The panel reports the server's code and its own words.
    const Creation panel = create_as_the_panel();
    EXPECT_EQ(com::hex(panel.status), com::hex(direct.status));
    EXPECT_EQ(panel.description, direct.description);

    front(failing.native());
    const Creation through = create_device();
    EXPECT_EQ(com::hex(through.status), com::hex(direct.status));
    EXPECT_EQ(through.description, direct.description);
    const Lines lines = journal_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              "#1 create class=" + com::to_string(CLSID_CashDevice) + " server=" +
                  journal::quote_utf8(utf8(failing.native())) + " entry=" + journal::quote_utf8(entry_key()) +
                  " -> failed 80040201 \"the cash drawer does not answer on COM3 (is it switched on?)\"");
    const Creation panel_through = create_as_the_panel();
    EXPECT_EQ(com::hex(panel_through.status), com::hex(direct.status));
    EXPECT_EQ(panel_through.description, direct.description);
}

TEST_F(JournalOnWindows, TheObjectAnswersForItsInterfacesAsTheRealOneDoes) {
    // Creating it for an interface, then asking the object for others: the
    // statuses, without the journal and with it.
    auto answers = [] {
        Lines got;
        IUnknown* object = nullptr;
        got.push_back(com::hex(CoCreateInstance(CLSID_CashDevice, nullptr, CLSCTX_INPROC_SERVER, IID_IPersist,
                                                reinterpret_cast<void**>(&object))));
        if (object) object->Release();
        object = nullptr;
        got.push_back(com::hex(CoCreateInstance(CLSID_CashDevice, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                reinterpret_cast<void**>(&object))));
        if (!object) return got;
        for (const IID* iid : {&IID_ICashDevice, &IID_IDispatch, &IID_ISupportErrorInfo, &IID_IPersist}) {
            IUnknown* other = nullptr;
            got.push_back(com::hex(object->QueryInterface(*iid, reinterpret_cast<void**>(&other))));
            if (!other) continue;
            if (*iid == IID_ISupportErrorInfo)
                got.push_back(com::hex(static_cast<ISupportErrorInfo*>(static_cast<void*>(other))
                                           ->InterfaceSupportsErrorInfo(IID_ICashDevice)));
            other->Release();
        }
        object->Release();
        return got;
    };
    serve(kSimulatorDll);
    const Lines direct = answers();
    EXPECT_EQ(direct.front(), com::hex(E_NOINTERFACE));
    CoFreeUnusedLibrariesEx(0, 0);
    front(kSimulatorDll.native());
    EXPECT_EQ(answers(), direct);
}

TEST_F(JournalOnWindows, AFailingMemberGivesTheClientTheSameStatusAndErrorObject) {
    std::ofstream(scenario_file_) << "Pay hresult=0x80004005 description=\"Hopper fault, call service\"\n";
    serve(kSimulatorDll);
    const Texts direct = session();
    CoFreeUnusedLibrariesEx(0, 0);
    front(kSimulatorDll.native());
    EXPECT_EQ(session(), direct);
    EXPECT_NE(std::find(direct.begin(), direct.end(),
                        "Testing: Pay NOK, Paid = 0, -2147467259-Hopper fault, call service"),
              direct.end());
    const Lines lines = journal_lines();
    const auto pay = std::find_if(lines.begin(), lines.end(),
                                  [](const std::string& l) { return l.rfind("#1 Pay ", 0) == 0; });
    ASSERT_NE(pay, lines.end());
    EXPECT_EQ(pay->rfind("#1 Pay amount=50 &paid=0 -> failed 80004005 \"Hopper fault, call service\"", 0), 0u)
        << *pay;
}

TEST_F(JournalOnWindows, ARegistrationTheJournalCannotFollowIsRefusedSayingWhy) {
    const std::string journal_path = utf8(kJournalDll.native());
    const std::string where = "the journal's registration \"" + entry_key() + "\"";
    struct Case {
        std::wstring fronts;
        HRESULT status;
        std::string description;
    };
    const Case cases[] = {
        {L"", REGDB_E_CLASSNOTREG,
         where + " names no server to front (no MonviaJournalFronts value); run monvia-journal on"},
        {L"cashdevice_sim.dll", CLASS_E_CLASSNOTAVAILABLE,
         where +
             " fronts \"cashdevice_sim.dll\", which is not an absolute path; run monvia-journal off and on "
             "again"},
        {kJournalDll.native(), CLASS_E_CLASSNOTAVAILABLE,
         where + " names the journal itself as the server it fronts"},
        {L"C:\\nowhere\\cash device.dll", HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND),
         "the journal fronts \"C:\\nowhere\\cash device.dll\", which does not exist"},
        {MONVIA_NO_CLASS_OBJECT, CO_E_ERRORINDLL,
         "the journal fronts \"" + utf8(MONVIA_NO_CLASS_OBJECT) +
             "\", which does not export DllGetClassObject, so it is not an in-process server"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8(c.fronts));
        front(c.fronts);
        const Creation got = create_device();
        EXPECT_EQ(com::hex(got.status), com::hex(c.status));
        EXPECT_EQ(got.description, c.description);
        cls_.reset();
        CoFreeUnusedLibrariesEx(0, 0);
    }
}

// Standard error, caught in a file while it lives.
class CapturedStderr {
public:
    explicit CapturedStderr(const fs::path& file) : file_(file) {
        fflush(stderr);
        saved_ = _dup(2);
        const int fd = _wopen(file.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC, 0600);
        _dup2(fd, 2);
        _close(fd);
    }
    ~CapturedStderr() { restore(); }
    std::string text() {
        restore();
        return read_file(file_);
    }

private:
    void restore() {
        if (saved_ < 0) return;
        fflush(stderr);
        std::cerr.flush();
        _dup2(saved_, 2);
        _close(saved_);
        saved_ = -1;
    }
    fs::path file_;
    int saved_ = -1;
};

TEST_F(JournalOnWindows, AJournalThatCannotBeWrittenChangesNoCallAndIsReportedOnce) {
    serve(kSimulatorDll);
    const Texts direct = session();
    CoFreeUnusedLibrariesEx(0, 0);
    // The journal's folder would be below a file.
    const fs::path blocker = folder_.path() / "blocked";
    std::ofstream(blocker) << "not a folder";
    testing_env::ScopedEnv local("LOCALAPPDATA", blocker.string().c_str());
    front(kSimulatorDll.native());
    CapturedStderr err(folder_.path() / "stderr.txt");
    EXPECT_EQ(session(), direct);
    const Lines reports = lines_of(err.text());
    ASSERT_EQ(reports.size(), 1u) << err.text();
    EXPECT_EQ(reports[0].rfind("monvia journal: cannot create the journal folder \"" +
                                   utf8((blocker / "Monvia" / "journal").native()) + "\"",
                               0),
              0u)
        << reports[0];
    EXPECT_NE(reports[0].find("; the calls go on, but are not recorded until it can be written"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(journal_file()));

    // Once the folder can be made, the next line written is preceded by one
    // saying how many were lost and why.
    fs::remove(blocker);
    EXPECT_EQ(create_device().status, S_OK);
    const Lines lines = journal_lines();
    ASSERT_EQ(lines.size(), 3u);
    const std::regex lost(R"(journal: \d+ events were not written \(cannot create the journal folder .*\))");
    EXPECT_TRUE(std::regex_match(lines[0], lost)) << lines[0];
    EXPECT_EQ(lines[1].rfind("#2 create ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], "#2 release");
}

TEST_F(JournalOnWindows, LateBoundCallsAreJournaledByName) {
    using namespace monvia::testing::callers;
    auto run = [] {
        Owned<IDispatch> late;
        EXPECT_EQ(CoCreateInstance(CLSID_CashDevice, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(&late.p)),
                  S_OK);
        if (!late.p) return Lines{};
        LateCaller by_name(late.p);
        return Lines{by_name.put_host(L"localhost"), by_name.connect(), by_name.charge(125), by_name.pay(50),
                     by_name.get_levels(2)};
    };
    serve(kSimulatorDll);
    const Lines direct = run();
    CoFreeUnusedLibrariesEx(0, 0);
    front(kSimulatorDll.native());
    EXPECT_EQ(run(), direct);
    ASSERT_EQ(direct.size(), 5u);
    EXPECT_EQ(direct[2], "Charge(125) = True, inserted 200, returned 75");

    std::ofstream(MONVIA_SESSION_JOURNAL_OUTPUT ".late-bound", std::ios::binary) << read_file(journal_file());
    Lines invokes;
    for (const std::string& l : journal_lines())
        if (l.find(" Invoke:") != std::string::npos) invokes.push_back(l);
    const std::string denoms = "\"5;10;20;50;100;200;500;1000;2000;5000;10000;20000\"";
    const Lines expected = {
        "#1 Invoke:put_Host value=\"localhost\" -> ok",
        "#1 Invoke:Connect -> result=True",
        // As the vtable's line, but for the marker.
        "#1 Invoke:Charge amount=125 &inserted=0 &returned=0 -> inserted=200 returned=75 result=True",
        "#1 Invoke:Pay amount=50 &paid=0 -> paid=50 result=True",
        "#1 Invoke:GetLevels kind=2 &Denoms=\"\" &Levels=\"\" -> Denoms=" + denoms + " Levels=\"" +
            direct[4].substr(direct[4].find(", Levels ") + 9) + "\" result=True",
    };
    EXPECT_EQ(invokes, expected);
    // The names the client asked for are journaled too.
    const Lines lines = journal_lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "#1 GetIDsOfNames name=\"Charge\" -> id=11"),
              lines.end());
}

TEST(JournalDll, Regsvr32IsRefusedWithADescription) {
    const HMODULE dll = LoadLibraryW(kJournalDll.c_str());
    ASSERT_NE(dll, nullptr);
    for (const char* entry : {"DllRegisterServer", "DllUnregisterServer"}) {
        SCOPED_TRACE(entry);
        const auto call =
            reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(dll, entry)));
        ASSERT_NE(call, nullptr);
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(call(), SELFREG_E_CLASS);
        EXPECT_EQ(
            error_description(),
            "the CashDevice journal is not registered with regsvr32: \"monvia-journal on\" puts it in front "
            "of the server that has the class, and \"monvia-journal off\" takes it away");
    }
    EXPECT_FALSE(win::effective_registration(CLSID_CashDevice, win::process_bitness(), win::elevated()));
    FreeLibrary(dll);
}

}  // namespace

// The built simulator, loaded through its registration entry as the panel
// loads it, and called through the interface: the machine's answers and
// every kind of scripted fault as the caller sees them.

#include <gtest/gtest.h>
#include <monvia/component/bstr.h>
#include <monvia/component/cash_device.h>
#include <monvia/component/com_ptr.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "com/registry.h"
#include "runtime/failure.h"
#include "status_text.h"
#include "test_env.h"

using namespace monvia;
using namespace monvia::com;
using namespace monvia::device;
namespace fs = std::filesystem;

namespace {

using testing_env::ScopedEnv;

// A registry reading the build's entries the way the programs find them:
// through the override variable.
class SimulatorTest : public ::testing::Test {
protected:
    SimulatorTest()
        : registry_env_("MONVIA_CLASS_REGISTRY", MONVIA_REGISTRY_DIR),
          scenario_env_("MONVIA_CASHDEVICE_SCENARIO", nullptr),
          registry_(ClassRegistry::default_entry_directory()) {}

    ~SimulatorTest() override {
        device_.reset();
        std::error_code ec;
        if (!scenario_file_.empty()) fs::remove(scenario_file_, ec);
    }

    // Creates the instance; with a scenario text, the instance reads it.
    ICashDevice& create(const std::optional<std::string>& scenario = std::nullopt) {
        if (scenario) {
            scenario_file_ =
                fs::temp_directory_path() / ("monvia-sim-" + std::to_string(testing_env::process_id()) + "-" +
                                             std::to_string(++files_) + ".txt");
            std::ofstream(scenario_file_) << *scenario;
            testing_env::set_env("MONVIA_CASHDEVICE_SCENARIO", scenario_file_.string());
        }
        device_ = registry_.create<ICashDevice>(CLSID_CashDevice, IID_ICashDevice);
        testing_env::unset_env("MONVIA_CASHDEVICE_SCENARIO");
        return *device_.get();
    }

    ICashDevice& connected(const std::optional<std::string>& scenario = std::nullopt) {
        ICashDevice& d = create(scenario);
        Bstr host("localhost");
        EXPECT_EQ(d.put_Host(host.get()), S_OK);
        VARIANT_BOOL ok = VARIANT_FALSE;
        EXPECT_EQ(d.Connect(&ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        return d;
    }

    int16_t last_code() {
        int16_t code = 12345;
        EXPECT_EQ(device_->get_LastErrorCode(&code), S_OK);
        return code;
    }
    std::string last_text() {
        Bstr text;
        EXPECT_EQ(device_->get_LastErrorText(text.inout()), S_OK);
        return text.utf8();
    }
    int32_t money_in_levels() {
        Bstr denoms, quantities;
        int32_t value = -1;
        VARIANT_BOOL ok = VARIANT_FALSE;
        EXPECT_EQ(device_->GetAmounts(denoms.inout(), quantities.inout(), &value, &ok), S_OK);
        return value;
    }
    // The Failure check() makes of a status, as the panel's wrapper does.
    Failure failure_of(HRESULT h) {
        try {
            check(h, device_.get());
        } catch (const Failure& f) {
            return f;
        }
        ADD_FAILURE() << "status " << hex(h) << " did not fail";
        return Failure(0, "");
    }

    ScopedEnv registry_env_;
    ScopedEnv scenario_env_;
    ClassRegistry registry_;
    ComPtr<ICashDevice> device_;
    fs::path scenario_file_;
    int files_ = 0;
};

#if !defined(_WIN32)
// (On Windows regsvr32 registers it; tests/win checks that.)
TEST_F(SimulatorTest, TheBuildRegistersTheLibraryByAbsolutePath) {
    std::ifstream in(fs::path(MONVIA_REGISTRY_DIR) / (CLSID_CashDevice.str() + ".class"));
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    ASSERT_EQ(line.rfind("library=", 0), 0u);
    const fs::path library = line.substr(8);
    EXPECT_TRUE(library.is_absolute());
    EXPECT_EQ(library.filename(), "libcashdevice_sim.so");
    EXPECT_TRUE(fs::exists(library));
}
#endif

TEST_F(SimulatorTest, AnswersTheStandardInterfaces) {
    ICashDevice& d = create();
    void* p = nullptr;
#if defined(_WIN32)
    const Guid& error_interface = IID_ISupportErrorInfo;
#else
    const Guid& error_interface = IID_IErrorSource;
#endif
    for (const Guid& iid : {IID_IUnknown, IID_IDispatch, IID_ICashDevice, error_interface}) {
        ASSERT_EQ(d.QueryInterface(iid, &p), S_OK) << to_string(iid);
        static_cast<IUnknown*>(p)->Release();
    }
    EXPECT_EQ(d.QueryInterface(guid("{C3E6A4D9-5F7A-4B2C-9D83-4A9FAE7B3C56}"), &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    uint32_t count = 9;
    EXPECT_EQ(d.GetTypeInfoCount(&count), S_OK);
#if defined(_WIN32)
    // On Windows the object binds late through its type library
    // (tests/win/late_binding_test.cpp).
    EXPECT_EQ(count, 1u);
#else
    EXPECT_EQ(count, 0u);
    // Late binding is refused with a description that says why.
    const std::function<HRESULT()> late[] = {
        [&] { return d.Invoke(1, IID_IUnknown, 0, 0, nullptr, nullptr, nullptr, nullptr); },
        [&] { return d.GetIDsOfNames(IID_IUnknown, nullptr, 0, 0, nullptr); },
    };
    for (const auto& call : late) {
        try {
            check(call(), &d, IID_ICashDevice);
            ADD_FAILURE() << "late binding was accepted";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), E_NOTIMPL);
            EXPECT_NE(f.description().find("late binding is not supported"), std::string::npos)
                << f.description();
        }
    }
#endif

    try {
        registry_.create<IUnknown>(CLSID_CashDevice, guid("{C3E6A4D9-5F7A-4B2C-9D83-4A9FAE7B3C56}"));
        ADD_FAILURE() << "an unknown interface was given";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), E_NOINTERFACE);
    }
}

TEST_F(SimulatorTest, ASessionLikeThePanels) {
    ICashDevice& d = create();
    VARIANT_BOOL ok = VARIANT_TRUE;

    // Before Connect the operations say so.
    ASSERT_EQ(d.Configuration(&ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(last_code(), -1);
    EXPECT_EQ(last_text(), "Not connected: call Connect first");

    Bstr empty_host("");
    ASSERT_EQ(d.put_Host(empty_host.get()), S_OK);
    ASSERT_EQ(d.Connect(&ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(last_code(), -2);

    Bstr host("localhost");
    ASSERT_EQ(d.put_Host(host.get()), S_OK);
    Bstr read_back;
    ASSERT_EQ(d.get_Host(read_back.inout()), S_OK);
    EXPECT_EQ(read_back.utf8(), "localhost");
    ASSERT_EQ(d.Connect(&ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    ASSERT_EQ(d.Configuration(&ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);

    int32_t inserted = 0, returned = 0;
    ASSERT_EQ(d.Charge(125, &inserted, &returned, &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    EXPECT_EQ(inserted, 200);
    EXPECT_EQ(returned, 75);

    int32_t paid = 0;
    ASSERT_EQ(d.PaySpecific(77, &paid, &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(last_code(), 3);
    EXPECT_EQ(last_text(), "Amount not payable: 77");

    // The six level lists through one pair of strings, as GetLevels does.
    Bstr denoms, levels;
    const std::pair<LevelKind, const char*> kinds[] = {
        {LevelKind::CashBox, "0;0;0;0;10;5;0;5;3;2;1;0"},
        {LevelKind::Current, "39;40;39;29;30;21;20;20;10;4;0;0"},
        {LevelKind::Initial, "40;40;40;30;30;20;20;20;10;4;0;0"},
        {LevelKind::Max, "200;200;200;150;150;100;50;50;30;20;10;0"},
        {LevelKind::LevelStatus, "ok;ok;ok;ok;ok;ok;ok;ok;ok;ok;empty;none"},
        {LevelKind::Inhibits, "0;0;0;0;0;0;0;0;0;0;0;1"},
    };
    for (const auto& [kind, expected] : kinds) {
        ASSERT_EQ(d.GetLevels(static_cast<int32_t>(kind), denoms.inout(), levels.inout(), &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_EQ(denoms.utf8(), "5;10;20;50;100;200;500;1000;2000;5000;10000;20000");
        EXPECT_EQ(levels.utf8(), expected);
    }
    ASSERT_EQ(d.GetLevels(9, denoms.inout(), levels.inout(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(levels.utf8(), "");  // overwritten, not left from the call before
    EXPECT_EQ(last_code(), 7);

    int32_t coins = 0, notes = 0, change = 0;
    ASSERT_EQ(d.CashBoxControl(static_cast<int32_t>(CashBoxMode::Control), &coins, &notes, &change, &ok),
              S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    EXPECT_EQ(coins, 2000);
    EXPECT_EQ(notes, 31000);
    EXPECT_EQ(change, 80025);

    int32_t value = 0;
    ASSERT_EQ(d.EmptyCashBox(static_cast<int32_t>(CashBoxSide::Coins), &value, &ok), S_OK);
    EXPECT_EQ(value, 2000);
    ASSERT_EQ(d.EmptyCashBox(static_cast<int32_t>(CashBoxSide::Notes), &value, &ok), S_OK);
    EXPECT_EQ(value, 31000);

    VARIANT_BOOL flag = VARIANT_TRUE;
    Bstr quenzo("Quenzo");
    ASSERT_EQ(d.HandleError(55, quenzo.get(), &flag, &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(flag, VARIANT_FALSE);
    EXPECT_EQ(last_text(), "Unknown error code 55 (Quenzo)");

    uint32_t colour = 0;
    ASSERT_EQ(d.put_ColorA(0x00FFC0C0), S_OK);
    ASSERT_EQ(d.get_ColorA(&colour), S_OK);
    EXPECT_EQ(colour, 0x00FFC0C0u);

    const Failure read_only = failure_of(d.put_LastErrorCode(4));
    EXPECT_EQ(read_only.number(), E_NOTIMPL);
    EXPECT_EQ(read_only.description(), "LastErrorCode is read-only: it tells the machine's last failure");

    ASSERT_EQ(d.Disconnect(), S_OK);
    VARIANT_BOOL link = VARIANT_TRUE;
    ASSERT_EQ(d.get_Connected(&link), S_OK);
    EXPECT_EQ(link, VARIANT_FALSE);
    ASSERT_EQ(d.Pay(5, &paid, &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(last_code(), -1);
}

TEST_F(SimulatorTest, ScriptedFalse) {
    ICashDevice& d = connected("Charge false code=-7 text=\"Drawer jammed\"\n");
    int32_t inserted = 9, returned = 9;
    VARIANT_BOOL ok = VARIANT_TRUE;
    ASSERT_EQ(d.Charge(125, &inserted, &returned, &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(inserted, 0);  // outputs written as for any refusal
    EXPECT_EQ(returned, 0);
    EXPECT_EQ(last_code(), -7);
    EXPECT_EQ(last_text(), "Drawer jammed");
    EXPECT_EQ(money_in_levels(), 79900);  // nothing happened in the machine
}

TEST_F(SimulatorTest, ScriptedInterfaceFailureOnTheSecondCall) {
    ICashDevice& d =
        connected("Pay#2 hresult=0x80004005 description=\"Hopper fault\"\nput_ColorB hresult=0x80070057\n");
    int32_t paid = 1234;
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(d.Pay(75, &paid, &ok), S_OK);
    EXPECT_EQ(paid, 75);

    paid = 1234;
    ok = 7;
    const HRESULT h = d.Pay(75, &paid, &ok);
    EXPECT_EQ(h, E_FAIL);
    EXPECT_EQ(paid, 1234);  // untouched: the call did not run
    EXPECT_EQ(ok, 7);
    const Failure f = failure_of(h);
    EXPECT_EQ(f.number(), E_FAIL);
    EXPECT_EQ(f.description(), "Hopper fault");
    EXPECT_EQ(money_in_levels(), 79900 - 75);

    ASSERT_EQ(d.Pay(75, &paid, &ok), S_OK);  // the third call runs again
    EXPECT_EQ(ok, VARIANT_TRUE);

    // Without a description the layer's own text stands.
    const Failure plain = failure_of(d.put_ColorB(0));
    EXPECT_EQ(plain.number(), E_INVALIDARG);
    EXPECT_EQ(plain.description(), testing_env::status_text(E_INVALIDARG, "The parameter is incorrect"));
}

TEST_F(SimulatorTest, ScriptedUnsetOutputs) {
    ICashDevice& d = connected(
        "GetLevels unset\n"
        "Charge unset\n"
        "EmptyCashBox false code=4 text=\"Jammed\" unset\n"
        "get_LastErrorCode unset\n");
    Bstr denoms("keep"), levels("me");
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(d.GetLevels(2, denoms.inout(), levels.inout(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    EXPECT_EQ(denoms.utf8(), "keep");
    EXPECT_EQ(levels.utf8(), "me");

    int32_t inserted = -1, returned = -1;
    ASSERT_EQ(d.Charge(125, &inserted, &returned, &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    EXPECT_EQ(inserted, -1);
    EXPECT_EQ(returned, -1);
    EXPECT_EQ(money_in_levels(), 79900 + 125);  // the sale itself happened

    int32_t value = 31;
    ASSERT_EQ(d.EmptyCashBox(0, &value, &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(value, 31);
    EXPECT_EQ(last_code(), 12345);  // the read leaves the caller's variable alone
    EXPECT_EQ(last_text(), "Jammed");
}

TEST_F(SimulatorTest, ScriptedDelay) {
    ICashDevice& d = create("Connect delay=200\n");
    Bstr host("127.0.0.1");
    ASSERT_EQ(d.put_Host(host.get()), S_OK);
    VARIANT_BOOL ok = VARIANT_FALSE;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(d.Connect(&ok), S_OK);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(ok, VARIANT_TRUE);
    EXPECT_GE(waited, std::chrono::milliseconds(200));  // a lower bound only: sleeping never ends early
}

TEST_F(SimulatorTest, ABadScenarioFileIsReportedByConnect) {
    ICashDevice& d = create("Charge false\nPay explode\n");
    Bstr host("localhost");
    ASSERT_EQ(d.put_Host(host.get()), S_OK);
    VARIANT_BOOL ok = VARIANT_TRUE;
    ASSERT_EQ(d.Connect(&ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(last_code(), -4);
    EXPECT_EQ(last_text(), "Scenario file \"" + scenario_file_.string() +
                               "\": line 2: unknown effect \"explode\"; "
                               "known: false, unset, code=, text=, hresult=, description=, delay=");
    // Without a link nothing else works either.
    int32_t paid = 0;
    ASSERT_EQ(d.Pay(5, &paid, &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(last_code(), -1);
}

TEST_F(SimulatorTest, AMissingScenarioFileIsReportedByConnect) {
    const std::string missing = (fs::temp_directory_path() / "monvia-no-such-scenario.txt").string();
    ScopedEnv env("MONVIA_CASHDEVICE_SCENARIO", missing.c_str());
    device_ = registry_.create<ICashDevice>(CLSID_CashDevice, IID_ICashDevice);
    Bstr host("localhost");
    ASSERT_EQ(device_->put_Host(host.get()), S_OK);
    VARIANT_BOOL ok = VARIANT_TRUE;
    ASSERT_EQ(device_->Connect(&ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(last_code(), -4);
    EXPECT_EQ(last_text(), "Scenario file \"" + missing + "\" cannot be read: No such file or directory");
}

TEST_F(SimulatorTest, NullOutputsAreRefusedWithADescription) {
    ICashDevice& d = connected();
    int32_t inserted = 0;
    VARIANT_BOOL ok = VARIANT_FALSE;
    const Failure f = failure_of(d.Charge(125, &inserted, nullptr, &ok));
    EXPECT_EQ(f.number(), E_POINTER);
    EXPECT_EQ(f.description(), "Charge: an output pointer is null");
    EXPECT_EQ(money_in_levels(), 79900);
    // The description is given once; a later failure without one falls back.
    EXPECT_EQ(failure_of(E_FAIL).description(), testing_env::status_text(E_FAIL, "Unspecified error"));
}

}  // namespace

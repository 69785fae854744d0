#pragma once
// A thin wrapper over the raw CashDevice interface: each member turns the
// status code and out-parameters into a plain call that throws Failure when
// the component fails at the interface level, so command code reads like the
// operation it performs. String in/out parameters stay layer strings (Bstr)
// so that a command can pass the same variables to several calls unchanged.

#include <monvia/component/bstr.h>
#include <monvia/component/cash_device.h>
#include <monvia/component/com_ptr.h>

#include <cstdint>
#include <string>

namespace monvia::panel {

using com::BSTR;
using com::HRESULT;
using com::VARIANT_BOOL;
using device::CashBoxMode;
using device::CashBoxSide;
using device::CLSID_CashDevice;
using device::ICashDevice;
using device::IID_ICashDevice;
using device::LevelKind;
// A False to start an out parameter with (VARIANT_FALSE is a macro on Windows).
inline constexpr VARIANT_BOOL kFalse = 0;

class CashDevice {
public:
    explicit CashDevice(com::ComPtr<ICashDevice> raw) : raw_(std::move(raw)) {}

    int16_t LastErrorCode();
    std::string LastErrorText();
    void set_ColorA(uint32_t colour);
    void set_ColorB(int32_t value);
    void set_Host(const std::string& host);
    bool Connect();
    void Disconnect();
    bool Change(int32_t& inserted, int32_t& paid);
    bool AddChange(int32_t& added);
    bool Pay(int32_t amount, int32_t& paid);
    bool Charge(int32_t amount, int32_t& inserted, int32_t& returned);
    bool CashBoxControl(CashBoxMode mode, int32_t& coins_cb_value, int32_t& notes_cb_value,
                        int32_t& change_value);
    bool Configuration();
    bool GetAmounts(com::Bstr& denoms, com::Bstr& quantities, int32_t& value);
    bool EmptyCashBox(CashBoxSide which, int32_t& value);
    bool GetLevels(LevelKind kind, com::Bstr& denoms, com::Bstr& levels);
    bool HandleError(int32_t code, const std::string& text, VARIANT_BOOL& flag);
    bool PaySpecific(int32_t amount, int32_t& paid);

private:
    void check(HRESULT h);
    com::ComPtr<ICashDevice> raw_;
};

}  // namespace monvia::panel

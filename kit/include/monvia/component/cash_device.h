#pragma once
// The CashDevice component as its clients call it and its servers implement it: a dual interface, its
// members in their binary order after the seven standard slots. Slots the
// panel never calls are kept so that every member stands where the contract
// puts it. Out parameters are pointers; in/out strings may be freed and
// replaced by the callee. Booleans are 16-bit, True -1. Every member uses
// the system's calling convention for COM methods, so that a 32-bit Windows
// build matches the binary contract too.

#include <monvia/component/bstr.h>
#include <monvia/component/types.h>

#include <cstdint>

namespace monvia::device {

using com::BSTR;
using com::HRESULT;
using com::VARIANT_BOOL;

// {3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}
inline constexpr com::Guid CLSID_CashDevice{
    0x3F6A1D20, 0x8B4C, 0x4E57, {0x9A, 0x12, 0x6C, 0x0D, 0x5B, 0x7E, 0x2A, 0x91}};
// {7C2E9B04-51D3-4A8F-B6E0-2D94F1C8A3B5}
inline constexpr com::Guid IID_ICashDevice{
    0x7C2E9B04, 0x51D3, 0x4A8F, {0xB6, 0xE0, 0x2D, 0x94, 0xF1, 0xC8, 0xA3, 0xB5}};

// The type library that describes the contract for COM on Windows
// (kit/idl/cash_device.idl): MonviaCashDevice 1.0.
// {0B2CD3A3-14B3-4DD9-8C0D-6EB03A180485}
inline constexpr com::Guid LIBID_MonviaCashDevice{
    0x0B2CD3A3, 0x14B3, 0x4DD9, {0x8C, 0x0D, 0x6E, 0xB0, 0x3A, 0x18, 0x04, 0x85}};
inline constexpr uint16_t kTypeLibraryMajor = 1;
inline constexpr uint16_t kTypeLibraryMinor = 0;

// Mode passed to CashBoxControl.
enum class CashBoxMode : int32_t { Control = 0, Blind = 7, ZByAmount = 15 };

// List selected by GetLevels.
enum class LevelKind : int32_t {
    Initial = 0,
    Max = 1,
    Current = 2,
    CashBox = 3,
    LevelStatus = 4,
    Inhibits = 5
};

// EmptyCashBox selector.
enum class CashBoxSide : int32_t { Coins = 0, Notes = 1 };

struct ICashDevice : com::IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_LastErrorCode(int16_t* code) = 0;  // 1
    virtual HRESULT STDMETHODCALLTYPE put_LastErrorCode(int16_t code) = 0;   // 2 (unused)
    virtual HRESULT STDMETHODCALLTYPE get_LastErrorText(BSTR* text) = 0;     // 3
    virtual HRESULT STDMETHODCALLTYPE put_LastErrorText(BSTR text) = 0;      // 4 (unused)
    virtual HRESULT STDMETHODCALLTYPE get_ColorA(uint32_t* colour) = 0;      // 5 (unused)
    virtual HRESULT STDMETHODCALLTYPE put_ColorA(uint32_t colour) = 0;       // 6
    virtual HRESULT STDMETHODCALLTYPE get_ColorB(int32_t* value) = 0;        // 7 (unused)
    virtual HRESULT STDMETHODCALLTYPE put_ColorB(int32_t value) = 0;         // 8
    virtual HRESULT STDMETHODCALLTYPE get_Host(BSTR* host) = 0;              // 9 (unused)
    virtual HRESULT STDMETHODCALLTYPE put_Host(BSTR host) = 0;               // 10
    virtual HRESULT STDMETHODCALLTYPE Connect(VARIANT_BOOL* result) = 0;     // 11
    virtual HRESULT STDMETHODCALLTYPE Disconnect() = 0;                      // 12
    virtual HRESULT STDMETHODCALLTYPE Change(int32_t* inserted, int32_t* paid,
                                             VARIANT_BOOL* result) = 0;                              // 13
    virtual HRESULT STDMETHODCALLTYPE AddChange(int32_t* added, VARIANT_BOOL* result) = 0;           // 14
    virtual HRESULT STDMETHODCALLTYPE Pay(int32_t amount, int32_t* paid, VARIANT_BOOL* result) = 0;  // 15
    virtual HRESULT STDMETHODCALLTYPE Charge(int32_t amount, int32_t* inserted, int32_t* returned,
                                             VARIANT_BOOL* result) = 0;  // 16
    virtual HRESULT STDMETHODCALLTYPE CashBoxControl(int32_t mode, int32_t* coins_cb_value,
                                                     int32_t* notes_cb_value, int32_t* change_value,
                                                     VARIANT_BOOL* result) = 0;  // 17
    virtual HRESULT STDMETHODCALLTYPE Configuration(VARIANT_BOOL* result) = 0;   // 18
    virtual HRESULT STDMETHODCALLTYPE GetAmounts(BSTR* denoms, BSTR* quantities, int32_t* value,
                                                 VARIANT_BOOL* result) = 0;  // 19
    virtual HRESULT STDMETHODCALLTYPE EmptyCashBox(int32_t which, int32_t* value,
                                                   VARIANT_BOOL* result) = 0;  // 20
    virtual HRESULT STDMETHODCALLTYPE GetLevels(int32_t kind, BSTR* denoms, BSTR* levels,
                                                VARIANT_BOOL* result) = 0;  // 21
    virtual HRESULT STDMETHODCALLTYPE HandleError(int32_t code, BSTR text, VARIANT_BOOL* flag,
                                                  VARIANT_BOOL* result) = 0;       // 22
    virtual HRESULT STDMETHODCALLTYPE get_Connected(VARIANT_BOOL* connected) = 0;  // 23 (unused)
    virtual HRESULT STDMETHODCALLTYPE PaySpecific(int32_t amount, int32_t* paid,
                                                  VARIANT_BOOL* result) = 0;  // 24

protected:
    ~ICashDevice() = default;
};

}  // namespace monvia::device

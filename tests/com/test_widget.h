#pragma once
// A tiny interface of the layer's own tests, served by the test server
// libraries built beside the tests.

#include <monvia/component/types.h>

#include <cstdint>

namespace monvia::com::testing {

// {A1C4E2B7-3D58-4F0A-9B61-2E7D8C5F1A34}
inline constexpr Guid CLSID_TestWidget{
    0xA1C4E2B7, 0x3D58, 0x4F0A, {0x9B, 0x61, 0x2E, 0x7D, 0x8C, 0x5F, 0x1A, 0x34}};
// {B2D5F3C8-4E69-4A1B-8C72-3F8E9D6A2B45}
inline constexpr Guid IID_ITestWidget{
    0xB2D5F3C8, 0x4E69, 0x4A1B, {0x8C, 0x72, 0x3F, 0x8E, 0x9D, 0x6A, 0x2B, 0x45}};
// A class no server provides.
// {C3E6A4D9-5F7A-4B2C-9D83-4A9FAE7B3C56}
inline constexpr Guid CLSID_Nobody{
    0xC3E6A4D9, 0x5F7A, 0x4B2C, {0x9D, 0x83, 0x4A, 0x9F, 0xAE, 0x7B, 0x3C, 0x56}};

struct ITestWidget : IUnknown {
    // Adds; on overflow fails with E_INVALIDARG and explains itself (through
    // IErrorSource on Linux, the thread's error object on Windows).
    virtual HRESULT STDMETHODCALLTYPE Add(int32_t a, int32_t b, int32_t* sum) = 0;
    // How many widgets of this library are alive.
    virtual HRESULT STDMETHODCALLTYPE LiveCount(int32_t* count) = 0;

protected:
    ~ITestWidget() = default;
};

}  // namespace monvia::com::testing

#include <monvia/component/bstr.h>
#include <monvia/component/com_ptr.h>
#include <monvia/component/error_info.h>

namespace monvia::com {

HRESULT set_error_info(const Guid& iid, std::string_view source, std::string_view description) try {
    ICreateErrorInfo* raw = nullptr;
    HRESULT h = CreateErrorInfo(&raw);
    if (FAILED(h) || !raw) return FAILED(h) ? h : E_OUTOFMEMORY;
    auto create = ComPtr<ICreateErrorInfo>::attach(raw);
    Bstr src(source), text(description);
    create->SetGUID(iid);
    create->SetSource(src.get());
    create->SetDescription(text.get());
    IErrorInfo* info = nullptr;
    h = create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
    if (FAILED(h) || !info) return FAILED(h) ? h : E_NOINTERFACE;
    h = SetErrorInfo(0, info);
    info->Release();
    return h;
} catch (...) {
    // Called on the way out of a failing member: nothing may escape.
    return E_OUTOFMEMORY;
}

void clear_error_info() { SetErrorInfo(0, nullptr); }

}  // namespace monvia::com

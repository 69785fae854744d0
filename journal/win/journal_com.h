#pragma once
// The journal object on Windows: the calls of JournalDevice, with the
// system's error objects passed on (ISupportErrorInfo where the real object
// answers it) and late-bound calls journaled by member name.

#include <monvia/component/cash_device.h>
#include <monvia/component/com_ptr.h>

#include <atomic>

#include "journal_device.h"

namespace monvia::journal {

// The DLL's live journal objects, for DllCanUnloadNow.
extern std::atomic<long> g_live_objects;

class WinJournalDevice final : public JournalDevice, public ISupportErrorInfo {
public:
    WinJournalDevice(com::ComPtr<device::ICashDevice> real, com::ComPtr<ISupportErrorInfo> real_support,
                     uint64_t number);
    ~WinJournalDevice() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return JournalDevice::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return JournalDevice::Release(); }

    // Asked of the real object: the client is told what it would be told.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

    // Late-bound calls: passed on, and journaled as "Invoke:<member>" with
    // the parameters by the names the real object's type information gives.
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep_info, UINT* arg_error) override;

private:
    // The thread's error object after a failing call: its description is
    // read for the journal, and the object set again for the client.
    std::string failure_description(HRESULT h) override;

    com::ComPtr<ISupportErrorInfo> real_support_;
};

// The description in the thread's error object, which stays set; empty
// when there is none.
std::string error_object_description();

}  // namespace monvia::journal

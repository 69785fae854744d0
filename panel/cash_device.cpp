#include "cash_device.h"

#include "com/registry.h"

namespace monvia::panel {

namespace {
// Any non-zero result counts as success.
bool truth(VARIANT_BOOL b) { return b != 0; }
}  // namespace

void CashDevice::check(HRESULT h) { com::check(h, raw_.get(), IID_ICashDevice); }

int16_t CashDevice::LastErrorCode() {
    int16_t code = 0;
    check(raw_->get_LastErrorCode(&code));
    return code;
}

std::string CashDevice::LastErrorText() {
    com::Bstr text;
    check(raw_->get_LastErrorText(text.inout()));
    return text.utf8();
}

void CashDevice::set_ColorA(uint32_t colour) { check(raw_->put_ColorA(colour)); }

void CashDevice::set_ColorB(int32_t value) { check(raw_->put_ColorB(value)); }

void CashDevice::set_Host(const std::string& host) {
    com::Bstr s(host);
    check(raw_->put_Host(s.get()));
}

bool CashDevice::Connect() {
    VARIANT_BOOL r = kFalse;
    check(raw_->Connect(&r));
    return truth(r);
}

void CashDevice::Disconnect() { check(raw_->Disconnect()); }

bool CashDevice::Change(int32_t& inserted, int32_t& paid) {
    VARIANT_BOOL r = kFalse;
    check(raw_->Change(&inserted, &paid, &r));
    return truth(r);
}

bool CashDevice::AddChange(int32_t& added) {
    VARIANT_BOOL r = kFalse;
    check(raw_->AddChange(&added, &r));
    return truth(r);
}

bool CashDevice::Pay(int32_t amount, int32_t& paid) {
    VARIANT_BOOL r = kFalse;
    check(raw_->Pay(amount, &paid, &r));
    return truth(r);
}

bool CashDevice::Charge(int32_t amount, int32_t& inserted, int32_t& returned) {
    VARIANT_BOOL r = kFalse;
    check(raw_->Charge(amount, &inserted, &returned, &r));
    return truth(r);
}

bool CashDevice::CashBoxControl(CashBoxMode mode, int32_t& coins_cb_value, int32_t& notes_cb_value,
                                int32_t& change_value) {
    VARIANT_BOOL r = kFalse;
    check(raw_->CashBoxControl(static_cast<int32_t>(mode), &coins_cb_value, &notes_cb_value, &change_value,
                               &r));
    return truth(r);
}

bool CashDevice::Configuration() {
    VARIANT_BOOL r = kFalse;
    check(raw_->Configuration(&r));
    return truth(r);
}

bool CashDevice::GetAmounts(com::Bstr& denoms, com::Bstr& quantities, int32_t& value) {
    VARIANT_BOOL r = kFalse;
    check(raw_->GetAmounts(denoms.inout(), quantities.inout(), &value, &r));
    return truth(r);
}

bool CashDevice::EmptyCashBox(CashBoxSide which, int32_t& value) {
    VARIANT_BOOL r = kFalse;
    check(raw_->EmptyCashBox(static_cast<int32_t>(which), &value, &r));
    return truth(r);
}

bool CashDevice::GetLevels(LevelKind kind, com::Bstr& denoms, com::Bstr& levels) {
    VARIANT_BOOL r = kFalse;
    check(raw_->GetLevels(static_cast<int32_t>(kind), denoms.inout(), levels.inout(), &r));
    return truth(r);
}

bool CashDevice::HandleError(int32_t code, const std::string& text, VARIANT_BOOL& flag) {
    VARIANT_BOOL r = kFalse;
    com::Bstr t(text);
    check(raw_->HandleError(code, t.get(), &flag, &r));
    return truth(r);
}

bool CashDevice::PaySpecific(int32_t amount, int32_t& paid) {
    VARIANT_BOOL r = kFalse;
    check(raw_->PaySpecific(amount, &paid, &r));
    return truth(r);
}

}  // namespace monvia::panel

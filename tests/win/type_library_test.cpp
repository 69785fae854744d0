// The contract's type library, compiled from the kit's IDL, against the
// kit's C++ header: the same 24 members after the seven standard slots, at
// the same vtable offsets, with the same parameter types. The table below
// states each member's signature as the type library must show it; every
// row is checked against the header (slot and parameter types, through the
// member pointer) and against the type library (its FUNCDESC), so a change
// on either side that the other does not follow fails here. The test prints
// the members as the type library gives them.

#include <gtest/gtest.h>
#include <monvia/component/cash_device.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <type_traits>
#include <vector>

using monvia::device::CLSID_CashDevice;
using monvia::device::ICashDevice;
using monvia::device::IID_ICashDevice;
using monvia::device::LIBID_MonviaCashDevice;

namespace {

// --- The header side -------------------------------------------------------

// What a parameter of the header can be in the type library. Booleans are
// 16-bit integers in C++ (VARIANT_BOOL is a short), so a short may be either.
struct HeaderParam {
    std::vector<VARTYPE> types;
    bool by_reference = false;
};

template <class T>
struct ParamOf;
template <>
struct ParamOf<int16_t> {
    static HeaderParam get() { return {{VT_I2, VT_BOOL}, false}; }
};
template <>
struct ParamOf<int32_t> {
    static HeaderParam get() { return {{VT_I4}, false}; }
};
template <>
struct ParamOf<uint32_t> {
    static HeaderParam get() { return {{VT_UI4}, false}; }
};
template <>
struct ParamOf<BSTR> {
    static HeaderParam get() { return {{VT_BSTR}, false}; }
};
template <class T>
struct ParamOf<T*> {
    static HeaderParam get() {
        HeaderParam p = ParamOf<T>::get();
        p.by_reference = true;
        return p;
    }
};
static_assert(std::is_same_v<VARIANT_BOOL, int16_t>, "a Boolean is a 16-bit integer");

// A member as the header declares it: its byte offset in the vtable and its
// parameters.
struct HeaderMember {
    size_t offset = 0;
    std::vector<HeaderParam> params;
};

// GCC (also for Windows) represents a pointer to a virtual member function
// as 1 + the byte offset of its vtable slot, beside a this-adjustment.
template <class M>
size_t vtable_offset(M member) {
    struct Representation {
        uintptr_t pointer;
        ptrdiff_t adjustment;
    };
    static_assert(sizeof(M) == sizeof(Representation));
    Representation r;
    std::memcpy(&r, &member, sizeof r);
    EXPECT_EQ(r.pointer & 1, 1u) << "not a virtual member";
    EXPECT_EQ(r.adjustment, 0);
    return r.pointer - 1;
}

template <class C, class... A>
HeaderMember header(HRESULT (STDMETHODCALLTYPE C::*member)(A...)) {
    return {vtable_offset(member), {ParamOf<A>::get()...}};
}

// --- The contract, member by member ------------------------------------------

struct Row {
    HeaderMember in_header;
    INVOKEKIND kind;
    const char* signature;  // as the type library shows it, see signature_of()
};

const std::vector<Row>& contract() {
    static const std::vector<Row> rows = {
        {header(&ICashDevice::get_LastErrorCode), INVOKE_PROPERTYGET,
         "LastErrorCode([out, retval] short*) id 1 get"},
        {header(&ICashDevice::put_LastErrorCode), INVOKE_PROPERTYPUT, "LastErrorCode([in] short) id 1 put"},
        {header(&ICashDevice::get_LastErrorText), INVOKE_PROPERTYGET,
         "LastErrorText([out, retval] BSTR*) id 2 get"},
        {header(&ICashDevice::put_LastErrorText), INVOKE_PROPERTYPUT, "LastErrorText([in] BSTR) id 2 put"},
        {header(&ICashDevice::get_ColorA), INVOKE_PROPERTYGET,
         "ColorA([out, retval] unsigned long*) id 3 get"},
        {header(&ICashDevice::put_ColorA), INVOKE_PROPERTYPUT, "ColorA([in] unsigned long) id 3 put"},
        {header(&ICashDevice::get_ColorB), INVOKE_PROPERTYGET, "ColorB([out, retval] long*) id 4 get"},
        {header(&ICashDevice::put_ColorB), INVOKE_PROPERTYPUT, "ColorB([in] long) id 4 put"},
        {header(&ICashDevice::get_Host), INVOKE_PROPERTYGET, "Host([out, retval] BSTR*) id 5 get"},
        {header(&ICashDevice::put_Host), INVOKE_PROPERTYPUT, "Host([in] BSTR) id 5 put"},
        {header(&ICashDevice::Connect), INVOKE_FUNC, "Connect([out, retval] VARIANT_BOOL*) id 6"},
        {header(&ICashDevice::Disconnect), INVOKE_FUNC, "Disconnect() id 7"},
        {header(&ICashDevice::Change), INVOKE_FUNC,
         "Change([out] long*, [out] long*, [out, retval] VARIANT_BOOL*) id 8"},
        {header(&ICashDevice::AddChange), INVOKE_FUNC,
         "AddChange([out] long*, [out, retval] VARIANT_BOOL*) id 9"},
        {header(&ICashDevice::Pay), INVOKE_FUNC,
         "Pay([in] long, [out] long*, [out, retval] VARIANT_BOOL*) id 10"},
        {header(&ICashDevice::Charge), INVOKE_FUNC,
         "Charge([in] long, [out] long*, [out] long*, [out, retval] VARIANT_BOOL*) id 11"},
        {header(&ICashDevice::CashBoxControl), INVOKE_FUNC,
         "CashBoxControl([in] long, [out] long*, [out] long*, [in, out] long*, [out, retval] VARIANT_BOOL*) "
         "id 12"},
        {header(&ICashDevice::Configuration), INVOKE_FUNC,
         "Configuration([out, retval] VARIANT_BOOL*) id 13"},
        {header(&ICashDevice::GetAmounts), INVOKE_FUNC,
         "GetAmounts([in, out] BSTR*, [in, out] BSTR*, [out] long*, [out, retval] VARIANT_BOOL*) id 14"},
        {header(&ICashDevice::EmptyCashBox), INVOKE_FUNC,
         "EmptyCashBox([in] long, [out] long*, [out, retval] VARIANT_BOOL*) id 15"},
        {header(&ICashDevice::GetLevels), INVOKE_FUNC,
         "GetLevels([in] long, [in, out] BSTR*, [in, out] BSTR*, [out, retval] VARIANT_BOOL*) id 16"},
        {header(&ICashDevice::HandleError), INVOKE_FUNC,
         "HandleError([in] long, [in] BSTR, [out] VARIANT_BOOL*, [out, retval] VARIANT_BOOL*) id 17"},
        {header(&ICashDevice::get_Connected), INVOKE_PROPERTYGET,
         "Connected([out, retval] VARIANT_BOOL*) id 18 get"},
        {header(&ICashDevice::PaySpecific), INVOKE_FUNC,
         "PaySpecific([in] long, [out] long*, [out, retval] VARIANT_BOOL*) id 19"},
    };
    return rows;
}

// --- The type library side ---------------------------------------------------

template <class T>
struct Released {
    T* p = nullptr;
    ~Released() {
        if (p) p->Release();
    }
    T* operator->() const { return p; }
};

std::string type_name(const TYPEDESC& t) {
    switch (t.vt) {
        case VT_I2:
            return "short";
        case VT_I4:
            return "long";
        case VT_UI4:
            return "unsigned long";
        case VT_BSTR:
            return "BSTR";
        case VT_BOOL:
            return "VARIANT_BOOL";
        case VT_HRESULT:
            return "HRESULT";
        case VT_VOID:
            return "void";
        case VT_PTR:
            return type_name(*t.lptdesc) + "*";
        default:
            return "VT " + std::to_string(t.vt);
    }
}

std::string directions(USHORT flags) {
    std::vector<std::string> words;
    if (flags & PARAMFLAG_FIN) words.push_back("in");
    if (flags & PARAMFLAG_FOUT) words.push_back("out");
    if (flags & PARAMFLAG_FRETVAL) words.push_back("retval");
    std::string text;
    for (const auto& w : words) text += (text.empty() ? "" : ", ") + w;
    return "[" + text + "]";
}

std::string utf8(BSTR s) {
    std::string out;
    for (const wchar_t* p = s; p && *p; ++p) out += static_cast<char>(*p < 128 ? *p : '?');
    return out;
}

// "Name([in] long, [out] long*) id 10", with " get" or " put" for a property.
std::string signature_of(ITypeInfo* info, const FUNCDESC& f) {
    BSTR name = nullptr;
    info->GetDocumentation(f.memid, &name, nullptr, nullptr, nullptr);
    std::string text = utf8(name) + "(";
    SysFreeString(name);
    for (SHORT i = 0; i < f.cParams; ++i) {
        const ELEMDESC& p = f.lprgelemdescParam[i];
        if (i) text += ", ";
        text += directions(p.paramdesc.wParamFlags) + " " + type_name(p.tdesc);
    }
    text += ") id " + std::to_string(f.memid);
    if (f.invkind == INVOKE_PROPERTYGET) text += " get";
    if (f.invkind == INVOKE_PROPERTYPUT) text += " put";
    return text;
}

class TypeLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(LoadTypeLibEx(MONVIA_CASH_DEVICE_TLB, REGKIND_NONE, &library_.p), S_OK)
            << "cannot load " << utf8(const_cast<BSTR>(MONVIA_CASH_DEVICE_TLB));
    }
    Released<ITypeLib> library_;
};

TEST_F(TypeLibrary, IsALibraryOfItsOwnForTheBuildsBitness) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(library_->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_MonviaCashDevice));
    EXPECT_EQ(attr->wMajorVerNum, monvia::device::kTypeLibraryMajor);
    EXPECT_EQ(attr->wMinorVerNum, monvia::device::kTypeLibraryMinor);
    EXPECT_EQ(attr->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    library_->ReleaseTLibAttr(attr);
    BSTR name = nullptr;
    ASSERT_EQ(library_->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(utf8(name), "MonviaCashDevice");
    SysFreeString(name);
}

TEST_F(TypeLibrary, TheClassHasTheContractsIdentifierAndTheInterfaceAsItsDefault) {
    Released<ITypeInfo> cls;
    ASSERT_EQ(library_->GetTypeInfoOfGuid(CLSID_CashDevice, &cls.p), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(cls->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    ASSERT_EQ(attr->cImplTypes, 1);
    cls->ReleaseTypeAttr(attr);
    INT flags = 0;
    ASSERT_EQ(cls->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE ref = 0;
    ASSERT_EQ(cls->GetRefTypeOfImplType(0, &ref), S_OK);
    Released<ITypeInfo> implemented;
    ASSERT_EQ(cls->GetRefTypeInfo(ref, &implemented.p), S_OK);
    ASSERT_EQ(implemented->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_ICashDevice));
    implemented->ReleaseTypeAttr(attr);
}

TEST_F(TypeLibrary, TheInterfaceIsDualAndItsMembersMatchTheHeaderOneByOne) {
    // The dual interface's dispatch description, and through it the vtable
    // one that lists every member with its slot.
    Released<ITypeInfo> dispatch;
    ASSERT_EQ(library_->GetTypeInfoOfGuid(IID_ICashDevice, &dispatch.p), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(dispatch->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    dispatch->ReleaseTypeAttr(attr);
    HREFTYPE ref = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(-1, &ref), S_OK);
    Released<ITypeInfo> vtable;
    ASSERT_EQ(dispatch->GetRefTypeInfo(ref, &vtable.p), S_OK);
    ASSERT_EQ(vtable->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    // Marshalled by the system's type library marshaller.
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
    const WORD functions = attr->cFuncs;
    const WORD vtable_size = attr->cbSizeVft;
    vtable->ReleaseTypeAttr(attr);

    // The seven standard slots come first, as in the header.
    const size_t slot = sizeof(void*);
    EXPECT_EQ(vtable_offset(&IDispatch::Invoke), 6 * slot);
    const auto& rows = contract();
    ASSERT_EQ(rows.size(), 24u);
    EXPECT_EQ(functions, rows.size());
    EXPECT_EQ(vtable_size, (7 + rows.size()) * slot);

    std::cout << "ICashDevice in the type library (" << functions
              << " members after the 7 standard slots):\n";
    for (WORD i = 0; i < functions && i < rows.size(); ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(vtable->GetFuncDesc(i, &f), S_OK);
        const Row& row = rows[i];
        const std::string signature = signature_of(vtable.p, *f);
        std::cout << "  slot " << (7 + i) << " (oVft " << f->oVft << ") " << signature << " -> "
                  << type_name(f->elemdescFunc.tdesc) << "\n";
        SCOPED_TRACE(signature);
        // Order: the member stands in the header's slot.
        EXPECT_EQ(static_cast<size_t>(f->oVft), (7 + i) * slot);
        EXPECT_EQ(static_cast<size_t>(f->oVft), row.in_header.offset);
        EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
        EXPECT_EQ(f->callconv, CC_STDCALL);
        EXPECT_EQ(f->invkind, row.kind);
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
        EXPECT_EQ(signature, row.signature);
        // Parameters: the header's types, by value or by reference, and a
        // direction that agrees (only pointers go out).
        ASSERT_EQ(static_cast<size_t>(f->cParams), row.in_header.params.size());
        for (SHORT p = 0; p < f->cParams; ++p) {
            const ELEMDESC& e = f->lprgelemdescParam[p];
            const HeaderParam& h = row.in_header.params[p];
            const bool by_reference = e.tdesc.vt == VT_PTR;
            EXPECT_EQ(by_reference, h.by_reference) << "parameter " << p;
            const VARTYPE vt = by_reference ? e.tdesc.lptdesc->vt : e.tdesc.vt;
            EXPECT_NE(std::find(h.types.begin(), h.types.end(), vt), h.types.end())
                << "parameter " << p << " is VT " << vt << " in the type library";
            const USHORT flags = e.paramdesc.wParamFlags;
            EXPECT_EQ((flags & PARAMFLAG_FOUT) != 0, by_reference) << "parameter " << p;
            // An operation's result is its last parameter, a Boolean.
            if (flags & PARAMFLAG_FRETVAL) {
                EXPECT_EQ(p, f->cParams - 1) << "the result is the last parameter";
                if (row.kind == INVOKE_FUNC) {
                    EXPECT_EQ(vt, VT_BOOL);
                }
            }
        }
        vtable->ReleaseFuncDesc(f);
    }
}

}  // namespace

#pragma once
// The text of one journal line: one event on one line of printable text.
//
//   2026-12-09 14:03:07.412 Testing[4242] #1 Charge amount=125 &inserted=0 &returned=0 -> inserted=200
//   returned=75 result=True (14 us)
//
// date, local time with milliseconds, process name[process id], object
// number, member, then the arguments (name=value) and the values passed in
// by reference (&name=value); after "->" the outcome: "failed <status in hex>
// <description>" for a failing status, then every value returned
// (name=value) and the result (result=True/False); the call's duration last.
// Strings are in double quotes with \" \\ \n \r \t and \uXXXX escapes for
// every other control character, line separator or unpaired surrogate.

#include <monvia/component/bstr.h>
#include <monvia/component/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace monvia::journal {

using com::BSTR;
using com::VARIANT_BOOL;

// A string value as the journal shows it: quoted and escaped.
std::string quote(std::u16string_view text);
std::string quote_utf8(std::string_view text);

// "2026-12-09 14:03:07.412" in local time.
std::string timestamp(std::chrono::system_clock::time_point when);

// "Testing[4242]": the name and id of the process the journal runs in.
const std::string& process_label();

// The start of a line of object `object`: "<date> <time> <process> #<object>".
std::string line_start(std::chrono::system_clock::time_point when, uint64_t object);

// A call's duration as the journal shows it: "(14 us)".
std::string duration_text(std::chrono::steady_clock::duration took);

// The fields of a call, appended in order. Never throws: a field that cannot
// be formatted (memory) leaves the line shorter, never the call unmade.
class Fields {
public:
    Fields& value(const char* name, int64_t v) noexcept;
    Fields& value(const char* name, BSTR s) noexcept;
    // A value passed in by reference: "&name=<value>" or "&name=null".
    template <class T>
    Fields& in(const char* name, const T* p) noexcept {
        return p ? raw(std::string("&") + name, *p) : text(std::string("&") + name + "=null");
    }
    Fields& in(const char* name, BSTR* p) noexcept;
    // A value returned through a pointer: "name=<value>", nothing for null.
    template <class T>
    Fields& out(const char* name, const T* p) noexcept {
        return p ? raw(name, *p) : *this;
    }
    Fields& out(const char* name, BSTR* p) noexcept;
    Fields& result(const VARIANT_BOOL* p) noexcept;
    Fields& text(std::string_view t) noexcept;

    const std::string& str() const { return s_; }

private:
    template <class T>
    Fields& raw(const std::string& name, T v) noexcept {
        if constexpr (std::is_same_v<T, BSTR>)
            return value(name.c_str(), v);
        else
            return value(name.c_str(), static_cast<int64_t>(v));
    }
    std::string s_;
};

}  // namespace monvia::journal

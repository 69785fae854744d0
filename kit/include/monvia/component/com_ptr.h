#pragma once
// Reference-counted interface pointer: AddRef on copy, Release on destruction.

#include <monvia/component/types.h>

#include <utility>

namespace monvia::com {

template <class I>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ~ComPtr() { reset(); }

    ComPtr(const ComPtr& o) : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }

    // Takes over a reference the caller already owns (no AddRef).
    static ComPtr attach(I* p) {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    I* detach() { return std::exchange(p_, nullptr); }

    void reset() {
        if (p_) std::exchange(p_, nullptr)->Release();
    }
    I* get() const { return p_; }
    I* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For an out parameter: releases what is held and gives the slot.
    void** put_void() {
        reset();
        return reinterpret_cast<void**>(&p_);
    }

private:
    I* p_ = nullptr;
};

}  // namespace monvia::com

#pragma once

#include <unknwn.h>

#include <utility>

namespace quill::win32 {

// Owns one COM reference; releases it on every path.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            m_ptr = std::exchange(other.m_ptr, nullptr);
        }
        return *this;
    }

    T* get() const noexcept { return m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }

    // For out-parameters: releases what is held and hands out the slot.
    T** put() noexcept {
        reset();
        return &m_ptr;
    }
    void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

    void reset() noexcept {
        if (m_ptr)
            std::exchange(m_ptr, nullptr)->Release();
    }

    // QueryInterface into another smart pointer; returns the HRESULT.
    template <class U> [[nodiscard]] HRESULT as(REFIID iid, ComPtr<U>& out) const noexcept {
        return m_ptr ? m_ptr->QueryInterface(iid, out.putVoid()) : E_POINTER;
    }

private:
    T* m_ptr = nullptr;
};

} // namespace quill::win32

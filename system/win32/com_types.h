#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <string_view>
#include <utility>

namespace quill::win32 {

// An owned BSTR. wipe() zeroes it before freeing, for texts that held a password.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::wstring_view text) : m_bstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { reset(); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : m_bstr(std::exchange(other.m_bstr, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        if (this != &other) {
            reset();
            m_bstr = std::exchange(other.m_bstr, nullptr);
        }
        return *this;
    }

    BSTR get() const noexcept { return m_bstr; }
    BSTR* put() noexcept {
        reset();
        return &m_bstr;
    }
    BSTR release() noexcept { return std::exchange(m_bstr, nullptr); }
    std::wstring_view view() const noexcept { return {m_bstr ? m_bstr : L"", m_bstr ? SysStringLen(m_bstr) : 0u}; }
    bool allocated() const noexcept { return m_bstr != nullptr; }

    void wipe() noexcept {
        if (m_bstr)
            SecureZeroMemory(m_bstr, SysStringByteLen(m_bstr));
        reset();
    }
    void reset() noexcept {
        if (m_bstr)
            SysFreeString(std::exchange(m_bstr, nullptr));
    }

private:
    BSTR m_bstr = nullptr;
};

// An owned VARIANT, cleared on every path.
class Variant {
public:
    Variant() noexcept { VariantInit(&m_variant); }
    ~Variant() { VariantClear(&m_variant); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    VARIANT* get() noexcept { return &m_variant; }
    const VARIANT* get() const noexcept { return &m_variant; }
    VARIANT* put() noexcept {
        VariantClear(&m_variant);
        return &m_variant;
    }
    // Hands the contents over; this object is left empty.
    VARIANT release() noexcept {
        VARIANT out = m_variant;
        VariantInit(&m_variant);
        return out;
    }

private:
    VARIANT m_variant;
};

} // namespace quill::win32

#include "secret.h"

#include <cstring>

namespace directory {

void secureZero(void* data, std::size_t size) noexcept {
    // A volatile pointer keeps the stores from being optimised away as dead.
    volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
    while (size--)
        *p++ = 0;
}

Secret::Secret(Secret&& other) noexcept {
    // Swap rather than move: a moved-from small string may keep its characters inline.
    m_text.swap(other.m_text);
}

Secret& Secret::operator=(Secret&& other) noexcept {
    if (this != &other) {
        wipe();
        m_text.swap(other.m_text);
    }
    return *this;
}

void Secret::wipe() noexcept {
    secureZero(m_text.data(), m_text.capacity());
    m_text.clear();
}

} // namespace directory

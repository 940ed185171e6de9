#pragma once

#include <string>
#include <string_view>

namespace directory {

// A password held for the time one call needs it; the buffer is zeroed when it is released.
class Secret {
public:
    Secret() = default;
    explicit Secret(std::string_view text) : m_text(text) {}
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    Secret(Secret&& other) noexcept;
    Secret& operator=(Secret&& other) noexcept;
    ~Secret() { wipe(); }

    std::string_view view() const noexcept { return m_text; }
    bool empty() const noexcept { return m_text.empty(); }
    void wipe() noexcept;

private:
    std::string m_text;
};

// Zeroes a buffer in a way the optimiser cannot drop.
void secureZero(void* data, std::size_t size) noexcept;
inline void secureZero(std::string& s) noexcept {
    secureZero(s.data(), s.size());
}

} // namespace directory

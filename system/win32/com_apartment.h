#pragma once

namespace quill::win32 {

// COM for the calling thread, single-threaded apartment (the window's thread), for its lifetime.
// Throws quill::RuntimeError when COM cannot be started.
class ComApartment {
public:
    ComApartment();
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool m_initialised = false;
};

} // namespace quill::win32

#include "system/win32/com_apartment.h"

#include <objbase.h>

#include "directory/error.h"
#include "system/win32/win32_text.h"

namespace quill::win32 {

ComApartment::ComApartment() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (hr == RPC_E_CHANGED_MODE)
        return; // someone else set the thread up; their apartment serves us too
    if (hr < 0)
        throw RuntimeError(hr, systemMessage(hr));
    m_initialised = true;
}

ComApartment::~ComApartment() {
    if (m_initialised)
        CoUninitialize();
}

} // namespace quill::win32

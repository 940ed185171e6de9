#include "app/platform_date.h"

#include <windows.h>

#include <oleauto.h>

#include <string>

namespace app {

bool isDateText(std::string_view text) noexcept {
    // The provider turns the text written to AccountExpirationDate into a date with this very
    // conversion, for the user's locale: whatever it takes is a date, and nothing else is.
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0)
        return false;
    BSTR wide = SysAllocStringLen(nullptr, static_cast<UINT>(size));
    if (!wide)
        return false;
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide, size);
    DATE date = 0;
    const HRESULT hr = VarDateFromStr(wide, LOCALE_USER_DEFAULT, 0, &date);
    SysFreeString(wide);
    return SUCCEEDED(hr);
}

} // namespace app

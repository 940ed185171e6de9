#include "system/win32/wmi_computer_system_query.h"

#include <windows.h>

#include <wbemidl.h>

#include "directory/error.h"
#include "system/win32/com_ptr.h"
#include "system/win32/com_types.h"
#include "system/win32/win32_text.h"

namespace sysinfo {

using quill::win32::Bstr;
using quill::win32::ComPtr;
using quill::win32::Variant;

namespace {

void check(HRESULT hr, const char* step) {
    if (hr < 0)
        throw quill::RuntimeError(hr, std::string(step) + ": " + quill::win32::systemMessage(hr));
}

std::string textProperty(IWbemClassObject& object, const wchar_t* name) {
    Variant value;
    check(object.Get(name, 0, value.put(), nullptr, nullptr), "Win32_ComputerSystem property");
    if (value.get()->vt == VT_NULL || value.get()->vt == VT_EMPTY)
        return {};
    if (value.get()->vt != VT_BSTR)
        check(VariantChangeType(value.get(), value.get(), 0, VT_BSTR), "Win32_ComputerSystem property");
    const BSTR text = value.get()->bstrVal;
    return quill::win32::toUtf8({text ? text : L"", text ? SysStringLen(text) : 0u});
}

// DomainRole 0 and 2 are the standalone workstation and server: a workgroup's members. It is read
// rather than PartOfDomain, which wine's WMI does not offer; without it the computer counts as in a domain.
bool partOfDomain(IWbemClassObject& object) {
    Variant value;
    const HRESULT hr = object.Get(L"DomainRole", 0, value.put(), nullptr, nullptr);
    if (hr == static_cast<HRESULT>(WBEM_E_NOT_FOUND))
        return true;
    check(hr, "Win32_ComputerSystem property");
    if (value.get()->vt == VT_NULL || value.get()->vt == VT_EMPTY)
        return true;
    check(VariantChangeType(value.get(), value.get(), 0, VT_I4), "Win32_ComputerSystem property");
    return value.get()->lVal != 0 && value.get()->lVal != 2;
}

} // namespace

std::vector<ComputerSystem> WmiComputerSystemQuery::query() {
    ComPtr<IWbemLocator> locator;
    check(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator, locator.putVoid()),
          "WMI locator");

    ComPtr<IWbemServices> services;
    const Bstr nameSpace(L"root\\cimv2");
    check(locator->ConnectServer(nameSpace.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.put()),
          "WMI root\\cimv2");
    // The caller's own identity, as the scripting moniker would use it.
    check(CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                            RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE),
          "WMI security");

    const Bstr language(L"WQL");
    const Bstr text(L"Select * from Win32_ComputerSystem");
    ComPtr<IEnumWbemClassObject> rows;
    check(services->ExecQuery(language.get(), text.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                              nullptr, rows.put()),
          "WMI query");

    std::vector<ComputerSystem> result;
    for (;;) {
        ComPtr<IWbemClassObject> row;
        ULONG returned = 0;
        const HRESULT hr = rows->Next(static_cast<LONG>(WBEM_INFINITE), 1, row.put(), &returned);
        check(hr, "WMI query");
        if (returned == 0)
            break;
        result.push_back(
            {textProperty(*row.get(), L"Domain"), textProperty(*row.get(), L"Name"), partOfDomain(*row.get())});
    }
    return result;
}

std::unique_ptr<ComputerSystemQuery> makePlatformQuery() {
    return std::make_unique<WmiComputerSystemQuery>();
}

} // namespace sysinfo

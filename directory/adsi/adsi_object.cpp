#include "directory/adsi/adsi_object.h"

#include <oleauto.h>

#include "directory/adsi/adsi_error.h"
#include "directory/adsi/enum_variant.h"
#include "directory/adsi/variant_value.h"
#include "system/win32/com_types.h"
#include "system/win32/win32_text.h"

namespace directory::adsi {

using quill::win32::Bstr;
using quill::win32::ComPtr;
using quill::win32::toUtf8;
using quill::win32::toWide;
using quill::win32::Variant;

namespace {

Bstr bstr(const std::string& text) {
    Bstr out(toWide(text));
    if (!out.allocated())
        fail(E_OUTOFMEMORY, "text");
    return out;
}

// Walks an automation enumerator (from get__NewEnum), handing each item over as IADs.
void walk(IUnknown* enumerator, const std::function<void(ComPtr<IADs>)>& visit, std::string_view step) {
    ComPtr<IEnumVARIANT> items;
    check(enumerator->QueryInterface(IID_IEnumVARIANT, items.putVoid()), step);
    forEachVariant(
        *items.get(),
        [&](VARIANT& item) {
            if (item.vt != VT_DISPATCH || !item.pdispVal)
                fail(E_NOINTERFACE, step);
            ComPtr<IADs> ads;
            check(item.pdispVal->QueryInterface(IID_IADs, ads.putVoid()), step);
            visit(std::move(ads));
        },
        step);
}

} // namespace

AdsiObject::AdsiObject(ComPtr<IADs> ads) : m_ads(std::move(ads)) {}

std::string AdsiObject::name() {
    Bstr value;
    check(m_ads->get_Name(value.put()), "Name");
    return toUtf8(value.view());
}

std::string AdsiObject::adsPath() {
    Bstr value;
    check(m_ads->get_ADsPath(value.put()), "ADsPath");
    return toUtf8(value.view());
}

void AdsiObject::put(std::string_view property, const Value& value) {
    const std::string step = "put " + std::string(property);
    std::wstring wideName = toWide(property);
    LPOLESTR names[] = {wideName.data()};
    DISPID id = 0;
    check(m_ads->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), step);

    Variant argument;
    *argument.get() = toVariant(value);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS parameters{argument.get(), &named, 1, 1};
    EXCEPINFO exception{};
    UINT badArgument = 0;
    const HRESULT hr = m_ads->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &parameters, nullptr,
                                     &exception, &badArgument);
    if (hr == DISP_E_EXCEPTION) {
        // The provider's own failure travels in the exception record.
        if (exception.pfnDeferredFillIn)
            exception.pfnDeferredFillIn(&exception);
        Bstr source, description, helpFile;
        *source.put() = exception.bstrSource;
        *description.put() = exception.bstrDescription;
        *helpFile.put() = exception.bstrHelpFile;
        const long code = exception.scode < 0 ? exception.scode : static_cast<long>(E_FAIL);
        if (!description.view().empty())
            throw Error(code, step + ": " + toUtf8(description.view()));
        fail(code, step);
    }
    check(hr, step);
}

void AdsiObject::setInfo() {
    check(m_ads->SetInfo(), "SetInfo");
}

AdsiUser::AdsiUser(ComPtr<IADs> ads, ComPtr<IADsUser> user) : AdsiObject(std::move(ads)), m_user(std::move(user)) {}

std::string AdsiUser::description() {
    Bstr value;
    check(m_user->get_Description(value.put()), "Description");
    return toUtf8(value.view());
}

void AdsiUser::setDescription(const std::string& text) {
    const Bstr value = bstr(text);
    check(m_user->put_Description(value.get()), "Description");
}

bool AdsiUser::accountDisabled() {
    VARIANT_BOOL value = VARIANT_FALSE;
    check(m_user->get_AccountDisabled(&value), "AccountDisabled");
    return value != VARIANT_FALSE;
}

void AdsiUser::setAccountDisabled(bool disabled) {
    check(m_user->put_AccountDisabled(disabled ? VARIANT_TRUE : VARIANT_FALSE), "AccountDisabled");
}

bool AdsiUser::isAccountLocked() {
    VARIANT_BOOL value = VARIANT_FALSE;
    check(m_user->get_IsAccountLocked(&value), "IsAccountLocked");
    return value != VARIANT_FALSE;
}

void AdsiUser::setIsAccountLocked(bool locked) {
    check(m_user->put_IsAccountLocked(locked ? VARIANT_TRUE : VARIANT_FALSE), "IsAccountLocked");
}

void AdsiUser::setPassword(const Secret& password) {
    std::wstring wide = toWide(password.view());
    Bstr value(wide);
    SecureZeroMemory(wide.data(), wide.size() * sizeof(wchar_t));
    if (!value.allocated())
        fail(E_OUTOFMEMORY, "SetPassword");
    const HRESULT hr = m_user->SetPassword(value.get());
    value.wipe();
    check(hr, "SetPassword");
}

bool AdsiUser::passwordNeverExpires() {
    constexpr long kDontExpirePassword = 0x10000; // ADS_UF_DONT_EXPIRE_PASSWD
    const Bstr name = bstr("UserFlags");
    Variant value;
    check(m_user->Get(name.get(), value.put()), "UserFlags");
    check(VariantChangeType(value.get(), value.get(), 0, VT_I4), "UserFlags");
    return (value.get()->lVal & kDontExpirePassword) != 0;
}

void AdsiUser::groups(const std::function<void(Group&)>& visit) {
    ComPtr<IADsMembers> members;
    check(m_user->Groups(members.put()), "Groups");
    ComPtr<IUnknown> enumerator;
    check(members->get__NewEnum(enumerator.put()), "Groups");
    walk(
        enumerator.get(),
        [&](ComPtr<IADs> ads) {
            ComPtr<IADsGroup> group;
            check(ads.as(IID_IADsGroup, group), "Groups");
            AdsiGroup item(std::move(ads), std::move(group));
            visit(item);
        },
        "Groups");
}

AdsiGroup::AdsiGroup(ComPtr<IADs> ads, ComPtr<IADsGroup> group)
    : AdsiObject(std::move(ads)), m_group(std::move(group)) {}

std::string AdsiGroup::description() {
    Bstr value;
    check(m_group->get_Description(value.put()), "Description");
    return toUtf8(value.view());
}

void AdsiGroup::add(const std::string& memberPath) {
    const Bstr path = bstr(memberPath);
    check(m_group->Add(path.get()), "Add");
}

void AdsiGroup::remove(const std::string& memberPath) {
    const Bstr path = bstr(memberPath);
    check(m_group->Remove(path.get()), "Remove");
}

AdsiContainer::AdsiContainer(ComPtr<IADs> ads, ComPtr<IADsContainer> container)
    : AdsiObject(std::move(ads)), m_container(std::move(container)) {}

void AdsiContainer::enumerate(const std::function<void(Object&)>& visit) {
    ComPtr<IUnknown> enumerator;
    check(m_container->get__NewEnum(enumerator.put()), "enumerate");
    walk(
        enumerator.get(),
        [&](ComPtr<IADs> ads) {
            const auto item = wrap(std::move(ads));
            visit(*item);
        },
        "enumerate");
}

std::unique_ptr<Object> wrap(ComPtr<IADs> ads) {
    if (ComPtr<IADsUser> user; ads.as(IID_IADsUser, user) >= 0)
        return std::make_unique<AdsiUser>(std::move(ads), std::move(user));
    if (ComPtr<IADsGroup> group; ads.as(IID_IADsGroup, group) >= 0)
        return std::make_unique<AdsiGroup>(std::move(ads), std::move(group));
    if (ComPtr<IADsContainer> container; ads.as(IID_IADsContainer, container) >= 0)
        return std::make_unique<AdsiContainer>(std::move(ads), std::move(container));
    return std::make_unique<AdsiObject>(std::move(ads));
}

} // namespace directory::adsi

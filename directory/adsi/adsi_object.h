#pragma once

#include <windows.h>

#include <iads.h>

#include <memory>

#include "directory/service.h"
#include "system/win32/com_ptr.h"

#ifdef _MSC_VER
#pragma warning(disable : 4250) // Object's members come from AdsiObject by dominance, as intended
#endif

namespace directory::adsi {

// A bound ADSI object: IADs for the common calls, its dispatch interface for writes by name.
// Every failing HRESULT throws directory::Error.
class AdsiObject : public virtual Object {
public:
    explicit AdsiObject(quill::win32::ComPtr<IADs> ads);

    std::string name() override;
    std::string adsPath() override;
    void put(std::string_view property, const Value& value) override;
    void setInfo() override;

protected:
    IADs* ads() const noexcept { return m_ads.get(); }

private:
    quill::win32::ComPtr<IADs> m_ads;
};

class AdsiUser final : public User, public AdsiObject {
public:
    AdsiUser(quill::win32::ComPtr<IADs> ads, quill::win32::ComPtr<IADsUser> user);

    std::string description() override;
    void setDescription(const std::string& text) override;
    bool accountDisabled() override;
    void setAccountDisabled(bool disabled) override;
    bool isAccountLocked() override;
    void setIsAccountLocked(bool locked) override;
    void setPassword(const Secret& password) override;
    bool passwordNeverExpires() override;
    void groups(const std::function<void(Group&)>& visit) override;

private:
    quill::win32::ComPtr<IADsUser> m_user;
};

class AdsiGroup final : public Group, public AdsiObject {
public:
    AdsiGroup(quill::win32::ComPtr<IADs> ads, quill::win32::ComPtr<IADsGroup> group);

    std::string description() override;
    void add(const std::string& memberPath) override;
    void remove(const std::string& memberPath) override;

private:
    quill::win32::ComPtr<IADsGroup> m_group;
};

// A domain or computer: IADsContainer, filtered through put("Filter", ...) like any property.
class AdsiContainer final : public Container, public AdsiObject {
public:
    AdsiContainer(quill::win32::ComPtr<IADs> ads, quill::win32::ComPtr<IADsContainer> container);

    void enumerate(const std::function<void(Object&)>& visit) override;

private:
    quill::win32::ComPtr<IADsContainer> m_container;
};

// Wraps a bound object as the richest interface it offers: user, group, container or plain object.
std::unique_ptr<Object> wrap(quill::win32::ComPtr<IADs> ads);

} // namespace directory::adsi

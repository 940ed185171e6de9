#include "directory/adsi/adsi_service.h"

#include <windows.h>

#include <activeds.h>

#include "directory/adsi/adsi_error.h"
#include "directory/adsi/adsi_object.h"
#include "directory/platform_service.h"
#include "system/win32/win32_text.h"

namespace directory {

namespace adsi {

std::unique_ptr<Object> AdsiService::bind(std::string_view path) {
    const std::wstring displayName = quill::win32::toWide(path);
    quill::win32::ComPtr<IADs> ads;
    check(ADsGetObject(displayName.c_str(), IID_IADs, ads.putVoid()), "bind " + std::string(path));
    return wrap(std::move(ads));
}

} // namespace adsi

std::unique_ptr<Service> makePlatformService() {
    return std::make_unique<adsi::AdsiService>();
}

} // namespace directory

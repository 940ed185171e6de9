#pragma once

#include "directory/service.h"

namespace directory::adsi {

// The platform's own directory service objects: binds a path as a display name (ADsGetObject), in
// the current user's security context, with no credentials. Needs COM on the calling thread.
class AdsiService final : public Service {
public:
    // Throws directory::Error with the HRESULT when nothing answers at the path.
    std::unique_ptr<Object> bind(std::string_view path) override;
};

} // namespace directory::adsi

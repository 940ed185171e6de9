#pragma once

#include <memory>

#include "service.h"

namespace directory {

// The directory service of the platform the program runs on: the platform's own objects on
// Windows; on Linux this computer's own accounts or an Active Directory domain, by target.
// Library target quill_platform.
std::unique_ptr<Service> makePlatformService();

} // namespace directory

#include "platform_service.h"

#include "routing_service.h"

namespace directory {

std::unique_ptr<Service> makePlatformService() {
    // Filled in when the backends land.
    return std::make_unique<RoutingService>(nullptr, nullptr, nullptr);
}

} // namespace directory

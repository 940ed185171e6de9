#include "app/platform_date.h"

#include "directory/date_text.h"

namespace app {

bool isDateText(std::string_view text) noexcept {
    return directory::parseDateText(text).has_value();
}

} // namespace app

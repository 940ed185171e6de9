#pragma once

#include <memory>
#include <vector>

#include "directory/object_path.h"
#include "directory/service.h"
#include "unix_context.h"

namespace unixacct {

// This computer as a container of its local accounts: users in passwd order, then groups in
// group order, limited by put("Filter", array of class names).
class UnixContainer final : public directory::Container {
public:
    UnixContainer(std::shared_ptr<const UnixContext> context, directory::ObjectPath path);

    std::string name() override;
    std::string adsPath() override;
    // Only "Filter": an array of class name texts ("User", "Group"); the empty array lists all.
    void put(std::string_view property, const directory::Value& value) override;
    void setInfo() override;
    void enumerate(const std::function<void(directory::Object&)>& visit) override;

private:
    bool wants(std::string_view className) const;

    std::shared_ptr<const UnixContext> m_context;
    directory::ObjectPath m_path;
    std::vector<std::string> m_filter;
};

} // namespace unixacct

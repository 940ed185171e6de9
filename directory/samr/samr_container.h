#pragma once

#include <memory>
#include <string>

#include "directory/service.h"
#include "samr_pipe.h"

namespace samrdir {

// A computer as the container of its own accounts. put("Filter", array of class names) picks what
// enumerate yields: "User", "Group" (the local groups of its account domain); without a filter both.
class SamrContainer final : public directory::Container {
public:
    SamrContainer(std::shared_ptr<SamrPipe> pipe, std::string host)
        : m_pipe(std::move(pipe)), m_host(std::move(host)) {}

    std::string name() override { return m_pipe->computerName(); }
    std::string adsPath() override { return "WinNT://" + m_host; }
    void put(std::string_view property, const directory::Value& value) override;
    void setInfo() override {}
    void enumerate(const std::function<void(directory::Object&)>& visit) override;

private:
    std::shared_ptr<SamrPipe> m_pipe;
    std::string m_host;
    bool m_users = true;
    bool m_groups = true;
};

} // namespace samrdir

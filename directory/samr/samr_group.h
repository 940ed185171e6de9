#pragma once

#include <memory>
#include <optional>
#include <string>

#include "directory/service.h"
#include "samr_pipe.h"

namespace samrdir {

// A local group (alias) of a computer, in its account domain or in Builtin. Members are users of
// the same computer, given by path; changes act at once and are read back.
class SamrGroup final : public directory::Group {
public:
    SamrGroup(std::shared_ptr<SamrPipe> pipe, std::string host, Account alias)
        : m_pipe(std::move(pipe)), m_host(std::move(host)), m_alias(std::move(alias)) {}

    std::string name() override { return m_alias.name; }
    std::string adsPath() override { return "WinNT://" + m_host + "/" + m_alias.name; }
    void put(std::string_view property, const directory::Value& value) override;
    void setInfo() override {}
    std::string description() override;
    void add(const std::string& memberPath) override { change(memberPath, true); }
    void remove(const std::string& memberPath) override { change(memberPath, false); }

private:
    void change(const std::string& memberPath, bool adding);

    std::shared_ptr<SamrPipe> m_pipe;
    std::string m_host;
    Account m_alias;
    std::optional<std::string> m_description;
};

} // namespace samrdir

#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "directory/service.h"

namespace guitest {

struct MemoryAccount {
    std::string name;
    std::string description;
    bool disabled = false;
    bool locked = false;
    std::string password;
    std::optional<std::int32_t> passwordExpired;
    std::optional<directory::Value> expiration;
    bool passwordNeverExpires = false;
};

// A small in-memory directory: one domain's users in listing order. It records every bind and
// whether the busy pointer showed at that moment; writes stay pending until SetInfo.
class MemoryDirectory final : public directory::Service {
public:
    explicit MemoryDirectory(std::string domain) : m_domain(std::move(domain)) {}

    MemoryAccount& add(MemoryAccount account);
    MemoryAccount* find(std::string_view name);

    std::unique_ptr<directory::Object> bind(std::string_view path) override;

    // Every bound path, in order.
    std::vector<std::string> binds;
    // For each bind: was the wait cursor the application's override cursor?
    std::vector<bool> busyAtBind;
    // Property names whose put is refused (the write throws directory::Error).
    std::set<std::string> refusedPuts;
    // Runs inside every bind of a user path: a slow directory call, during which input queues.
    std::function<void()> duringUserBind;

    // Binds of user paths only (the account lookups and actions).
    std::vector<std::string> userBinds() const;
    const std::string& domain() const noexcept { return m_domain; }
    void setDomain(std::string domain) { m_domain = std::move(domain); }

private:
    std::string m_domain;
    std::vector<MemoryAccount> m_accounts;
};

// The account's directory state as one line, for comparing whole outcomes.
std::string describe(const MemoryAccount& account);

} // namespace guitest

#include <fuzzer/FuzzedDataProvider.h>

#include <utility>
#include <vector>

#include "directory/adsi_control.h"
#include "fuzz_check.h"

namespace {

struct GroupText {
    std::string name, description;
};

// The smallest directory that answers one thing: the groups of any account, as the input says.
class InputGroup final : public directory::Group {
public:
    explicit InputGroup(const GroupText& text) : m_text(text) {}
    std::string name() override { return m_text.name; }
    std::string adsPath() override { return {}; }
    void put(std::string_view, const directory::Value&) override {}
    void setInfo() override {}
    std::string description() override { return m_text.description; }
    void add(const std::string&) override {}
    void remove(const std::string&) override {}

private:
    const GroupText& m_text;
};

class InputUser final : public directory::User {
public:
    explicit InputUser(const std::vector<GroupText>& groups) : m_groups(groups) {}
    std::string name() override { return {}; }
    std::string adsPath() override { return {}; }
    void put(std::string_view, const directory::Value&) override {}
    void setInfo() override {}
    std::string description() override { return {}; }
    void setDescription(const std::string&) override {}
    bool accountDisabled() override { return false; }
    void setAccountDisabled(bool) override {}
    bool isAccountLocked() override { return false; }
    void setIsAccountLocked(bool) override {}
    void setPassword(const directory::Secret&) override {}
    bool passwordNeverExpires() override { return false; }
    void groups(const std::function<void(directory::Group&)>& visit) override {
        for (const GroupText& text : m_groups) {
            InputGroup group(text);
            visit(group);
        }
    }

private:
    const std::vector<GroupText>& m_groups;
};

class InputService final : public directory::Service {
public:
    std::vector<GroupText> groups;
    std::unique_ptr<directory::Object> bind(std::string_view) override { return std::make_unique<InputUser>(groups); }
};

class SilentOperator final : public quill::Operator {
public:
    int messageBox(const std::string&, int, const std::optional<std::string>&) override { return 0; }
    void setBusy(bool) override {}
    void reportEscapedError(long, const std::string&) override {}
};

// A second splitter, written independently: a character scan instead of repeated find.
std::vector<std::string> scanSplit(const std::string& text, const std::string& separator) {
    std::vector<std::string> pieces;
    if (text.empty())
        return pieces;
    std::string current;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, separator.size(), separator) == 0) {
            pieces.push_back(current);
            current.clear();
            i += separator.size();
        } else {
            current += text[i++];
        }
    }
    pieces.push_back(current);
    return pieces;
}

std::string readOrRaise(const directory::ADSIControl& control, std::int32_t line, const std::string& field,
                        bool& raised) {
    raised = false;
    try {
        return control.acGGpName(line, field);
    } catch (const quill::RuntimeError& e) {
        FUZZ_CHECK(e.number() == quill::errors::kSubscriptOutOfRange);
        raised = true;
        return {};
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    InputService service;
    // A few groups show every way the separators can meet; more only make each run longer.
    while (in.remaining_bytes() > 0 && service.groups.size() < 12)
        service.groups.push_back({in.ConsumeRandomLengthString(40), in.ConsumeRandomLengthString(40)});
    SilentOperator op;
    directory::ADSIControl control(service, op);
    FUZZ_CHECK(control.acGroubalGroupGet("someone"));
    const std::string list = control.groupList();

    // Both splittings agree on every line and field, and the reader raises 9 exactly past the ends.
    const auto lines = scanSplit(list, "\r\n");
    const auto count = static_cast<std::int32_t>(lines.size());
    FUZZ_CHECK(control.acGGpCount() == count - 1);
    bool raised = false;
    bool shortLineRead = false;
    for (std::int32_t i = 0; i < count; ++i) {
        const auto fields = scanSplit(lines[static_cast<std::size_t>(i)], "/*s*/");
        const std::string name = readOrRaise(control, i, "Name", raised);
        FUZZ_CHECK(raised == fields.empty());
        if (!raised)
            FUZZ_CHECK(name == fields[0]);
        // Lines without a separator raise on their description: the first such line shows it, as
        // every raise costs the sanitizer system calls.
        if (fields.size() < 2 && std::exchange(shortLineRead, true))
            continue;
        const std::string description = readOrRaise(control, i, "Description", raised);
        FUZZ_CHECK(raised == (fields.size() < 2));
        if (!raised)
            FUZZ_CHECK(description == fields[1]);
        FUZZ_CHECK(readOrRaise(control, i, "Other", raised).empty() && !raised);
    }
    // Past the ends for one list in four (by its length), one read each; which read changes with
    // the list. The ends are the same code whatever the list holds.
    if (lines.size() % 4 == 0)
        for (const std::int32_t i : {-1, count}) {
            readOrRaise(control, i, lines.size() % 8 == 0 ? "Name" : "Description", raised);
            FUZZ_CHECK(raised);
        }

    // When no text holds a line break and no name holds a slash, each group is one line, its name
    // the first field and its description up to any separator inside it.
    bool plain = true;
    for (const auto& g : service.groups)
        plain = plain && g.name.find_first_of("\r\n/") == std::string::npos &&
                g.description.find_first_of("\r\n") == std::string::npos;
    if (plain) {
        FUZZ_CHECK(control.acGGpCount() == static_cast<std::int32_t>(service.groups.size()) - 1);
        for (std::size_t i = 0; i < service.groups.size(); ++i) {
            bool raised = false;
            const auto line = static_cast<std::int32_t>(i);
            FUZZ_CHECK(readOrRaise(control, line, "Name", raised) == service.groups[i].name && !raised);
            const std::string& d = service.groups[i].description;
            FUZZ_CHECK(readOrRaise(control, line, "Description", raised) == d.substr(0, d.find("/*s*/")) && !raised);
        }
    }
    return 0;
}

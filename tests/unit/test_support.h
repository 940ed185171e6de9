#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/clock.h"
#include "directory/error.h"
#include "directory/operator.h"
#include "system/computer_system.h"

namespace fakes {

struct ShownBox {
    std::string text;
    int style;
    std::optional<std::string> title;
    bool operator==(const ShownBox&) const = default;
};

// Answers message boxes from a script and records everything shown. The busy pointer is
// tracked as a depth, and every switch is logged so tests can see it was restored.
class ScriptedOperator final : public quill::Operator {
public:
    std::deque<int> answers; // for Yes/No boxes; an OK box answers 1 without taking one
    std::vector<ShownBox> shown;
    std::vector<bool> busySwitches;
    int busyDepth = 0;
    int maxBusyDepth = 0;
    std::vector<std::pair<long, std::string>> escaped;
    std::vector<std::string>* sharedLog = nullptr; // interleaves boxes with directory calls

    int messageBox(const std::string& text, int style, const std::optional<std::string>& title) override {
        shown.push_back({text, style, title});
        if (sharedLog)
            sharedLog->push_back("box " + text);
        if ((style & quill::msgbox::kButtonMask) == quill::msgbox::kOkOnly)
            return quill::msgbox::kAnswerOk;
        if (answers.empty())
            return quill::msgbox::kAnswerNo;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void setBusy(bool busy) override {
        busySwitches.push_back(busy);
        busyDepth += busy ? 1 : -1;
        maxBusyDepth = std::max(maxBusyDepth, busyDepth);
        if (sharedLog)
            sharedLog->push_back(busy ? "busy on" : "busy off");
    }
    void reportEscapedError(long number, const std::string& description) override {
        escaped.emplace_back(number, description);
    }
};

class FakeComputerSystem final : public sysinfo::ComputerSystemQuery {
public:
    std::vector<sysinfo::ComputerSystem> systems{{"CORP", "PC01"}};
    int queries = 0;
    bool fail = false;

    std::vector<sysinfo::ComputerSystem> query() override {
        ++queries;
        if (fail)
            throw quill::RuntimeError(static_cast<long>(0x80041003L), "Access denied");
        return systems;
    }
};

class FixedClock final : public app::Clock {
public:
    directory::CivilDate date{2026, 12, 7};
    directory::CivilDate today() const override { return date; }
};

} // namespace fakes

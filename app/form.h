#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// The state of the window's controls, the one place the window logic reads and writes.
// Front ends mirror it into widgets (the view observer) and feed the person's edits back in with
// setText/setValue. A text change raises the control's Change event at once, re-entrantly, and
// only when the text really differs: writing the text a control already holds raises nothing.
class Form {
public:
    enum class Property { Caption, Text, Enabled, Value, Items };

    Form();

    const std::string& caption() const noexcept { return m_caption; }
    void setCaption(std::string caption);

    const std::string& text(std::string_view control) const;
    void setText(std::string_view control, std::string text);

    bool enabled(std::string_view control) const;
    void setEnabled(std::string_view control, bool enabled);

    // A check box's value: 0 unticked, 1 ticked.
    int value(std::string_view control) const;
    void setValue(std::string_view control, int value);

    const std::vector<std::string>& items(std::string_view control) const;
    void addItem(std::string_view control, std::string item);

    // The window logic's Change handler (control name).
    void onChange(std::function<void(std::string_view control)> handler) { m_changeHandler = std::move(handler); }
    // The front end's mirror: called after every property change, before the Change event.
    void onViewUpdate(std::function<void(std::string_view control, Property property)> observer) {
        m_viewObserver = std::move(observer);
    }

private:
    struct State {
        std::string text;
        bool enabled = true;
        int value = 0;
        std::vector<std::string> items;
    };
    State& state(std::string_view control);
    const State& state(std::string_view control) const;
    void notify(std::string_view control, Property property);

    std::string m_caption;
    std::map<std::string, State, std::less<>> m_controls;
    std::function<void(std::string_view)> m_changeHandler;
    std::function<void(std::string_view, Property)> m_viewObserver;
};

} // namespace app

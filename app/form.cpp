#include "app/form.h"

#include <stdexcept>

#include "app/layout.h"

namespace app {

Form::Form() : m_caption(kWindow.caption) {
    for (const auto& control : kControls)
        m_controls.emplace(std::string(control.name), State{std::string(control.caption), true, 0, {}});
}

Form::State& Form::state(std::string_view control) {
    auto it = m_controls.find(control);
    if (it == m_controls.end())
        throw std::invalid_argument("no control named " + std::string(control));
    return it->second;
}

const Form::State& Form::state(std::string_view control) const {
    auto it = m_controls.find(control);
    if (it == m_controls.end())
        throw std::invalid_argument("no control named " + std::string(control));
    return it->second;
}

void Form::notify(std::string_view control, Property property) {
    if (m_viewObserver)
        m_viewObserver(control, property);
}

void Form::setCaption(std::string caption) {
    if (caption == m_caption)
        return;
    m_caption = std::move(caption);
    notify({}, Property::Caption);
}

const std::string& Form::text(std::string_view control) const {
    return state(control).text;
}

void Form::setText(std::string_view control, std::string text) {
    State& s = state(control);
    if (s.text == text)
        return;
    s.text = std::move(text);
    notify(control, Property::Text);
    // Raised at once: a handler that rewrites the text re-enters here before this call returns.
    if (m_changeHandler)
        m_changeHandler(control);
}

bool Form::enabled(std::string_view control) const {
    return state(control).enabled;
}

void Form::setEnabled(std::string_view control, bool enabled) {
    State& s = state(control);
    if (s.enabled == enabled)
        return;
    s.enabled = enabled;
    notify(control, Property::Enabled);
}

int Form::value(std::string_view control) const {
    return state(control).value;
}

void Form::setValue(std::string_view control, int value) {
    State& s = state(control);
    if (s.value == value)
        return;
    s.value = value;
    notify(control, Property::Value);
}

const std::vector<std::string>& Form::items(std::string_view control) const {
    return state(control).items;
}

void Form::addItem(std::string_view control, std::string item) {
    state(control).items.push_back(std::move(item));
    notify(control, Property::Items);
}

} // namespace app

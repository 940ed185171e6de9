#include "app/main_module.h"

namespace app {

bool Main_Module::Main(std::string commandLineText, WindowHost& host) {
    m_commandLine = std::move(commandLineText);
    if (!m_lockOpener)
        m_lockOpener = std::make_unique<LockOpener>(m_form, m_env, m_commandLine);
    // Showing loads first: the load handler runs before the window is drawn.
    if (!m_lockOpener->dispatch("LockOpener", Event::Load))
        return false;
    host.show(*m_lockOpener);
    return true;
}

} // namespace app

#pragma once

namespace app::qt {

// Reads and drops the key, mouse, touch and close input the platform holds for the program, with
// no timer running meanwhile. Input the person gave while a directory call blocked the window was
// meant for the window as it was; it must never answer a box that opens afterwards. X11 and
// Wayland address it to the window it reached, which the modal box then blocks; but input that Qt
// reads from a device only when an event loop runs (its evdev handlers, as on linuxfb or eglfs)
// goes to whatever has the focus at that moment: the new box, whose default button Enter or Space
// would press. Call just before a modal box is shown.
void dropQueuedInput();

} // namespace app::qt

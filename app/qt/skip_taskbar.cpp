#include "app/qt/skip_taskbar.h"

#include <QGuiApplication>
#include <QWidget>

#ifdef QUILL_HAVE_XCB
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include <xcb/xcb.h>
#endif

namespace app::qt {

#ifdef QUILL_HAVE_XCB
namespace {

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
template <class T> using XcbReply = std::unique_ptr<T, FreeDeleter>;

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name, std::size_t length) {
    const auto cookie = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(length), name);
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

template <std::size_t N> xcb_atom_t internAtom(xcb_connection_t* connection, const char (&name)[N]) {
    return internAtom(connection, name, N - 1);
}

} // namespace
#endif

bool skipTaskbar(QWidget& window) {
#ifdef QUILL_HAVE_XCB
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t* connection = x11->connection();
    const auto handle = static_cast<xcb_window_t>(window.winId()); // creates the native window if needed
    const xcb_atom_t state = internAtom(connection, "_NET_WM_STATE");
    const xcb_atom_t skip = internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR");
    if (state == XCB_ATOM_NONE || skip == XCB_ATOM_NONE)
        return false;

    std::vector<xcb_atom_t> atoms;
    const auto cookie = xcb_get_property(connection, 0, handle, state, XCB_ATOM_ATOM, 0, 1024);
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr));
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto* existing = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
        const auto count = static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) / sizeof(xcb_atom_t);
        atoms.assign(existing, existing + count);
    }
    for (xcb_atom_t atom : atoms)
        if (atom == skip)
            return true;
    atoms.push_back(skip);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, handle, state, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(atoms.size()), atoms.data());
    xcb_flush(connection);
    return true;
#else
    (void)window;
    return false;
#endif
}

} // namespace app::qt

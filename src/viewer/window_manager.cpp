#include "viewer/window_manager.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace orvane {

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// The window named by a WINDOW property of `window`, or XCB_WINDOW_NONE.
xcb_window_t WindowProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property) {
    const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (!reply || reply->type != XCB_ATOM_WINDOW || xcb_get_property_value_length(reply.get()) < 4) {
        return XCB_WINDOW_NONE;
    }
    return *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
}

bool X11WindowManagerHandlesFullScreen(xcb_connection_t* connection) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (screen == nullptr) return false;
    const xcb_atom_t check = Atom(connection, "_NET_SUPPORTING_WM_CHECK");
    const xcb_atom_t supported = Atom(connection, "_NET_SUPPORTED");
    const xcb_atom_t fullScreen = Atom(connection, "_NET_WM_STATE_FULLSCREEN");
    if (check == XCB_ATOM_NONE || supported == XCB_ATOM_NONE || fullScreen == XCB_ATOM_NONE) return false;
    // A window manager that has gone leaves its check window named on the root, but that window
    // no longer names itself.
    const xcb_window_t wm = WindowProperty(connection, screen->root, check);
    if (wm == XCB_WINDOW_NONE || WindowProperty(connection, wm, check) != wm) return false;
    const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, screen->root, supported, XCB_ATOM_ATOM, 0, 4096),
        nullptr));
    if (!reply || reply->type != XCB_ATOM_ATOM) return false;
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / static_cast<int>(sizeof(xcb_atom_t));
    for (int i = 0; i < count; ++i) {
        if (atoms[i] == fullScreen) return true;
    }
    return false;
}

}  // namespace

bool WindowManagerHandlesFullScreen() {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr) return true;
    return X11WindowManagerHandlesFullScreen(x11->connection());
}

}  // namespace orvane

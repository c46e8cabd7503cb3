#include "ui/X11HotKey.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QTimer>

namespace brindle::ui {

namespace {

constexpr uint32_t kKeysymT = 0x74;  // XK_t
constexpr uint16_t kModifiers = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
// Caps Lock and Num Lock must not stop the shortcut, so each combination is grabbed.
constexpr uint16_t kIgnored[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

xcb_connection_t* connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t* xcb) {
    return xcb_setup_roots_iterator(xcb_get_setup(xcb)).data->root;
}

// The keycode that gives the letter t, from the server's keyboard map.
xcb_keycode_t keycodeOfT(xcb_connection_t* xcb) {
    const xcb_setup_t* setup = xcb_get_setup(xcb);
    uint8_t first = setup->min_keycode, count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* map =
        xcb_get_keyboard_mapping_reply(xcb, xcb_get_keyboard_mapping(xcb, first, count), nullptr);
    if (!map) return 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
    xcb_keycode_t found = 0;
    for (int code = 0; code < count && !found; ++code)
        for (int column = 0; column < map->keysyms_per_keycode; ++column)
            if (syms[code * map->keysyms_per_keycode + column] == kKeysymT) found = first + code;
    free(map);
    return found;
}

}  // namespace

X11HotKey::X11HotKey(std::function<void()> action) : action_(std::move(action)) {}

X11HotKey::~X11HotKey() {
    unregisterKey();
    if (filtering_ && qGuiApp) qGuiApp->removeNativeEventFilter(this);
}

int X11HotKey::registerKey() {
    if (keycode_) return 0;
    xcb_connection_t* xcb = connection();
    if (!xcb) return 1;
    xcb_keycode_t code = keycodeOfT(xcb);
    if (!code) return 2;
    for (uint16_t extra : kIgnored) {
        xcb_void_cookie_t cookie = xcb_grab_key_checked(xcb, 1, rootWindow(xcb), kModifiers | extra, code,
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t* error = xcb_request_check(xcb, cookie)) {
            int status = error->error_code;
            free(error);
            for (uint16_t undo : kIgnored) xcb_ungrab_key(xcb, code, rootWindow(xcb), kModifiers | undo);
            xcb_flush(xcb);
            return status;
        }
    }
    keycode_ = code;
    if (!filtering_) qGuiApp->installNativeEventFilter(this);
    filtering_ = true;
    return 0;
}

void X11HotKey::unregisterKey() {
    xcb_connection_t* xcb = connection();
    if (!keycode_ || !xcb) return;
    for (uint16_t extra : kIgnored) xcb_ungrab_key(xcb, keycode_, rootWindow(xcb), kModifiers | extra);
    xcb_flush(xcb);
    keycode_ = 0;
}

bool X11HotKey::nativeEventFilter(const QByteArray& type, void* message, qintptr*) {
    if (!keycode_ || type != "xcb_generic_event_t") return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    if ((event->response_type & ~0x80) != XCB_KEY_PRESS) return false;
    auto* press = reinterpret_cast<xcb_key_press_event_t*>(event);
    if (press->detail != keycode_ || (press->state & kModifiers) != kModifiers) return false;
    QTimer::singleShot(0, qGuiApp, action_);
    return true;
}

}  // namespace brindle::ui

#include "menubar/PointerGrab.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <cstdlib>
#include <memory>

namespace kmb {

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

// The same grab as Qt's (so that the events it delivers stay the same), on one master pointer;
// grabbing again what this client already holds succeeds.
bool grabMasterPointer(xcb_connection_t* connection, xcb_window_t window,
                       xcb_input_device_id_t device)
{
    const std::uint32_t mask =
        XCB_INPUT_XI_EVENT_MASK_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_BUTTON_RELEASE |
        XCB_INPUT_XI_EVENT_MASK_MOTION | XCB_INPUT_XI_EVENT_MASK_ENTER |
        XCB_INPUT_XI_EVENT_MASK_LEAVE | XCB_INPUT_XI_EVENT_MASK_TOUCH_BEGIN |
        XCB_INPUT_XI_EVENT_MASK_TOUCH_UPDATE | XCB_INPUT_XI_EVENT_MASK_TOUCH_END;
    const Reply<xcb_input_xi_grab_device_reply_t> reply(
        xcb_input_xi_grab_device_reply(
            connection,
            xcb_input_xi_grab_device(connection, window, XCB_CURRENT_TIME, XCB_CURSOR_NONE, device,
                                     XCB_INPUT_GRAB_MODE_22_ASYNC, XCB_INPUT_GRAB_MODE_22_ASYNC,
                                     false, 1, &mask),
            nullptr),
        &std::free);
    return reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
}

} // namespace

bool grabPointer(QWindow* window)
{
    if (!window || !window->setMouseGrabEnabled(true))
        return false;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return true;
    xcb_connection_t* connection = x11->connection();
    const Reply<xcb_input_xi_query_device_reply_t> devices(
        xcb_input_xi_query_device_reply(
            connection, xcb_input_xi_query_device(connection, XCB_INPUT_DEVICE_ALL_MASTER),
            nullptr),
        &std::free);
    if (!devices)
        return true; // no XInput 2: Qt grabs with the core protocol and reads its answer
    bool grabbed = true;
    for (auto it = xcb_input_xi_query_device_infos_iterator(devices.get()); it.rem;
         xcb_input_xi_device_info_next(&it)) {
        if (it.data->type == XCB_INPUT_DEVICE_TYPE_MASTER_POINTER)
            grabbed =
                grabMasterPointer(connection, xcb_window_t(window->winId()), it.data->deviceid) &&
                grabbed;
    }
    return grabbed;
}

std::optional<bool> pointerButtonDown()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return std::nullopt;
    xcb_connection_t* connection = x11->connection();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return std::nullopt;
    const Reply<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(connection, xcb_query_pointer(connection, screen->root), nullptr),
        &std::free);
    if (!pointer)
        return std::nullopt;
    constexpr std::uint16_t buttons = XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_2 | XCB_BUTTON_MASK_3;
    return (pointer->mask & buttons) != 0;
}

} // namespace kmb

#include "ui/Compositing.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

bool onPlatform(const char* name) {
    return QGuiApplication::platformName().startsWith(QLatin1String(name));
}

xcb_connection_t* x11Connection() {
    if (!onPlatform("xcb"))
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// xcb replies are malloc'ed.
template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t internAtom(xcb_connection_t* c, const std::string& name) {
    Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The root window of the screen the display name points at (":0.1" is screen 1).
xcb_window_t rootWindow(xcb_connection_t* c, int* screenNumber) {
    *screenNumber = 0;
    int display = 0;
    char* host = nullptr;
    if (xcb_parse_display(nullptr, &host, &display, screenNumber) == 0)
        *screenNumber = 0;
    std::free(host);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; it.rem && i < *screenNumber; ++i)
        xcb_screen_next(&it);
    return it.rem ? it.data->root : xcb_window_t(XCB_WINDOW_NONE);
}

} // namespace

Compositing& Compositing::Instance() {
    static Compositing* instance = new Compositing;
    return *instance;
}

Compositing::Compositing() : QObject(QCoreApplication::instance()) {
    if (onPlatform("wayland")) {
        active_ = true;
        return;
    }
    xcb_connection_t* c = x11Connection();
    if (!c)
        return;
    int screen = 0;
    const xcb_window_t root = rootWindow(c, &screen);
    selection_ = internAtom(c, "_NET_WM_CM_S" + std::to_string(screen));
    active_ = QueryOwner();

    // Follow a compositing manager that starts or stops while the player runs.
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (!xfixes || !xfixes->present || root == XCB_WINDOW_NONE || selection_ == XCB_ATOM_NONE)
        return;
    std::free(xcb_xfixes_query_version_reply(
        c, xcb_xfixes_query_version(c, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
        nullptr));
    xcb_xfixes_select_selection_input(c, root, selection_,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xcb_flush(c);
    notifyEvent_ = static_cast<uint8_t>(xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

bool Compositing::QueryOwner() const {
    xcb_connection_t* c = x11Connection();
    if (!c || selection_ == XCB_ATOM_NONE)
        return false;
    Reply<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection_), nullptr),
        &std::free);
    return reply && reply->owner != XCB_WINDOW_NONE;
}

bool Compositing::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (notifyEvent_ == 0 || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != notifyEvent_)
        return false;
    const auto* notify = static_cast<const xcb_xfixes_selection_notify_event_t*>(message);
    if (notify->selection != selection_)
        return false;
    const bool now = notify->owner != XCB_WINDOW_NONE;
    if (now != active_) {
        active_ = now;
        emit Changed(active_);
    }
    return false; // Qt watches the same selection for its own purposes
}

bool Compositing::TranslucentWindows() {
    return onPlatform("wayland") || onPlatform("xcb");
}

bool Compositing::OnXWayland() {
    xcb_connection_t* c = x11Connection();
    if (!c)
        return false;
    static const bool xwayland = [c] {
        // Newer XWayland servers announce themselves with an extension; older ones only name
        // their outputs after themselves.
        Reply<xcb_query_extension_reply_t> reply(
            xcb_query_extension_reply(c, xcb_query_extension(c, 8, "XWAYLAND"), nullptr),
            &std::free);
        if (reply && reply->present)
            return true;
        const QList<QScreen*> screens = QGuiApplication::screens();
        return std::any_of(screens.begin(), screens.end(), [](const QScreen* s) {
            return s->name().startsWith(QLatin1String("XWAYLAND"));
        });
    }();
    return xwayland;
}

void Compositing::SetInputRegion(QWidget* window, const QRegion& region) {
    if (!window->testAttribute(Qt::WA_WState_Created))
        return;
    if (onPlatform("wayland")) {
        // Qt's window mask is the surface's input region here; it draws nothing.
        if (QWindow* handle = window->windowHandle())
            handle->setMask(region);
        return;
    }
    xcb_connection_t* c = x11Connection();
    if (!c)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    if (region.isEmpty()) {
        xcb_shape_mask(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, id, 0, 0, XCB_PIXMAP_NONE);
    } else {
        // The X server counts in device pixels, the region in Qt's logical ones. Edges are
        // rounded one by one, so rectangles that meet still meet at fractional scales.
        const qreal ratio = window->devicePixelRatioF();
        const auto device = [ratio](int logical) { return qRound(logical * ratio); };
        std::vector<xcb_rectangle_t> rects;
        for (const QRect& r : region) {
            const int left = device(r.left());
            const int top = device(r.top());
            rects.push_back({static_cast<int16_t>(left), static_cast<int16_t>(top),
                             static_cast<uint16_t>(device(r.left() + r.width()) - left),
                             static_cast<uint16_t>(device(r.top() + r.height()) - top)});
        }
        xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED,
                             id, 0, 0, static_cast<uint32_t>(rects.size()), rects.data());
    }
    xcb_flush(c);
}

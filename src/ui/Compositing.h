#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QRegion>

class QWidget;

// Whether the desktop blends a window's transparent pixels with what lies behind it: always on
// Wayland, on X11 only while a compositing manager owns the _NET_WM_CM_Sn selection. Without
// one, transparent pixels show black and a window has to be cut to shape instead.
class Compositing : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    static Compositing& Instance();

    // The platform can give a window an alpha channel that reaches the screen (Wayland, X11).
    static bool TranslucentWindows();
    // Transparent pixels are blended now.
    bool Active() const { return active_; }
    // An X server run by a Wayland compositor, which places every window itself.
    static bool OnXWayland();

    // Where clicks land on a top-level window, leaving what it draws alone: the input region on
    // Wayland, the input shape on X11. An empty region resets it to the whole window.
    static void SetInputRegion(QWidget* window, const QRegion& region);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    // A compositing manager started or stopped.
    void Changed(bool active);

private:
    Compositing();
    bool QueryOwner() const;

    bool active_ = false;
    uint32_t selection_ = 0;  // the _NET_WM_CM_Sn atom
    uint8_t notifyEvent_ = 0; // XFixes SelectionNotify event code, 0 when not watching
};

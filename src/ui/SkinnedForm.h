#pragma once

#include <QDialog>
#include <QImage>
#include <QPixmap>
#include <QRegion>

// The window shape every form gets: a rounded rectangle over the width x height client area
// whose corners are quarter ellipses of ellipseWidth x ellipseHeight pixels. A pixel belongs to
// the region when its centre lies inside the shape, so the region spans columns 0..width-1
// and rows 0..height-1 exactly, like a Windows round-rect region from (0, 0) to (width, height).
QRegion RoundRectRegion(int width, int height, int ellipseWidth = 15, int ellipseHeight = 15);

// Base of the borderless skinned windows: fixed client size, the rounded shape (nothing outside
// it is drawn or clickable), and a skin image stretched over the client area. Where the desktop
// blends transparent pixels (Wayland, X11 with a compositing manager) the corners are painted
// transparent, anti-aliased, and only the input region is cut; elsewhere the region is the
// window mask. A QDialog so that windows can run modally with exec().
class SkinnedForm : public QDialog {
    Q_OBJECT
public:
    // kind: Qt::Dialog for the modal windows, Qt::Window for a main window (own taskbar entry).
    explicit SkinnedForm(QWidget* parent = nullptr, Qt::WindowType kind = Qt::Dialog);

    // Fixes the client size and re-applies the rounded shape for it.
    void SetClientSize(int width, int height);

    // The skin, stretched to the client area. LoadSkin decodes a JPEG file or Qt resource with
    // our jpeglib loader and throws EFOpenError or EJpegError when it cannot.
    void SetSkin(const QImage& skin);
    void LoadSkin(const QString& jpegFileName);
    const QImage& Skin() const { return skin_; }

    // Centres the window on the screen it is on (or the primary one).
    void CenterOnScreen();

    // The corners are painted transparent rather than cut away by the mask.
    bool PaintsCorners() const { return paintsCorners_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // Escape does not close a skinned window: none of them has a cancel button.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ApplyShape();

    QWidget* corners_ = nullptr; // clears the corners over every control, when painted
    bool paintsCorners_ = false;
    bool followsScreen_ = false;
    QImage skin_;
    QPixmap scaled_; // the skin at the current size and device pixel ratio, made once
};

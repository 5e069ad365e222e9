#include "ui/SkinnedForm.h"

#include "ui/Accessibility.h"
#include "ui/Compositing.h"
#include "ui/JpegImage.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <cmath>

QRegion RoundRectRegion(int width, int height, int ellipseWidth, int ellipseHeight) {
    if (width <= 0 || height <= 0)
        return {};
    // An ellipse larger than the rectangle is cut down to it, as Windows does.
    const double rx = std::clamp(ellipseWidth, 0, width) / 2.0;
    const double ry = std::clamp(ellipseHeight, 0, height) / 2.0;
    if (rx <= 0.0 || ry <= 0.0)
        return QRegion(0, 0, width, height);

    // Columns cut off at each end of row y: the pixel centre must lie inside the corner ellipse.
    auto inset = [&](int y) {
        const double cy = y + 0.5;
        double dy = 0.0;
        if (cy < ry)
            dy = ry - cy;
        else if (cy > height - ry)
            dy = cy - (height - ry);
        if (dy <= 0.0)
            return 0;
        const double t = dy / ry;
        const double dx = rx * std::sqrt(std::max(0.0, 1.0 - t * t));
        return std::max(0, static_cast<int>(std::ceil(rx - dx - 0.5)));
    };

    QRegion region;
    int y = 0;
    while (y < height) {
        const int cut = inset(y);
        int rows = 1;
        while (y + rows < height && inset(y + rows) == cut)
            ++rows;
        if (2 * cut < width)
            region += QRect(cut, y, width - 2 * cut, rows);
        y += rows;
    }
    return region;
}

namespace {

// Lies over all the controls and is painted after them, so it can clear what any of them drew
// outside the rounded shape: the progress bar runs into both bottom corners.
class CornerEraser : public QWidget {
public:
    explicit CornerEraser(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        HideFromReaders(this);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        // The same 15 x 15 corner ellipses as RoundRectRegion, with soft edges.
        QPainterPath outside;
        outside.setFillRule(Qt::OddEvenFill);
        outside.addRect(rect());
        outside.addRoundedRect(QRectF(rect()), 7.5, 7.5);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.fillPath(outside, Qt::black);
    }
};

} // namespace

SkinnedForm::SkinnedForm(QWidget* parent, Qt::WindowType kind) : QDialog(parent) {
    InstallAccessibility();
    setWindowFlags(kind | Qt::FramelessWindowHint);
    if (Compositing::TranslucentWindows()) {
        // An alpha channel from the start, on X11 too: a compositing manager may start later,
        // and the window's visual cannot change once it exists.
        setAttribute(Qt::WA_TranslucentBackground);
        corners_ = new CornerEraser(this);
        corners_->hide();
        connect(&Compositing::Instance(), &Compositing::Changed, this, [this] { ApplyShape(); });
    } else {
        // The skin covers every pixel, so Qt need not clear the background first.
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
}

void SkinnedForm::SetClientSize(int width, int height) {
    setFixedSize(width, height);
    ApplyShape();
}

void SkinnedForm::ApplyShape() {
    const QRegion region = RoundRectRegion(width(), height());
    paintsCorners_ = corners_ && Compositing::Instance().Active();
    if (!paintsCorners_) {
        // no one blends the corners: the window is cut to the region
        Compositing::SetInputRegion(this, QRegion());
        setMask(region);
        if (corners_)
            corners_->hide();
        return;
    }
    // Painted corners: a mask would cut away the soft edge, so only clicks are limited.
    clearMask();
    Compositing::SetInputRegion(this, region);
    corners_->setGeometry(rect());
    corners_->raise();
    corners_->show();
    update();
}

void SkinnedForm::SetSkin(const QImage& skin) {
    skin_ = skin;
    scaled_ = QPixmap();
    update();
}

void SkinnedForm::LoadSkin(const QString& jpegFileName) {
    SetSkin(LoadJpeg(jpegFileName));
}

void SkinnedForm::CenterOnScreen() {
    QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(s->availableGeometry().center());
    move(frame.topLeft());
}

void SkinnedForm::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (skin_.isNull()) {
        painter.fillRect(rect(), palette().window());
        return;
    }
    // One pixmap at device resolution: at fractional scale factors pieces drawn separately
    // would leave seams.
    const qreal dpr = devicePixelRatioF();
    const QSize device(qRound(width() * dpr), qRound(height() * dpr));
    if (scaled_.isNull() || scaled_.size() != device) {
        scaled_ = QPixmap::fromImage(
            skin_.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        scaled_.setDevicePixelRatio(dpr);
    }
    painter.drawPixmap(0, 0, scaled_);
}

void SkinnedForm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    ApplyShape();
}

void SkinnedForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // the input region belongs to the native window, which exists from here on; it is in
    // device pixels, so a screen of another scale needs it anew
    if (QWindow* handle = windowHandle(); handle && !followsScreen_) {
        followsScreen_ = true;
        connect(handle, &QWindow::screenChanged, this, [this] { ApplyShape(); });
    }
    ApplyShape();
}

void SkinnedForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

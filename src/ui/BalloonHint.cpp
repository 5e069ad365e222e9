#include "ui/BalloonHint.h"

#include <QApplication>
#include <QEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QScreen>

namespace {

constexpr int Radius = 8;
constexpr int PaddingX = 10;
constexpr int PaddingY = 6;
constexpr int MaxTextWidth = 300;
constexpr int ScreenMargin = 4;

const QColor Fill(255, 255, 225);      // the classic pale-yellow hint colour
const QColor FillLight(255, 255, 245); // top of the fill's gentle gradient
const QColor Border(118, 118, 118);
const QColor TextColour(0, 0, 0);

} // namespace

BalloonTip::BalloonTip(QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus |
                          Qt::WindowTransparentForInput) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFont(QApplication::font("QTipLabel"));
}

void BalloonTip::ShowAt(const QString& text, const QPoint& tip) {
    text_ = text;
    const QFontMetrics fm(font());
    const QRect textBounds =
        fm.boundingRect(QRect(0, 0, MaxTextWidth, 10000), Qt::TextWordWrap | Qt::AlignLeft, text);
    const int bodyW = textBounds.width() + 2 * PaddingX;
    const int bodyH = textBounds.height() + 2 * PaddingY;
    const int w = bodyW + 1;
    const int h = bodyH + PointerHeight + 1;

    QScreen* screen = QGuiApplication::screenAt(tip);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 16, 1 << 16);

    pointsUp_ = tip.y() + h <= avail.bottom() - ScreenMargin || tip.y() - h < avail.top();
    // The pointer sits near the body's left end, moving when the body has to shift on-screen.
    int left = tip.x() - Radius - PointerWidth / 2 - 4;
    left = std::min(left, avail.right() - ScreenMargin - w);
    left = std::max(left, avail.left() + ScreenMargin);
    const int top = pointsUp_ ? tip.y() : tip.y() - h;
    const int pointerX =
        std::clamp(tip.x() - left, Radius + PointerWidth / 2,
                   std::max(Radius + PointerWidth / 2, bodyW - Radius - PointerWidth / 2));

    // Build the outline in widget coordinates, half-pixel aligned so the 1 px border is crisp.
    const qreal bodyTop = pointsUp_ ? PointerHeight + 0.5 : 0.5;
    const QRectF body(0.5, bodyTop, bodyW, bodyH);
    QPainterPath bubble;
    bubble.addRoundedRect(body, Radius, Radius);
    QPainterPath pointer;
    const qreal px = pointerX + 0.5;
    if (pointsUp_) {
        pointer.moveTo(px - PointerWidth / 2.0, body.top() + 1);
        pointer.lineTo(px, 0.5);
        pointer.lineTo(px + PointerWidth / 2.0, body.top() + 1);
    } else {
        pointer.moveTo(px - PointerWidth / 2.0, body.bottom() - 1);
        pointer.lineTo(px, h - 0.5);
        pointer.lineTo(px + PointerWidth / 2.0, body.bottom() - 1);
    }
    pointer.closeSubpath();
    outline_ = bubble.united(pointer).simplified();
    textRect_ = QRect(PaddingX + 1, static_cast<int>(bodyTop) + PaddingY, textBounds.width(),
                      textBounds.height());

    setFixedSize(w, h);
    // Without a compositor the transparent corners would show black: the mask cuts them away.
    setMask(QRegion(outline_.toFillPolygon().toPolygon(), Qt::WindingFill));
    move(left, top);
    show();
    raise();
    update();
}

void BalloonTip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, height());
    fill.setColorAt(0.0, FillLight);
    fill.setColorAt(1.0, Fill);
    painter.setPen(QPen(Border, 1.0));
    painter.setBrush(fill);
    painter.drawPath(outline_);
    painter.setPen(TextColour);
    painter.drawText(textRect_, Qt::TextWordWrap | Qt::AlignLeft, text_);
}

BalloonHint::BalloonHint(QObject* parent) : QObject(parent) {
    hideTimer_.setSingleShot(true);
    hideTimer_.setInterval(5000);
    connect(&hideTimer_, &QTimer::timeout, this, &BalloonHint::HideHint);
}

BalloonHint::~BalloonHint() {
    delete tip_.data();
}

void BalloonHint::Install() {
    qApp->installEventFilter(this);
}

void BalloonHint::ShowHint(QWidget* control, const QString& text) {
    if (!control || text.isEmpty()) {
        HideHint();
        return;
    }
    if (!tip_)
        tip_ = new BalloonTip();
    control_ = control;
    connect(control, &QObject::destroyed, this, &BalloonHint::HideHint, Qt::UniqueConnection);
    // Point at the middle of the control's lower edge, like the balloons of the classic desktop,
    // from just outside it so the bubble never covers the cursor on the control.
    const QRect r = control->rect();
    tip_->ShowAt(text, control->mapToGlobal(QPoint(r.center().x(), r.bottom() + 1)));
    hideTimer_.start();
}

void BalloonHint::HideHint() {
    hideTimer_.stop();
    control_ = nullptr;
    if (tip_)
        tip_->hide();
}

BalloonTip* BalloonHint::Tip() const {
    BalloonTip* tip = tip_.data();
    if (tip == nullptr || !tip->isVisible())
        return nullptr;
    return tip;
}

bool BalloonHint::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ToolTip: {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget)
            break;
        // Qt sends the request to the innermost widget; the hint may belong to a parent.
        for (QWidget* w = widget; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
            if (!w->toolTip().isEmpty()) {
                if (control_ != w || !Tip())
                    ShowHint(w, w->toolTip());
                return true;
            }
        }
        // No hint of our own: let the widget answer (item views show their items' tips).
        HideHint();
        break;
    }
    case QEvent::Leave:
        if (control_ && watched == control_)
            HideHint();
        break;
    case QEvent::Hide:
    case QEvent::EnabledChange:
        if (control_ && watched == control_)
            HideHint();
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::Wheel:
    case QEvent::WindowDeactivate:
        if (control_)
            HideHint();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

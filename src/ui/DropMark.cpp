#include "ui/DropMark.h"

#include <QPainter>
#include <QPainterPath>

#include <utility>

DropMark::DropMark(QWidget* window) : QWidget(window) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

void DropMark::SetShown(bool shown) {
    if (shown) {
        setGeometry(parentWidget()->rect());
        raise();
        show();
    } else {
        hide();
    }
}

void DropMark::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // the focus mark's colours, inside the window's 15 x 15 corners
    for (const auto& [colour, width] :
         {std::pair{QColor(150, 205, 255, 220), 4.0}, std::pair{QColor(0, 0, 128), 1.5}}) {
        const qreal inset = 2.5;
        QPainterPath frame;
        frame.addRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), 6, 6);
        p.setPen(QPen(colour, width));
        p.setBrush(Qt::NoBrush);
        p.drawPath(frame);
    }
}

#include "ui/ProgressBar.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>

TProgressBar::TProgressBar(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TProgressBar::SetMin(int32_t value) {
    min_ = value;
    max_ = std::max(max_, min_);
    SetPosition(position_);
}

void TProgressBar::SetMax(int32_t value) {
    max_ = value;
    min_ = std::min(min_, max_);
    SetPosition(position_);
}

void TProgressBar::SetPosition(int32_t value) {
    const int32_t clamped = std::clamp(value, min_, max_);
    if (clamped == position_)
        return;
    position_ = clamped;
    update();
}

void TProgressBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    QLinearGradient trough(r.topLeft(), r.bottomLeft());
    trough.setColorAt(0, QColor(8, 18, 64));
    trough.setColorAt(1, QColor(22, 40, 110));
    p.fillRect(r, trough);

    const double span = double(max_) - double(min_);
    if (span <= 0)
        return;
    const int w = int(r.width() * ((double(position_) - double(min_)) / span) + 0.5);
    if (w <= 0)
        return;
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0, QColor(150, 205, 255));
    fill.setColorAt(0.45, QColor(60, 140, 240));
    fill.setColorAt(1, QColor(20, 80, 200));
    p.fillRect(QRect(r.left(), r.top(), w, r.height()), fill);
}

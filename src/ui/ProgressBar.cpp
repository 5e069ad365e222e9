#include "ui/ProgressBar.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>

TProgressBar::TProgressBar(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TProgressBar::SetMin(int32_t value) {
    SetState(value, std::max(max_, value), position_);
}

void TProgressBar::SetMax(int32_t value) {
    SetState(std::min(min_, value), value, position_);
}

void TProgressBar::SetPosition(int32_t value) {
    SetState(min_, max_, value);
}

void TProgressBar::SetState(int32_t min, int32_t max, int32_t position) {
    const int before = FilledWidth();
    min_ = min;
    max_ = max;
    position_ = std::clamp(position, min_, max_);
    // The status tick sets the position ten times a second; most ticks move the bar by less
    // than a pixel, and a repaint of a shaped window is the costliest thing the player does.
    if (FilledWidth() != before)
        update();
}

int TProgressBar::FilledWidth() const {
    const double span = double(max_) - double(min_);
    if (span <= 0)
        return 0;
    return int(width() * ((double(position_) - double(min_)) / span) + 0.5);
}

void TProgressBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    QLinearGradient trough(r.topLeft(), r.bottomLeft());
    trough.setColorAt(0, QColor(8, 18, 64));
    trough.setColorAt(1, QColor(22, 40, 110));
    p.fillRect(r, trough);

    const int w = FilledWidth();
    if (w <= 0)
        return;
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0, QColor(150, 205, 255));
    fill.setColorAt(0.45, QColor(60, 140, 240));
    fill.setColorAt(1, QColor(20, 80, 200));
    p.fillRect(QRect(r.left(), r.top(), w, r.height()), fill);
}

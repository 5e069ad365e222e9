#include "ui/ProgressBar.h"

#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

TProgressBar::TProgressBar(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    // reached by Tab only, as the skin's buttons: a click leaves the skin as drawn
    setFocusPolicy(Qt::TabFocus);
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
    // than a pixel, and a repaint of a shaped window is the costliest thing the player does:
    // only the columns that change are repainted.
    RepaintFrom(before);
}

void TProgressBar::RepaintFrom(int before) {
    const int after = FilledWidth();
    if (after != before)
        update(std::min(before, after), 0, std::abs(after - before), height());
}

void TProgressBar::SetSeekable(bool seekable) {
    if (seekable == seekable_)
        return;
    seekable_ = seekable;
    setCursor(seekable ? Qt::PointingHandCursor : Qt::ArrowCursor);
    if (!seekable && dragging_) {
        dragging_ = false;
        update();
    }
}

int TProgressBar::FilledWidth() const {
    if (dragging_)
        return int(width() * dragFraction_ + 0.5);
    const double span = double(max_) - double(min_);
    if (span <= 0)
        return 0;
    return int(width() * ((double(position_) - double(min_)) / span) + 0.5);
}

double TProgressBar::FractionAt(double x) const {
    return width() > 0 ? std::clamp(x / width(), 0.0, 1.0) : 0.0;
}

void TProgressBar::Drag(double x) {
    const int before = FilledWidth();
    dragFraction_ = FractionAt(x);
    RepaintFrom(before);
}

void TProgressBar::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton || !seekable_)
        return;
    dragging_ = true;
    dragFraction_ = FractionAt(event->position().x());
    update();
    emit Picked(dragFraction_, false);
}

void TProgressBar::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (!dragging_)
        return;
    // the release went elsewhere (a window opened over the drag): the drag ends where it was
    if (!(event->buttons() & Qt::LeftButton)) {
        dragging_ = false;
        update();
        emit Picked(dragFraction_, true);
        return;
    }
    const double before = dragFraction_;
    Drag(event->position().x());
    if (dragFraction_ != before)
        emit Picked(dragFraction_, false);
}

void TProgressBar::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton || !dragging_)
        return;
    Drag(event->position().x());
    const double fraction = dragFraction_;
    dragging_ = false;
    update();
    emit Picked(fraction, true);
}

void TProgressBar::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if ((event->modifiers() & ~Qt::KeypadModifier) ||
        (key != Qt::Key_Left && key != Qt::Key_Right && key != Qt::Key_Home &&
         key != Qt::Key_End)) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (seekable_ && !dragging_)
        emit KeyPicked(key);
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

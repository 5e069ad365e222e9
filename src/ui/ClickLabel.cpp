#include "ui/ClickLabel.h"

#include "ui/Accessibility.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>

namespace {

// Space and Return click the focused control, as they press a push button.
bool isClickKey(const QKeyEvent* event) {
    if (event->isAutoRepeat() || (event->modifiers() & ~Qt::KeypadModifier))
        return false;
    const int key = event->key();
    return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter ||
           key == Qt::Key_Select;
}

} // namespace

ClickLabel::ClickLabel(QWidget* parent) : QLabel(parent) {
    setFocusPolicy(Qt::TabFocus);
}

ClickLabel::ClickLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setFocusPolicy(Qt::TabFocus);
}

void ClickLabel::SetImage(const QImage& image) {
    setScaledContents(true);
    setPixmap(QPixmap::fromImage(image));
}

void ClickLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        leftDown_ = true;
    event->accept();
    emit pressed(event->button());
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    const bool click = event->button() == Qt::LeftButton && leftDown_ &&
                       rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        leftDown_ = false;
    emit released(event->button());
    if (click)
        emit clicked();
}

void ClickLabel::keyPressEvent(QKeyEvent* event) {
    if (!isClickKey(event)) {
        QLabel::keyPressEvent(event);
        return;
    }
    event->accept();
    emit clicked();
}

void ClickLabel::focusInEvent(QFocusEvent* event) {
    QLabel::focusInEvent(event);
    focusMark_ = FocusedByKeyboard(event);
    update();
}

void ClickLabel::focusOutEvent(QFocusEvent* event) {
    QLabel::focusOutEvent(event);
    focusMark_ = false;
    update();
}

void ClickLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (focusMark_ && hasFocus())
        PaintFocusMark(this, false);
}

ClickArea::ClickArea(QWidget* parent) : QWidget(parent) {
    // Nothing to paint but the focus mark: the skin underneath shows through.
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::TabFocus);
}

void ClickArea::keyPressEvent(QKeyEvent* event) {
    if (!isClickKey(event)) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    emit clicked();
}

void ClickArea::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    focusMark_ = FocusedByKeyboard(event);
    update();
}

void ClickArea::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    focusMark_ = false;
    update();
}

void ClickArea::paintEvent(QPaintEvent*) {
    if (focusMark_ && hasFocus())
        PaintFocusMark(this, true);
}

void ClickArea::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        leftDown_ = true;
    event->accept();
}

void ClickArea::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    const bool click = event->button() == Qt::LeftButton && leftDown_ &&
                       rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        leftDown_ = false;
    if (click)
        emit clicked();
}

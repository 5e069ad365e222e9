#include "ui/ClickLabel.h"

#include <QMouseEvent>
#include <QPixmap>

ClickLabel::ClickLabel(QWidget* parent) : QLabel(parent) {}

ClickLabel::ClickLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

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

ClickArea::ClickArea(QWidget* parent) : QWidget(parent) {
    // Nothing to paint: the skin underneath shows through.
    setAttribute(Qt::WA_NoSystemBackground);
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

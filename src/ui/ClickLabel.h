#pragma once

#include <QImage>
#include <QLabel>
#include <QWidget>

// A transparent label that reports clicks the way the classic controls do: clicked() on a
// left-button release inside the label after a press on it; pressed()/released() for any
// button (the move handle needs both).
class ClickLabel : public QLabel {
    Q_OBJECT
public:
    explicit ClickLabel(QWidget* parent = nullptr);
    explicit ClickLabel(const QString& text, QWidget* parent = nullptr);

    // Shows a picture stretched to the label's size (the speaker symbols).
    void SetImage(const QImage& image);

signals:
    void clicked();
    void pressed(Qt::MouseButton button);
    void released(Qt::MouseButton button);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool leftDown_ = false;
};

// An invisible rectangle that only takes clicks (the transport buttons are part of the skin).
class ClickArea : public QWidget {
    Q_OBJECT
public:
    explicit ClickArea(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool leftDown_ = false;
};

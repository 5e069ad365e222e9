#pragma once

#include <QImage>
#include <QLabel>
#include <QWidget>

// A transparent label that reports clicks the way the classic controls do: clicked() on a
// left-button release inside the label after a press on it; pressed()/released() for any
// button (the move handle needs both). Tab reaches it, Space or Return clicks it, and while it
// has the keyboard focus it wears the focus mark.
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
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool leftDown_ = false;
    bool focusMark_ = false;
};

// An invisible rectangle that only takes clicks (the transport buttons are part of the skin);
// reached by Tab and clicked by Space or Return like the label.
class ClickArea : public QWidget {
    Q_OBJECT
public:
    explicit ClickArea(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool leftDown_ = false;
    bool focusMark_ = false;
};

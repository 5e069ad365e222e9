#pragma once

#include <QWidget>

// Shows that a window would take what is dragged over it: a light frame inside the window's
// rounded edge, over every control, while the drag lasts. It takes no input.
class DropMark : public QWidget {
public:
    explicit DropMark(QWidget* window);

    // Shown over the whole window, or hidden.
    void SetShown(bool shown);

protected:
    void paintEvent(QPaintEvent* event) override;
};

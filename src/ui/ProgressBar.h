#pragma once

#include <QWidget>
#include <cstdint>

// A progress bar with 32-bit range whose position is clamped into the range when set and when
// the range changes (track lengths in milliseconds exceed any 16-bit range). QProgressBar
// ignores out-of-range values and resets itself when the range moves past its value, which
// would break the end-of-track test that compares position and maximum.
//
// Once made seekable, the user picks a place on it: a press or a drag with the left button
// reports the fraction of its width under the pointer, and while the button is held the bar
// shows that place whatever position it is given, so a timer that sets it cannot snap it back.
// With the keyboard focus, Left, Right, Home and End are reported as they come.
class TProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit TProgressBar(QWidget* parent = nullptr);

    int32_t Min() const { return min_; }
    int32_t Max() const { return max_; }
    int32_t Position() const { return position_; }
    void SetMin(int32_t value);
    void SetMax(int32_t value);
    void SetPosition(int32_t value);

    bool Seekable() const { return seekable_; }
    void SetSeekable(bool seekable);
    bool Dragging() const { return dragging_; }

signals:
    // `fraction` (0..1) of the width under the pointer: `done` false while the button is held,
    // true where it was let go.
    void Picked(double fraction, bool done);
    // Qt::Key_Left, Key_Right, Key_Home or Key_End.
    void KeyPicked(int key);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void SetState(int32_t min, int32_t max, int32_t position);
    int FilledWidth() const;
    double FractionAt(double x) const;
    void Drag(double x);
    // Repaints the columns between a filled width of `before` and the one shown now.
    void RepaintFrom(int before);

    int32_t min_ = 0;
    int32_t max_ = 100;
    int32_t position_ = 0;
    bool seekable_ = false;
    bool dragging_ = false;
    double dragFraction_ = 0;
};

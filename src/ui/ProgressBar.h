#pragma once

#include <QWidget>
#include <cstdint>

// A progress bar with 32-bit range whose position is clamped into the range when set and when
// the range changes (track lengths in milliseconds exceed any 16-bit range). QProgressBar
// ignores out-of-range values and resets itself when the range moves past its value, which
// would break the end-of-track test that compares position and maximum.
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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void SetState(int32_t min, int32_t max, int32_t position);
    int FilledWidth() const;

    int32_t min_ = 0;
    int32_t max_ = 100;
    int32_t position_ = 0;
};

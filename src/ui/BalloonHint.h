#pragma once

#include <QObject>
#include <QPainterPath>
#include <QPointer>
#include <QTimer>
#include <QWidget>

// The bubble itself: a rounded rectangle with a pointer towards the control, drawn
// anti-aliased. The window mask keeps it shaped where no compositor blends the corners.
class BalloonTip : public QWidget {
    Q_OBJECT
public:
    explicit BalloonTip(QWidget* parent = nullptr);

    static constexpr int PointerWidth = 16;
    static constexpr int PointerHeight = 11;

    // Lays the bubble out for the text with the pointer tip at `tip` (global coordinates),
    // below the point when there is room on the screen, above it otherwise.
    void ShowAt(const QString& text, const QPoint& tip);

    QString Text() const { return text_; }
    bool PointsUp() const { return pointsUp_; }
    // The outline in widget coordinates, for painting and for the mask.
    const QPainterPath& Outline() const { return outline_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QPainterPath outline_;
    QRect textRect_;
    bool pointsUp_ = true;
};

// Balloon-style hints: watches the whole application for tooltip requests and shows every
// widget's toolTip() in a BalloonTip instead of the plain tooltip. The bubble goes away when the
// mouse leaves the control, on any click or key, and after a timeout.
class BalloonHint : public QObject {
    Q_OBJECT
public:
    explicit BalloonHint(QObject* parent = nullptr);
    ~BalloonHint() override;

    // Starts watching every widget of the application (one instance is enough).
    void Install();

    void ShowHint(QWidget* control, const QString& text);
    void HideHint();

    // The bubble while one is shown, else nullptr.
    BalloonTip* Tip() const;

    void SetHideTimeout(int milliseconds) { hideTimer_.setInterval(milliseconds); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<BalloonTip> tip_;
    QPointer<QWidget> control_;
    QTimer hideTimer_;
};

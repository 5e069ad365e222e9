#include "ui/Accessibility.h"

#include "core/BoundedWait.h"

#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPainter>
#include <QWidget>

#include <utility>

namespace {

constexpr char RoleProperty[] = "ondrixAccessibleRole";
constexpr char HiddenProperty[] = "ondrixAccessibleHidden";

// The role is read when asked: with a reader running, Qt may describe a control as soon as it
// is created, before its window has named it.
class SkinControl : public QAccessibleWidget {
public:
    explicit SkinControl(QWidget* w) : QAccessibleWidget(w) {}

    QAccessible::Role role() const override {
        const QVariant r = widget()->property(RoleProperty);
        if (r.isValid())
            return static_cast<QAccessible::Role>(r.toInt());
        if (widget()->property(HiddenProperty).toBool())
            return QAccessible::Client;
        if (widget()->inherits("SkinnedForm"))
            // a main window is not a dialog, though it is a QDialog underneath
            return widget()->windowType() == Qt::Window ? QAccessible::Window : QAccessible::Dialog;
        return widget()->inherits("TProgressBar") ? QAccessible::ProgressBar : QAccessible::Button;
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        if (widget()->property(HiddenProperty).toBool())
            s.invisible = true;
        return s;
    }

    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (Pressable() && widget()->isEnabled())
            names.prepend(pressAction());
        return names;
    }

    void doAction(const QString& action) override {
        if (action == pressAction() && Pressable() && widget()->isEnabled()) {
            // from the event loop, and not while a file is being opened
            QWidget* target = widget();
            BoundedWait::AfterWait(target, [target] {
                QMetaObject::invokeMethod(target, "clicked", Qt::DirectConnection);
            });
            return;
        }
        QAccessibleWidget::doAction(action);
    }

    QStringList keyBindingsForAction(const QString& action) const override {
        if (action == pressAction() && Pressable())
            return {QStringLiteral("Space")};
        return QAccessibleWidget::keyBindingsForAction(action);
    }

private:
    bool Pressable() const {
        return (role() == QAccessible::Button || role() == QAccessible::Link) &&
               widget()->metaObject()->indexOfSignal("clicked()") >= 0;
    }
};

QAccessibleInterface* skinFactory(const QString&, QObject* object) {
    auto* w = qobject_cast<QWidget*>(object);
    if (!w ||
        !(w->inherits("ClickLabel") || w->inherits("ClickArea") || w->inherits("TProgressBar") ||
          w->inherits("SkinnedForm") || w->property(HiddenProperty).toBool()))
        return nullptr;
    return new SkinControl(w);
}

class ArrowKeys : public QObject {
public:
    ArrowKeys(QWidget* control, std::function<void(QPoint)> handler)
        : QObject(control), handler_(std::move(handler)) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const int step = key->modifiers() & Qt::ShiftModifier ? 1 : 10;
        QPoint by;
        switch (key->key()) {
        case Qt::Key_Left:
            by = {-step, 0};
            break;
        case Qt::Key_Right:
            by = {step, 0};
            break;
        case Qt::Key_Up:
            by = {0, -step};
            break;
        case Qt::Key_Down:
            by = {0, step};
            break;
        default:
            return false;
        }
        handler_(by);
        return true;
    }

private:
    std::function<void(QPoint)> handler_;
};

// Paints the focus mark over a standard control after it has painted itself: the style's own
// focus cue is faint on the skin's blues.
class FocusMarker : public QObject {
public:
    explicit FocusMarker(QWidget* control) : QObject(control) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* w = static_cast<QWidget*>(watched);
        switch (event->type()) {
        case QEvent::FocusIn: {
            shown_ = FocusedByKeyboard(static_cast<QFocusEvent*>(event));
            w->update();
            break;
        }
        case QEvent::FocusOut:
            shown_ = false;
            w->update();
            break;
        case QEvent::Paint:
            if (shown_ && !painting_ && w->hasFocus()) {
                painting_ = true;
                QCoreApplication::sendEvent(w, event);
                painting_ = false;
                PaintFocusMark(w, false);
                return true;
            }
            break;
        default:
            break;
        }
        return false;
    }

private:
    bool shown_ = false;
    bool painting_ = false;
};

} // namespace

bool FocusedByKeyboard(const QFocusEvent* event) {
    return event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason ||
           event->reason() == Qt::ShortcutFocusReason;
}

void MarkKeyboardFocus(QWidget* control) {
    control->installEventFilter(new FocusMarker(control));
}

void InstallAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(skinFactory);
        return true;
    }();
    (void)installed;
}

void HideFromReaders(QWidget* widget) {
    InstallAccessibility();
    widget->setProperty(HiddenProperty, true);
}

void SetAccessible(QWidget* control, const QString& name, QAccessible::Role role,
                   const QString& description) {
    InstallAccessibility();
    control->setAccessibleName(name);
    if (!description.isEmpty())
        control->setAccessibleDescription(description);
    if (role != QAccessible::NoRole)
        control->setProperty(RoleProperty, static_cast<int>(role));
}

void SetTabOrder(std::initializer_list<QWidget*> controls) {
    QWidget* previous = nullptr;
    for (QWidget* w : controls) {
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

void OnArrowKeys(QWidget* control, std::function<void(QPoint step)> handler) {
    control->installEventFilter(new ArrowKeys(control, std::move(handler)));
}

void PaintFocusMark(QWidget* control, bool round) {
    QPainter painter(control);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    const QRectF r = QRectF(control->rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    // a light glow with a navy line: it shows on the grey bars and on the blue panel alike
    for (const auto& [colour, width] :
         {std::pair{QColor(150, 205, 255, 220), 3.0}, std::pair{QColor(0, 0, 128), 1.0}}) {
        painter.setPen(QPen(colour, width));
        if (round)
            painter.drawEllipse(r);
        else
            painter.drawRoundedRect(r, 3, 3);
    }
}

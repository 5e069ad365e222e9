#pragma once

#include <QAccessible>
#include <QPoint>
#include <QString>

#include <functional>
#include <initializer_list>

class QFocusEvent;
class QWidget;

// Screen readers (AT-SPI) and the keyboard reach the skinned controls. The skin's buttons are
// labels and bare click areas, which Qt describes as static text or nothing at all; a control
// given a role here is described with that role and its name, and a button or link offers the
// reader a press action that clicks it (from the event loop, so a modal window it opens does
// not hold the reader's call). Standard widgets only get the name and keep Qt's description.
void SetAccessible(QWidget* control, const QString& name,
                   QAccessible::Role role = QAccessible::NoRole, const QString& description = {});

// Describes the skinned controls from now on; the windows call it before creating any.
void InstallAccessibility();

// Keeps a widget that only helps drawing out of what a reader announces.
void HideFromReaders(QWidget* widget);

// Tab moves through the controls in this order.
void SetTabOrder(std::initializer_list<QWidget*> controls);

// The arrow keys on a control, as a step of 10 pixels (1 with Shift).
void OnArrowKeys(QWidget* control, std::function<void(QPoint step)> handler);

// Gives a standard control (slider, check box, list) the same focus mark as the skinned ones.
void MarkKeyboardFocus(QWidget* control);

// True for focus that came from the keyboard, not from a click or the window becoming active:
// only then is the mark shown, so mouse users see the skin as drawn.
bool FocusedByKeyboard(const QFocusEvent* event);

// Paints the keyboard focus mark on a control that has it, in the skin's colours: a ring
// around a label, an ellipse inside a round transport button.
void PaintFocusMark(QWidget* control, bool round);

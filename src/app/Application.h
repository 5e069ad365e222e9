#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>

// The application object. Its notify() is the one place where an error escaping an event
// handler, a timer tick or a window's creation becomes the error box; the program carries on.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Runs a handler as an event, so that whatever it raises reaches notify().
    static void RunHandler(const std::function<void()>& handler);

    // The text the box shows: the message, with "." appended when its last character sorts
    // after ".".
    static QString ErrorBoxText(const QString& message);

    // Tests record the boxes instead of showing them.
    using ErrorBoxHook = std::function<void(const QString& text)>;
    static void SetErrorBoxHook(ErrorBoxHook hook);

private:
    static void ShowErrorBox(const QString& message);
};

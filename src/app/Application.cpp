#include "app/Application.h"

#include <QEvent>
#include <QIcon>
#include <QImageReader>
#include <QMessageBox>
#include <QPixmap>

namespace {

TApplication::ErrorBoxHook& errorBoxHook() {
    static TApplication::ErrorBoxHook hook;
    return hook;
}

// Carries a handler to the runner below, so it runs inside notify().
class HandlerEvent : public QEvent {
public:
    explicit HandlerEvent(const std::function<void()>& fn)
        : QEvent(QEvent::Type(QEvent::User + 1)), handler(fn) {}
    const std::function<void()>& handler;
};

class HandlerRunner : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() != QEvent::User + 1)
            return QObject::event(e);
        static_cast<HandlerEvent*>(e)->handler();
        return true;
    }
};

} // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    Q_INIT_RESOURCE(ondrix);
    setApplicationName(QStringLiteral("Ondrix 3"));
    // no display name: Qt would append it to every window's title
    setApplicationVersion(QStringLiteral(ONDRIX_VERSION));
    // the installed desktop entry's name, so desktops match the windows to its icon
    setDesktopFileName(QStringLiteral("io.github.ondrix.Ondrix3"));
    // Read as PNG with the format fixed: QIcon::addFile asks every image plugin whether it can
    // read the file, which loads all of them at start-up.
    QIcon icon;
    for (int size : {16, 24, 32, 48, 256}) {
        QImageReader reader(QStringLiteral(":/icons/ondrix-%1.png").arg(size), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    setWindowIcon(icon);
    // The program ends only when told to: a modal window closing while the main window is
    // hidden must not end it.
    setQuitOnLastWindowClosed(false);
    QCoreApplication::setQuitLockEnabled(false);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowErrorBox(QStringLiteral("Unknown error"));
    }
    return true;
}

void TApplication::RunHandler(const std::function<void()>& handler) {
    static HandlerRunner runner;
    HandlerEvent e(handler);
    QCoreApplication::sendEvent(&runner, &e);
}

QString TApplication::ErrorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void TApplication::SetErrorBoxHook(ErrorBoxHook hook) {
    errorBoxHook() = std::move(hook);
}

void TApplication::ShowErrorBox(const QString& message) {
    const QString text = ErrorBoxText(message);
    if (errorBoxHook()) {
        errorBoxHook()(text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, applicationName(), text, QMessageBox::Ok);
    // messages carry file names, tag texts and server answers: never markup
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ondrix 3"));
    QWidget window;
    window.setWindowTitle(QStringLiteral("Ondrix 3"));
    window.resize(534, 227);
    window.show();
    return app.exec();
}

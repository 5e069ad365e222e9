// Draws the window skins, the speaker symbols, the logo and the program icon, and writes them
// to the folder given (resources/): JPEGs through libjpeg, icons as PNG and one .ico.
#include "Art.h"
#include "IcoWriter.h"
#include "JpegWriter.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <cstdio>

namespace {

bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.flush()) {
        std::fprintf(stderr, "skingen: cannot write %s: %s\n", qPrintable(path),
                     qPrintable(f.errorString()));
        return false;
    }
    std::printf("%s (%lld bytes)\n", qPrintable(path), static_cast<long long>(data.size()));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // fonts need a GUI application; no display is needed
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: skingen <resources folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "skingen: cannot create %s\n", argv[1]);
        return 1;
    }
    QDir().mkpath(out.filePath(QStringLiteral("skins")));
    QDir().mkpath(out.filePath(QStringLiteral("icons")));

    bool ok = true;
    try {
        const struct {
            const char* name;
            QImage image;
        } skins[] = {
            {"skins/main.jpg", Art::MainPanel()},
            {"skins/speaker.jpg", Art::Speaker(false)},
            {"skins/speaker-muted.jpg", Art::Speaker(true)},
            {"skins/tracklist.jpg", Art::EditorPanel()},
            {"skins/about.jpg", Art::AboutPanel()},
            {"skins/logo.jpg", Art::Logo()},
        };
        for (const auto& s : skins)
            ok &= writeFile(out.filePath(QString::fromLatin1(s.name)), EncodeJpeg(s.image, 92));

        QList<QImage> icons;
        for (int size : {16, 24, 32, 48, 256}) {
            const QImage icon = Art::Icon(size);
            icons << icon;
            QByteArray png;
            icon.save(out.filePath(QStringLiteral("icons/ondrix-%1.png").arg(size)), "PNG");
            std::printf("%s\n",
                        qPrintable(out.filePath(QStringLiteral("icons/ondrix-%1.png").arg(size))));
        }
        ok &= writeFile(out.filePath(QStringLiteral("icons/ondrix.ico")), EncodeIco(icons));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "skingen: %s\n", e.what());
        return 1;
    }
    return ok ? 0 : 1;
}

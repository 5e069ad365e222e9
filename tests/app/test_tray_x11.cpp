#include "AppTestSupport.h"
#include "LocalWebServer.h"

#include "app/frmIndex.h"
#include "app/frmMenu.h"
#include "net/UrlActions.h"
#include "ui/ClickLabel.h"
#include "ui/SkinnedForm.h"

#include <QPainter>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QSystemTrayIcon>

// These run on a real X server (with_xvfb.py) against a real XEmbed notification area: Debian's
// trayer. The D-Bus session bus is switched off, so Qt takes the XEmbed path.

namespace {

QString Run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        ADD_FAILURE() << program.toStdString() << " " << args.join(' ').toStdString()
                      << " failed: " << p.readAllStandardError().toStdString();
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

// An X window's map state and its parent, from xwininfo.
struct XWindowState {
    bool viewable = false;
    bool unmapped = false;
    QString parent;
};

XWindowState StateOf(WId id) {
    XWindowState s;
    const QString info = Run("/usr/bin/xwininfo", {"-id", QString::number(id)});
    s.viewable = info.contains("Map State: IsViewable");
    s.unmapped = info.contains("Map State: IsUnMapped");
    const QString tree = Run("/usr/bin/xwininfo", {"-tree", "-id", QString::number(id)});
    const auto m = QRegularExpression("Parent window id: (0x[0-9a-f]+)").match(tree);
    s.parent = m.captured(1);
    return s;
}

QString RootWindow() {
    const auto m = QRegularExpression("Root window id: (0x[0-9a-f]+)")
                       .match(Run("/usr/bin/xwininfo", {"-tree", "-root"}));
    return m.captured(1);
}

// Qt's XEmbed icon is a top-level widget of its own.
QWidget* TrayIconWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qstrcmp(w->metaObject()->className(), "QSystemTrayIconSys") == 0)
            return w;
    return nullptr;
}

// trayer, stopped by its PID.
class Trayer {
public:
    ~Trayer() { Stop(); }
    void Start() {
        process_.start("/usr/bin/trayer", {"--edge", "top", "--align", "left", "--widthtype",
                                           "pixel", "--width", "120", "--heighttype", "pixel",
                                           "--height", "32", "--transparent", "false"});
        process_.waitForStarted(10000);
    }
    void Stop() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

private:
    QProcess process_;
};

// Clicks the middle of an X window with xdotool, as a user's mouse would.
void ClickWindow(WId id) {
    const QString geometry =
        Run("/usr/bin/xdotool", {"getwindowgeometry", "--shell", QString::number(id)});
    QMap<QString, int> g;
    for (const QString& line : geometry.split('\n', Qt::SkipEmptyParts))
        g[line.section('=', 0, 0)] = line.section('=', 1).toInt();
    // run alongside the event loop, so the click is taken while xdotool waits
    QProcess xdotool;
    xdotool.start("/usr/bin/xdotool", {"mousemove", QString::number(g["X"] + g["WIDTH"] / 2),
                                       QString::number(g["Y"] + g["HEIGHT"] / 2), "click", "1"});
    EXPECT_TRUE(WaitFor([&] { return xdotool.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(xdotool.exitCode(), 0) << xdotool.readAllStandardError().toStdString();
}

} // namespace

// Hidden, the window leaves the screen and its icon is embedded in trayer; a real click on the
// icon brings the window back. After trayer restarts, the icon is embedded again and works.
TEST_F(AppTest, IconInARealTrayBringsTheWindowBackAlsoAfterTheTrayRestarts) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    Trayer trayer;
    trayer.Start();
    ASSERT_TRUE(WaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }))
        << "trayer did not take the notification area";
    const QString root = RootWindow();

    TfrmIndex w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    QString firstTray;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first tray" : "restarted tray");
        QTest::mouseClick(w.Label5, Qt::LeftButton);
        EXPECT_TRUE(RecordedBoxes().isEmpty()) << RecordedBoxes().join('\n').toStdString();
        EXPECT_TRUE(WaitFor([&] { return StateOf(w.winId()).unmapped; }, 5000))
            << "the hidden main window is still mapped";

        QWidget* icon = nullptr;
        ASSERT_TRUE(WaitFor(
            [&] {
                icon = TrayIconWindow();
                if (!icon)
                    return false;
                const XWindowState s = StateOf(icon->winId());
                return s.viewable && s.parent != root;
            },
            10000))
            << "the icon was not embedded in the tray";
        // the second time round the icon sits in the new trayer's window, not the dead one's
        const QString parent = StateOf(icon->winId()).parent;
        if (round == 0)
            firstTray = parent;
        else
            EXPECT_NE(parent, firstTray);

        ClickWindow(icon->winId());
        EXPECT_TRUE(WaitFor([&] { return w.isVisible() && StateOf(w.winId()).viewable; }, 5000))
            << "the click did not bring the window back";
        EXPECT_FALSE(dmData->Tray->isVisible());

        if (round == 0) {
            // hide again, then replace the tray while the icon is showing
            QTest::mouseClick(w.Label5, Qt::LeftButton);
            ASSERT_TRUE(dmData->Tray->isVisible());
            trayer.Stop();
            ASSERT_TRUE(WaitFor([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }, 5000));
            trayer.Start();
            ASSERT_TRUE(WaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
            // the icon must come back into the new tray by itself
            ASSERT_TRUE(WaitFor(
                [&] {
                    QWidget* i = TrayIconWindow();
                    if (!i)
                        return false;
                    const XWindowState s = StateOf(i->winId());
                    return s.viewable && s.parent != root;
                },
                10000))
                << "the icon was not embedded again after the tray restarted";
            ClickWindow(TrayIconWindow()->winId());
            ASSERT_TRUE(WaitFor([&] { return w.isVisible(); }, 5000));
        }
    }
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << RecordedBoxes().join('\n').toStdString();
}

// The about window on a real X server with version text from a local server: the memo shows
// white text on blue, and the rounded corners show what lies behind. With ONDRIX_SCREENSHOT set
// the window is saved there as a PNG, its corners transparent.
TEST_F(AppTest, AboutWindowShowsDownloadedVersionText) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    DropProxySettings();
    QTemporaryDir www;
    QDir().mkpath(www.filePath("soft/ondrix"));
    QFile info(www.filePath("soft/ondrix/info.qd3"));
    ASSERT_TRUE(info.open(QIODevice::WriteOnly));
    info.write("\xEF\xBB\xBFOndrix 3.0 is the latest version.\r\n"
               "Plays MP3, WMA and WAV; hides to the tray.\r\n"
               "Released 2010-11-20.\r\n");
    info.close();
    LocalWebServer server;
    ASSERT_TRUE(server.Start(www.path()));
    // the placeholder addresses in the labels, the version text from the local server
    dmData->Actions->SetServer(UrlActions::DefaultServer());
    dmData->Actions->dInfo.SetURL(server.Base() + UrlActions::InfoPath);

    TfrmMenu about;
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    QTest::qWait(300);
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << RecordedBoxes().join('\n').toStdString();
    ASSERT_EQ(about.Memo1->blockCount(), 3);

    const QRect g = about.geometry();
    QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage().copy(g).convertToFormat(
        QImage::Format_ARGB32);
    // white text pixels inside the memo's blue
    const QRect memo = about.Memo1->viewport()->geometry().translated(about.Memo1->pos());
    int white = 0, blue = 0;
    for (int y = memo.top(); y <= memo.bottom(); ++y)
        for (int x = memo.left(); x <= memo.right(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            white += c.red() > 200 && c.green() > 200 && c.blue() > 200;
            blue += c == QColor(0, 0, 255);
        }
    EXPECT_GT(white, 100);
    EXPECT_GT(blue, memo.width() * memo.height() / 2);

    const QString out = qEnvironmentVariable("ONDRIX_SCREENSHOT");
    if (!out.isEmpty()) {
        const QRegion inside = RoundRectRegion(g.width(), g.height());
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (!inside.contains(QPoint(x, y)))
                    shot.setPixelColor(x, y, Qt::transparent);
        EXPECT_TRUE(shot.save(out, "PNG"));
    }
}

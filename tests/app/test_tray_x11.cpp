#include "AppTestSupport.h"
#include "support/LocalWebServer.h"

#include "app/frmIndex.h"
#include "app/frmMenu.h"
#include "net/UrlActions.h"
#include "ui/ClickLabel.h"
#include "ui/SkinnedForm.h"

#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
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

// An X window's map state, its place on the screen and its parent, from xwininfo.
struct XWindowState {
    bool viewable = false;
    bool unmapped = false;
    QRect onScreen;
    QString parent;
};

XWindowState StateOf(const QString& id) {
    XWindowState s;
    const QString info = Run("/usr/bin/xwininfo", {"-id", id});
    s.viewable = info.contains("Map State: IsViewable");
    s.unmapped = info.contains("Map State: IsUnMapped");
    auto field = [&](const char* name) {
        return QRegularExpression(QStringLiteral("%1:\\s+(-?\\d+)").arg(name))
            .match(info)
            .captured(1)
            .toInt();
    };
    s.onScreen = QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"),
                       field("Width"), field("Height"));
    const QString tree = Run("/usr/bin/xwininfo", {"-tree", "-id", id});
    const auto m = QRegularExpression("Parent window id: (0x[0-9a-f]+)").match(tree);
    s.parent = m.captured(1);
    return s;
}

XWindowState StateOf(WId id) {
    return StateOf(QString::number(id));
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

// Qt's xcb plugin, only a QObject here: its header is private, and QObject is its sole base.
QObject* NativeInterface() {
    return reinterpret_cast<QObject*>(QGuiApplication::platformNativeInterface());
}

// trayer, stopped by its PID.
class Trayer {
public:
    ~Trayer() { Stop(); }
    // Started once Qt has read the new tray's announcement as well as found it: an icon shown
    // before that is thrown away and made anew when the announcement is read, and a click
    // aimed at the old one lands on the tray.
    bool Start() {
        QSignalSpy announced(NativeInterface(), SIGNAL(systemTrayWindowChanged(QScreen*)));
        process_.start("/usr/bin/trayer", {"--edge", "top", "--align", "left", "--widthtype",
                                           "pixel", "--width", "120", "--heighttype", "pixel",
                                           "--height", "32", "--transparent", "false"});
        process_.waitForStarted(10000);
        return WaitFor(
            [&] { return !announced.isEmpty() && QSystemTrayIcon::isSystemTrayAvailable(); });
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

// Clicks a point of the screen with xdotool, as a user's mouse would. xdotool runs alongside
// the event loop, so the click is taken while it waits.
void ClickAt(QPoint p, int button = 1) {
    QProcess xdotool;
    xdotool.start("/usr/bin/xdotool", {"mousemove", QString::number(p.x()), QString::number(p.y()),
                                       "click", QString::number(button)});
    EXPECT_TRUE(WaitFor([&] { return xdotool.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(xdotool.exitCode(), 0) << xdotool.readAllStandardError().toStdString();
}

// The middle of an X window on the screen, wherever it has been reparented to.
QPoint MiddleOf(WId id) {
    return StateOf(id).onScreen.center();
}

// The icon's window once it is mapped inside a tray's window and laid out there (whole inside
// the tray's socket, in the same place on two reads), so a click at its middle reaches it.
QWidget* EmbeddedIcon(const QString& root) {
    QWidget* icon = nullptr;
    QRect last;
    const bool embedded = WaitFor(
        [&] {
            icon = TrayIconWindow();
            if (!icon)
                return false;
            const XWindowState s = StateOf(icon->winId());
            if (!s.viewable || s.parent == root || s.onScreen.isEmpty())
                return false;
            const bool settled =
                s.onScreen == last && StateOf(s.parent).onScreen.contains(s.onScreen);
            last = s.onScreen;
            return settled;
        },
        10000);
    if (!embedded && icon) {
        const XWindowState s = StateOf(icon->winId());
        const QRect socket = StateOf(s.parent).onScreen;
        ADD_FAILURE() << "icon window viewable " << s.viewable << " at "
                      << QDebug::toString(s.onScreen).toStdString() << ", parent "
                      << s.parent.toStdString() << " at " << QDebug::toString(socket).toStdString()
                      << " (root " << root.toStdString() << ")";
    }
    return embedded ? icon : nullptr;
}

} // namespace

// With no notification area, "─" reports it and the window stays on screen. Once trayer runs:
// hidden, the window is unmapped and its icon embedded in the tray; a real click on the icon
// brings the window back; a right click opens the menu at the cursor and "Show Ondrix" brings it
// back too. When trayer is killed and started again while the icon shows, the icon is embedded
// in the new tray by itself and still works.
TEST_F(AppTest, IconInARealTrayBringsTheWindowBackAlsoAfterTheTrayRestarts) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    const QString root = RootWindow();
    TfrmIndex w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    QTest::mouseClick(w.Label5, Qt::LeftButton);
    EXPECT_EQ(RecordedBoxes(), QStringList{"Cannot create shell notification icon."});
    QTest::qWait(200);
    EXPECT_TRUE(StateOf(w.winId()).viewable);
    RecordedBoxes().clear();

    Trayer trayer;
    ASSERT_TRUE(trayer.Start()) << "trayer did not take the notification area";

    // left click
    QTest::mouseClick(w.Label5, Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return StateOf(w.winId()).unmapped; }, 5000))
        << "the hidden main window is still mapped";
    QWidget* icon = EmbeddedIcon(root);
    ASSERT_TRUE(icon) << "the icon was not embedded in the tray";
    ClickAt(MiddleOf(icon->winId()));
    EXPECT_TRUE(WaitFor([&] { return w.isVisible() && StateOf(w.winId()).viewable; }, 5000))
        << "the click did not bring the window back";
    EXPECT_FALSE(dmData->Tray->isVisible());

    // right click, then the menu item
    QTest::mouseClick(w.Label5, Qt::LeftButton);
    icon = EmbeddedIcon(root);
    ASSERT_TRUE(icon);
    // The hidden window loses the focus a moment later, and Qt closes every popup when the
    // application turns inactive: a menu opened before that would vanish at once.
    WaitFor([] { return QGuiApplication::applicationState() != Qt::ApplicationActive; }, 2000);
    const QPoint at = MiddleOf(icon->winId());
    ClickAt(at, 3);
    ASSERT_TRUE(WaitFor([&] { return dmData->pmTray->isVisible(); }, 5000)) << "no menu";
    EXPECT_LE((dmData->pmTray->geometry().topLeft() - at).manhattanLength(), 2)
        << "the menu did not open at the cursor";
    EXPECT_FALSE(w.isVisible());
    ClickAt(
        dmData->pmTray->mapToGlobal(dmData->pmTray->actionGeometry(dmData->ShowOndrix1).center()));
    EXPECT_TRUE(WaitFor([&] { return w.isVisible() && StateOf(w.winId()).viewable; }, 5000))
        << "Show Ondrix did not bring the window back";
    EXPECT_FALSE(dmData->Tray->isVisible());

    // the tray restarts while the icon shows
    QTest::mouseClick(w.Label5, Qt::LeftButton);
    ASSERT_TRUE(EmbeddedIcon(root));
    trayer.Stop();
    ASSERT_TRUE(WaitFor([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }, 5000));
    // with the tray gone, Qt drops its icon window; nothing is embedded anywhere
    EXPECT_TRUE(WaitFor(
        [] { return !TrayIconWindow() || !StateOf(TrayIconWindow()->winId()).viewable; }, 5000));
    EXPECT_TRUE(dmData->Tray->isVisible());
    ASSERT_TRUE(trayer.Start());
    // a new icon window in the new tray (whose window may even reuse the old one's X id)
    icon = EmbeddedIcon(root);
    ASSERT_TRUE(icon) << "the icon was not embedded again after the tray restarted";
    ClickAt(MiddleOf(icon->winId()));
    EXPECT_TRUE(WaitFor([&] { return w.isVisible() && StateOf(w.winId()).viewable; }, 5000))
        << "the click did not bring the window back after the restart";
    EXPECT_FALSE(dmData->Tray->isVisible());
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

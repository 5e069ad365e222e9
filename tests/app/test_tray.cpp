#include "AppTestSupport.h"

#include "app/frmIndex.h"
#include "playback/MPlayer.h"
#include "ui/ClickLabel.h"
#include "ui/ProgressBar.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

namespace {

// Counts the times a window is shown.
class ShowCounter : public QObject {
public:
    int shows = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Show)
            ++shows;
        return false;
    }
};

// The offscreen platform has no notification area: these tests say whether there is one.
class TrayTest : public AppTest {
protected:
    void TearDown() override {
        TdmData::SetTrayAvailableOverride(std::nullopt);
        AppTest::TearDown();
    }
    static void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
};

} // namespace

// The icon is set up hidden, with the title as tooltip, all five icon sizes and a one-item menu.
TEST_F(TrayTest, IconStartsHiddenWithTitleIconAndMenu) {
    QSystemTrayIcon* tray = dmData->Tray;
    EXPECT_FALSE(tray->isVisible());
    EXPECT_EQ(tray->toolTip(), "Ondrix 3");
    EXPECT_EQ(tray->icon().availableSizes(),
              QList<QSize>({{16, 16}, {24, 24}, {32, 32}, {48, 48}, {256, 256}}));
    EXPECT_EQ(tray->contextMenu(), dmData->pmTray);
    ASSERT_EQ(dmData->pmTray->actions().size(), 1);
    EXPECT_EQ(dmData->pmTray->actions().first(), dmData->ShowOndrix1);
    EXPECT_EQ(dmData->ShowOndrix1->text(), "Show Ondrix");
}

// "─" hides the window (not minimised) and shows the icon; a click brings the window back in
// its place, once, and removes the icon, also when the click was a double click.
TEST_F(TrayTest, HideShowsIconAndClickBringsWindowBack) {
    TdmData::SetTrayAvailableOverride(true);
    TfrmIndex w;
    w.show();
    w.move(120, 80);
    const QRect place = w.geometry();
    Click(w.Label5);
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());
    EXPECT_TRUE(dmData->Tray->isVisible());

    ShowCounter counter;
    w.installEventFilter(&counter);
    emit dmData->Tray->activated(QSystemTrayIcon::Trigger);
    emit dmData->Tray->activated(QSystemTrayIcon::DoubleClick);
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(counter.shows, 1);
    EXPECT_EQ(w.geometry(), place);
    EXPECT_FALSE(dmData->Tray->isVisible());

    // a middle click or a context request does not touch the window
    Click(w.Label5);
    emit dmData->Tray->activated(QSystemTrayIcon::MiddleClick);
    emit dmData->Tray->activated(QSystemTrayIcon::Context);
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(dmData->Tray->isVisible());
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << RecordedBoxes().join('\n').toStdString();
}

// The menu's "Show Ondrix" does what a click does.
TEST_F(TrayTest, MenuItemBringsWindowBack) {
    TdmData::SetTrayAvailableOverride(true);
    TfrmIndex w;
    w.show();
    Click(w.Label5);
    ASSERT_TRUE(dmData->Tray->isVisible());
    dmData->ShowOndrix1->trigger();
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(dmData->Tray->isVisible());
}

// With no notification area the window would be lost: the error is shown and it stays.
TEST_F(TrayTest, NoTrayShowsErrorAndKeepsWindow) {
    TdmData::SetTrayAvailableOverride(false);
    TfrmIndex w;
    w.show();
    Click(w.Label5);
    EXPECT_EQ(RecordedBoxes(), QStringList{"Cannot create shell notification icon."});
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(dmData->Tray->isVisible());

    // hidden some other way while there is no notification area: it comes back by itself
    RecordedBoxes().clear();
    w.hide();
    EXPECT_EQ(RecordedBoxes(), QStringList{"Cannot create shell notification icon."});
    EXPECT_TRUE(WaitFor([&] { return w.isVisible(); }, 2000));
    EXPECT_FALSE(dmData->Tray->isVisible());
}

// Playback and the status tick go on while the window is hidden: the next track starts.
TEST_F(TrayTest, PlaybackGoesOnWhileHidden) {
    TdmData::SetTrayAvailableOverride(true);
    QTemporaryDir media;
    const QStringList tracks{MakeTone(media.path(), "a.mp3", 440, 0.6),
                             MakeTone(media.path(), "b.mp3", 660, 0.6)};
    WriteFile("patch.dat", (tracks[0] + "\r\n" + tracks[1] + "\r\n").toUtf8());
    TfrmIndex w;
    w.show();
    Click(w.iPlay);
    Click(w.Label5);
    ASSERT_FALSE(w.isVisible());
    EXPECT_TRUE(WaitFor([&] { return w.CurrentIndex == 1 && w.Progres->Position() > 0; }, 10000));
    EXPECT_TRUE(w.tStatus->isActive());
    EXPECT_EQ(w.Player->FileName(), tracks[1]);
}

#include "AppTestSupport.h"
#include "support/LocalWebServer.h"

#include "app/frmIndex.h"
#include "app/frmMenu.h"
#include "net/UrlActions.h"
#include "net/UrlOpener.h"
#include "ui/ClickLabel.h"

#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>

using namespace std::chrono_literals;

namespace {

const QByteArray InfoBody("\xEF\xBB\xBFOndrix 3.0.1\r\nNov\xC3\xA1 verze\r\n\r\nend\r\n");
const QByteArray UpdaterBody("#!/bin/sh\necho not really an updater\n");

TransferLimits Quick() {
    TransferLimits limits;
    limits.connect = 2s;
    limits.stall = 2s;
    limits.total = 4s;
    return limits;
}

// The about window against local servers: one plain HTTP, one HTTPS with its own certificate.
class AboutTest : public AppTest {
protected:
    static void SetUpTestSuite() {
        DropProxySettings();
        files_ = std::make_unique<QTemporaryDir>();
        const QString root = files_->filePath("www");
        QDir().mkpath(root + "/soft/ondrix");
        Write(root + "/soft/ondrix/info.qd3", InfoBody);
        Write(root + "/soft/ondrix/updater.exe", UpdaterBody);
        cert_ = files_->filePath("cert.pem");
        const QString key = files_->filePath("key.pem");
        http_ = std::make_unique<LocalWebServer>();
        https_ = std::make_unique<LocalWebServer>();
        serversUp_ = MakeCertificate(cert_, key) && http_->Start(root) &&
                     https_->Start(root, {"--cert", cert_, "--key", key});
    }
    static void TearDownTestSuite() {
        https_.reset();
        http_.reset();
        files_.reset();
    }
    static void Write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }

    void SetUp() override {
        AppTest::SetUp();
        ASSERT_TRUE(serversUp_) << "the local web servers did not start";
        UrlOpener::SetRecording(true);
        UrlOpener::ClearRecorded();
        UseServer(http_->Base());
    }
    void TearDown() override {
        UrlOpener::ClearRecorded();
        AppTest::TearDown();
    }

    void UseServer(const QString& base) {
        UrlActions& a = *dmData->Actions;
        a.SetServer(base);
        a.dInfo.SetLimits(Quick());
        a.aUpdate.SetLimits(Quick());
        a.dInfo.SetCaFile(cert_);
        a.aUpdate.SetCaFile(cert_);
    }
    QStringList Entries() const {
        return QDir(work_.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    // Runs the program's event loop with the main window up, opens the about window from its
    // "?" label and clicks "Check for new version" in it. Returns exec()'s exit code; 7 means
    // the player was still running afterwards and was ended by the test.
    int RunUpdate(TfrmIndex& main) {
        QPointer<TfrmMenu> about;
        bool clicked = false;
        // polled, not waited for: the window is built while its download runs the event loop
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* m = qobject_cast<TfrmMenu*>(QApplication::activeModalWidget());
            if (!m || !m->isVisible())
                return;
            poll.stop();
            about = m;
            QTest::mouseClick(m->Button1, Qt::LeftButton);
            clicked = true;
            // quitting closes the windows at once; still open means the player runs on
            if (about && m->isVisible()) {
                m->close();
                QCoreApplication::exit(7);
            }
        });
        QTimer::singleShot(0, &main, [&] {
            poll.start(10);
            QTest::mouseClick(main.lMenu, Qt::LeftButton);
        });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(30000);
        const int code = QApplication::exec();
        EXPECT_TRUE(clicked);
        EXPECT_TRUE(about.isNull()) << "the about window outlived its modal run";
        return code;
    }

    static inline std::unique_ptr<QTemporaryDir> files_;
    static inline std::unique_ptr<LocalWebServer> http_;
    static inline std::unique_ptr<LocalWebServer> https_;
    static inline QString cert_;
    static inline bool serversUp_ = false;
};

} // namespace

// The layout's texts, with the placeholder server's addresses, fit their fixed label sizes in
// the fonts this machine resolves them to; the memo is the read-only blue box of the layout.
TEST_F(AboutTest, LayoutTextsFitAndMemoIsReadOnlyBlue) {
    dmData->Actions->SetServer(UrlActions::DefaultServer());
    dmData->Actions->dInfo.SetURL(http_->Base() + UrlActions::InfoPath);
    TfrmMenu w;
    EXPECT_EQ(w.size(), QSize(266, 426));
    EXPECT_EQ(w.windowTitle(), "frmMenu");
    for (QLabel* l : {static_cast<QLabel*>(w.Label1), w.Label2, w.Label3, w.Label5,
                      static_cast<QLabel*>(w.Label6), w.Label8, w.Label4, w.Label7}) {
        const QFontMetrics fm(l->font());
        EXPECT_LE(fm.horizontalAdvance(l->text()), l->width()) << l->text().toStdString();
        EXPECT_LE(fm.height(), l->height() + 6) << l->text().toStdString();
    }
    EXPECT_EQ(w.Label5->text(), "The Ondrix 3 authors");
    const QString host = QUrl(UrlActions::DefaultServer()).host();
    EXPECT_EQ(w.Label6->text(), host);
    EXPECT_EQ(w.Label8->text(), "info@" + host);
    for (QPushButton* b : {w.Button1, w.Button2})
        EXPECT_LE(QFontMetrics(b->font()).horizontalAdvance(b->text()) + 8, b->width())
            << b->text().toStdString();
    EXPECT_EQ(w.Button2->text(), "Contact us");
    EXPECT_EQ(w.Button1->text(), "Check for new version");
    EXPECT_TRUE(w.Memo1->isReadOnly());
    EXPECT_EQ(w.Memo1->palette().color(QPalette::Base), QColor(0, 0, 255));
    EXPECT_EQ(w.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(w.Memo1->frameShape(), QFrame::NoFrame);
}

// Opening the window downloads "info.qd3" (BOM, CR LF) and shows it line by line.
TEST_F(AboutTest, InfoIsDownloadedAndShownLineByLine) {
    WriteFile("info.qd3", "old text\r\n");
    TfrmMenu w;
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << RecordedBoxes().join('\n').toStdString();
    EXPECT_EQ(w.Memo1->toPlainText(), QString::fromUtf8("Ondrix 3.0.1\nNov\xC3\xA1 verze\n\nend"));
    EXPECT_EQ(ReadFile("info.qd3"), InfoBody);
    EXPECT_EQ(Entries(), QStringList{"info.qd3"});
}

// A 404 is an error, not a page saved as "info.qd3": the box names the address, the memo
// stays empty, an older copy of the file is kept, and the window still opens.
TEST_F(AboutTest, MissingInfoShowsErrorKeepsOldFileAndOpens) {
    WriteFile("info.qd3", "old text\r\n");
    UseServer(http_->Base() + "/nothing");
    TfrmMenu w;
    EXPECT_EQ(RecordedBoxes(), QStringList{"Error downloading URL: " + http_->Base() +
                                           "/nothing/soft/ondrix/info.qd3."});
    EXPECT_TRUE(w.Memo1->toPlainText().isEmpty());
    EXPECT_EQ(ReadFile("info.qd3"), QByteArray("old text\r\n"));
    EXPECT_EQ(Entries(), QStringList{"info.qd3"});
    w.show();
    EXPECT_TRUE(w.isVisible());
}

// No server listening, and a server that accepts and never answers: both end in the error
// box (the second through the transfer's time bound) with an empty memo and no file.
TEST_F(AboutTest, RefusedAndSilentServersShowErrors) {
    const QString refused = QStringLiteral("http://127.0.0.1:%1").arg(UnusedPort());
    UseServer(refused);
    {
        TfrmMenu w;
        EXPECT_TRUE(w.Memo1->toPlainText().isEmpty());
    }
    UseServer(http_->Base() + "/hang");
    {
        TfrmMenu w;
        EXPECT_TRUE(w.Memo1->toPlainText().isEmpty());
    }
    EXPECT_EQ(
        RecordedBoxes(),
        QStringList({"Error downloading URL: " + refused + "/soft/ondrix/info.qd3.",
                     "Error downloading URL: " + http_->Base() + "/hang/soft/ondrix/info.qd3."}));
    EXPECT_TRUE(Entries().isEmpty()) << Entries().join(' ').toStdString();
}

// The home label and "Contact us" hand their addresses to the desktop.
TEST_F(AboutTest, LinksOpenHomeAndContactPages) {
    TfrmMenu w;
    w.show();
    QTest::mouseClick(w.Label6, Qt::LeftButton);
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    EXPECT_EQ(
        UrlOpener::Recorded(),
        QList<QUrl>({QUrl(http_->Base() + "/"), QUrl(http_->Base() + "/index.php?page=kontakt")}));
}

// The transfer runs off the GUI thread: while a slow server takes 3 s to answer, the status
// tick goes on and a playing list moves to its next track before the about window is up.
TEST_F(AboutTest, PlayingListAdvancesWhileTheInfoDownloads) {
    QTemporaryDir media;
    WriteFile("patch.dat", MakeTone(media.path(), "a.mp3", 440, 0.5).toUtf8() + "\r\n" +
                               MakeTone(media.path(), "b.mp3", 660, 5).toUtf8() + "\r\n");
    TfrmIndex main;
    main.show();
    QTest::mouseClick(main.iPlay, Qt::LeftButton);
    UseServer(http_->Base() + "/slow");
    TransferLimits patient;
    patient.total = 20s;
    dmData->Actions->dInfo.SetLimits(patient);
    TfrmMenu about(&main);
    EXPECT_EQ(main.CurrentIndex, 1);
    EXPECT_EQ(about.Memo1->blockCount(), 4);
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << RecordedBoxes().join('\n').toStdString();
}

// "?" runs the about window modally and destroys it once "X" closes it.
TEST_F(AboutTest, MenuLabelRunsTheWindowModallyAndDestroysIt) {
    TfrmIndex main;
    main.show();
    QPointer<TfrmMenu> about;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* m = qobject_cast<TfrmMenu*>(QApplication::activeModalWidget());
        if (!m || !m->isVisible())
            return;
        poll.stop();
        about = m;
        EXPECT_TRUE(m->isModal());
        EXPECT_EQ(m->Memo1->blockCount(), 4);
        QTest::mouseClick(m->Label1, Qt::LeftButton);
    });
    poll.start(10);
    QTest::mouseClick(main.lMenu, Qt::LeftButton);
    EXPECT_TRUE(about.isNull());
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << RecordedBoxes().join('\n').toStdString();
}

// Over HTTPS the updater is downloaded, handed to the desktop to start, and the player quits;
// the main window's destruction leaves the file for the opener, which may not have read it yet.
TEST_F(AboutTest, UpdateStartsTheUpdaterAndQuits) {
    UseServer(https_->Base("https"));
    auto main = std::make_unique<TfrmIndex>();
    main->show();
    EXPECT_EQ(RunUpdate(*main), 0);
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << RecordedBoxes().join('\n').toStdString();
    EXPECT_EQ(UrlOpener::Recorded(), QList<QUrl>{QUrl::fromLocalFile(WorkPath("updater.exe"))});
    main.reset();
    EXPECT_EQ(ReadFile("updater.exe"), UpdaterBody);
}

// A failed updater download stops the update: nothing is started and the player runs on.
TEST_F(AboutTest, FailedUpdateDownloadKeepsThePlayerRunning) {
    UseServer(https_->Base("https") + "/nothing");
    TfrmIndex main;
    main.show();
    EXPECT_EQ(RunUpdate(main), 7);
    EXPECT_EQ(RecordedBoxes().filter("updater.exe"),
              QStringList{"Error downloading URL: " + https_->Base("https") +
                          "/nothing/soft/ondrix/updater.exe."});
    EXPECT_TRUE(UrlOpener::Recorded().isEmpty());
    EXPECT_FALSE(QFile::exists(WorkPath("updater.exe")));
}

// A program fetched over plain HTTP could have been swapped on the way: it is refused,
// removed, reported as such (the download itself worked), and the player runs on.
TEST_F(AboutTest, UpdaterOverPlainHttpIsRefused) {
    TfrmIndex main;
    main.show();
    EXPECT_EQ(RunUpdate(main), 7);
    EXPECT_EQ(RecordedBoxes(), QStringList{"The updater from " + http_->Base() +
                                           "/soft/ondrix/updater.exe was not started: it did not "
                                           "arrive over HTTPS."});
    EXPECT_TRUE(UrlOpener::Recorded().isEmpty());
    EXPECT_FALSE(QFile::exists(WorkPath("updater.exe")));
}

// Cancel in the updater's download window aborts the transfer (else the silent server would
// end it with an error box after the stall limit): no box, nothing started, the player runs on.
TEST_F(AboutTest, CancelledUpdateDownloadStopsQuietly) {
    UseServer(https_->Base("https"));
    dmData->Actions->aUpdate.SetURL(https_->Base("https") + "/hang" + UrlActions::UpdatePath);
    TfrmIndex main;
    main.show();
    bool cancelled = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* d = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        if (!d || !d->isVisible())
            return;
        poll.stop();
        EXPECT_EQ(d->labelText(), QString::fromUtf8("Downloading\u2026"));
        QTest::mouseClick(d->findChild<QPushButton*>(), Qt::LeftButton);
        cancelled = true;
    });
    poll.start(20);
    EXPECT_EQ(RunUpdate(main), 7);
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << RecordedBoxes().join('\n').toStdString();
    EXPECT_TRUE(UrlOpener::Recorded().isEmpty());
    EXPECT_EQ(Entries(), QStringList({"info.qd3", "patch.dat"}));
}

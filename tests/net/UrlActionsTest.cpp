#include "net/UrlActions.h"
#include "net/NetErrors.h"
#include "net/UrlOpener.h"
#include "support/LocalWebServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

using namespace std::chrono_literals;

namespace {

bool WriteFile(const QString& name, const QByteArray& bytes) {
    QFile f(name);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& name) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Everything in the working directory, so that left-over temporary files show up.
QStringList Entries() {
    return QDir::current().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                     QDir::Name);
}

template <class E, class F> QString ErrorOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    return QStringLiteral("<no error>");
}

const QByteArray InfoBody = QByteArray("\xEF\xBB\xBFOndrix 3.0.1\r\nNov\xC3\xA1 verze\r\n\r\n"
                                       "binary:\x00\x01\xFF\r\nend\r\n",
                                       49);
const QByteArray UpdaterBody = QByteArray("MZ\x90\x00 not really a program", 25);

TransferLimits Quick() {
    TransferLimits limits;
    limits.connect = 2s;
    limits.stall = 2s;
    limits.total = 20s;
    return limits;
}

class NetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        DropProxySettings();

        files_ = std::make_unique<QTemporaryDir>();
        const QString root = files_->filePath(QStringLiteral("www"));
        QDir().mkpath(root + QStringLiteral("/soft/ondrix"));
        WriteFile(root + QStringLiteral("/soft/ondrix/info.qd3"), InfoBody);
        WriteFile(root + QStringLiteral("/soft/ondrix/updater.exe"), UpdaterBody);

        cert_ = files_->filePath(QStringLiteral("cert.pem"));
        const QString key = files_->filePath(QStringLiteral("key.pem"));
        const bool certified = MakeCertificate(cert_, key);

        http_ = std::make_unique<LocalWebServer>();
        https_ = std::make_unique<LocalWebServer>();
        serversUp_ =
            certified && http_->Start(root) &&
            https_->Start(root, {"--cert", cert_, "--key", key, "--redirect-base", http_->Base()});
    }

    static void TearDownTestSuite() {
        https_.reset();
        http_.reset();
        files_.reset();
    }

    void SetUp() override {
        ASSERT_TRUE(serversUp_) << "the local web servers did not start";
        ASSERT_TRUE(work_.isValid());
        previous_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(work_.path()));
        UrlOpener::SetRecording(true);
        UrlOpener::ClearRecorded();
        actions_.SetServer(http_->Base());
        actions_.dInfo.SetLimits(Quick());
        actions_.aUpdate.SetLimits(Quick());
    }

    void TearDown() override {
        UrlOpener::ClearRecorded();
        QDir::setCurrent(previous_);
    }

    QString Failure(DownloadUrlAction& action) {
        return ErrorOf<EDownloadError>([&] { action.Execute(); });
    }

    static inline std::unique_ptr<QTemporaryDir> files_;
    static inline std::unique_ptr<LocalWebServer> http_;
    static inline std::unique_ptr<LocalWebServer> https_;
    static inline QString cert_;
    static inline bool serversUp_ = false;

    QTemporaryDir work_;
    QString previous_;
    UrlActions actions_;
};

// The compiled-in server and a replacement both get the fixed paths, without a double slash.
TEST_F(NetTest, AddressesJoinServerAndFixedPaths) {
    UrlActions fresh;
    EXPECT_EQ(fresh.Server(), QStringLiteral(ONDRIX_SERVER_URL));
    EXPECT_EQ(fresh.dInfo.URL(), QStringLiteral(ONDRIX_SERVER_URL "/soft/ondrix/info.qd3"));

    fresh.SetServer(QStringLiteral("https://example.org/"));
    EXPECT_EQ(fresh.Home.URL(), QStringLiteral("https://example.org/"));
    EXPECT_EQ(fresh.Home.Caption(), QStringLiteral("https://example.org/"));
    EXPECT_EQ(fresh.Contact.URL(), QStringLiteral("https://example.org/index.php?page=kontakt"));
    EXPECT_EQ(fresh.aUpdate.URL(), QStringLiteral("https://example.org/soft/ondrix/updater.exe"));
    EXPECT_EQ(fresh.dInfo.URL(), QStringLiteral("https://example.org/soft/ondrix/info.qd3"));
    EXPECT_EQ(fresh.dInfo.FileName(), QStringLiteral("info.qd3"));
    EXPECT_EQ(fresh.aUpdate.FileName(), QStringLiteral("updater.exe"));
}

// The info text arrives byte for byte (BOM, CR LF, even NUL bytes) and replaces an old copy.
TEST_F(NetTest, InfoDownloadIsByteExactAndReplacesOldFile) {
    ASSERT_TRUE(WriteFile(QStringLiteral("info.qd3"), "old version text\r\n"));
    actions_.dInfo.Execute();
    EXPECT_EQ(ReadFile(QStringLiteral("info.qd3")), InfoBody);
    EXPECT_EQ(Entries(), QStringList{QStringLiteral("info.qd3")});
    EXPECT_EQ(actions_.dInfo.LastScheme(), QStringLiteral("http"));
}

// A 404 is a failure with the full address, and the previous file survives untouched.
TEST_F(NetTest, NotFoundFailsAndKeepsExistingFile) {
    actions_.dInfo.Execute();
    ASSERT_EQ(actions_.dInfo.LastScheme(), QStringLiteral("http"));

    const QByteArray old("old version text\r\n");
    ASSERT_TRUE(WriteFile(QStringLiteral("info.qd3"), old));
    actions_.SetServer(http_->Base() + QStringLiteral("/nothing-here"));
    EXPECT_EQ(Failure(actions_.dInfo),
              QStringLiteral("Error downloading URL: %1/nothing-here/soft/ondrix/info.qd3")
                  .arg(http_->Base()));
    EXPECT_EQ(ReadFile(QStringLiteral("info.qd3")), old);
    EXPECT_EQ(Entries(), QStringList{QStringLiteral("info.qd3")});
    EXPECT_TRUE(actions_.dInfo.LastScheme().isEmpty());
}

// 404 with no earlier file: the error page is not saved as the file.
TEST_F(NetTest, NotFoundCreatesNoFile) {
    actions_.SetServer(http_->Base() + QStringLiteral("/nothing-here"));
    EXPECT_NE(Failure(actions_.dInfo), QStringLiteral("<no error>"));
    EXPECT_TRUE(Entries().isEmpty());
}

// Nobody listening, and a name that cannot resolve: both are download errors.
TEST_F(NetTest, RefusedAndUnresolvedFail) {
    const quint16 port = UnusedPort();
    ASSERT_NE(port, 0);
    actions_.SetServer(QStringLiteral("http://127.0.0.1:%1").arg(port));
    EXPECT_EQ(Failure(actions_.dInfo),
              QStringLiteral("Error downloading URL: http://127.0.0.1:%1/soft/ondrix/info.qd3")
                  .arg(port));

    actions_.SetServer(QStringLiteral("http://ondrix-test.invalid"));
    EXPECT_EQ(
        Failure(actions_.dInfo),
        QStringLiteral("Error downloading URL: http://ondrix-test.invalid/soft/ondrix/info.qd3"));
    EXPECT_TRUE(Entries().isEmpty());
}

// A server that accepts and never answers is cut off by the total limit alone (the stall
// limit here is far longer than the test's own time-out, so only the total can end it).
TEST_F(NetTest, SilentServerEndsAtTotalLimit) {
    TransferLimits limits;
    limits.connect = 2s;
    limits.stall = 1h;
    limits.total = 1500ms;
    actions_.dInfo.SetLimits(limits);
    actions_.SetServer(http_->Base() + QStringLiteral("/hang"));
    EXPECT_EQ(
        Failure(actions_.dInfo),
        QStringLiteral("Error downloading URL: %1/hang/soft/ondrix/info.qd3").arg(http_->Base()));
    EXPECT_TRUE(Entries().isEmpty());
}

// The same silent server is cut off by the no-progress limit when the total is long.
TEST_F(NetTest, SilentServerEndsAtStallLimit) {
    TransferLimits limits;
    limits.connect = 2s;
    limits.stall = 1s;
    limits.total = 1h;
    actions_.aUpdate.SetLimits(limits);
    actions_.SetServer(http_->Base() + QStringLiteral("/hang"));
    EXPECT_EQ(Failure(actions_.aUpdate),
              QStringLiteral("Error downloading URL: %1/hang/soft/ondrix/updater.exe")
                  .arg(http_->Base()));
    EXPECT_TRUE(Entries().isEmpty());
}

// Half a body and then silence, or half a body and a hang-up: nothing partial is left and the
// old file stays as it was.
TEST_F(NetTest, BrokenTransferLeavesNoPartialFile) {
    const QByteArray old("old version text\r\n");
    ASSERT_TRUE(WriteFile(QStringLiteral("info.qd3"), old));
    TransferLimits limits;
    limits.connect = 2s;
    limits.stall = 1s;
    limits.total = 1h;
    actions_.dInfo.SetLimits(limits);

    for (const QString& prefix : {QStringLiteral("/half"), QStringLiteral("/cut")}) {
        actions_.SetServer(http_->Base() + prefix);
        EXPECT_EQ(Failure(actions_.dInfo),
                  QStringLiteral("Error downloading URL: %1%2/soft/ondrix/info.qd3")
                      .arg(http_->Base(), prefix))
            << prefix.toStdString();
        EXPECT_EQ(ReadFile(QStringLiteral("info.qd3")), old) << prefix.toStdString();
        EXPECT_EQ(Entries(), QStringList{QStringLiteral("info.qd3")}) << prefix.toStdString();
    }
}

// A target that cannot be written is a download error, not a crash or a silent success.
TEST_F(NetTest, UnwritableTargetFails) {
    actions_.dInfo.SetFileName(QStringLiteral("no-such-folder/info.qd3"));
    EXPECT_EQ(Failure(actions_.dInfo),
              QStringLiteral("Error downloading URL: %1/soft/ondrix/info.qd3").arg(http_->Base()));
    EXPECT_TRUE(Entries().isEmpty());
}

// Certificates are verified: an unknown one fails, the same server trusted explicitly works;
// a plain HTTP server addressed over HTTPS fails too.
TEST_F(NetTest, TlsIsVerified) {
    actions_.SetServer(https_->Base(QStringLiteral("https")));
    EXPECT_EQ(Failure(actions_.dInfo),
              QStringLiteral("Error downloading URL: %1/soft/ondrix/info.qd3")
                  .arg(https_->Base(QStringLiteral("https"))));
    EXPECT_TRUE(Entries().isEmpty());

    actions_.dInfo.SetCaFile(cert_);
    actions_.dInfo.Execute();
    EXPECT_EQ(ReadFile(QStringLiteral("info.qd3")), InfoBody);
    EXPECT_EQ(actions_.dInfo.LastScheme(), QStringLiteral("https"));

    actions_.SetServer(http_->Base(QStringLiteral("https")));
    EXPECT_NE(Failure(actions_.dInfo), QStringLiteral("<no error>"));
    EXPECT_EQ(ReadFile(QStringLiteral("info.qd3")), InfoBody);
}

// An updater fetched over HTTPS is handed to the desktop by its absolute path.
TEST_F(NetTest, UpdaterOverHttpsIsOpened) {
    actions_.SetServer(https_->Base(QStringLiteral("https")));
    actions_.aUpdate.SetCaFile(cert_);
    actions_.aUpdate.Execute();
    EXPECT_EQ(ReadFile(QStringLiteral("updater.exe")), UpdaterBody);
    EXPECT_TRUE(actions_.StartUpdater());
    EXPECT_EQ(UrlOpener::Recorded(),
              QList<QUrl>{QUrl::fromLocalFile(QDir::current().absoluteFilePath("updater.exe"))});
}

// An updater fetched in the clear, directly or through a redirect from HTTPS, or one that
// was never fetched in this run, is refused, removed, and never opened.
TEST_F(NetTest, UpdaterNotFetchedOverHttpsIsRefused) {
    actions_.aUpdate.Execute();
    ASSERT_EQ(ReadFile(QStringLiteral("updater.exe")), UpdaterBody);
    EXPECT_EQ(ErrorOf<Exception>([&] { actions_.StartUpdater(); }),
              QStringLiteral("The updater from %1/soft/ondrix/updater.exe was not started: it did "
                             "not arrive over HTTPS")
                  .arg(http_->Base()));
    EXPECT_FALSE(QFile::exists(QStringLiteral("updater.exe")));

    const QString tls = https_->Base(QStringLiteral("https"));
    actions_.SetServer(tls + QStringLiteral("/redirect"));
    actions_.aUpdate.SetCaFile(cert_);
    actions_.aUpdate.Execute();
    EXPECT_EQ(actions_.aUpdate.LastScheme(), QStringLiteral("http"));
    EXPECT_EQ(ErrorOf<Exception>([&] { actions_.StartUpdater(); }),
              QStringLiteral("The updater from %1/redirect/soft/ondrix/updater.exe was not "
                             "started: it arrived from %2/soft/ondrix/updater.exe, not over HTTPS")
                  .arg(tls, http_->Base()));
    EXPECT_FALSE(QFile::exists(QStringLiteral("updater.exe")));

    UrlActions fresh;
    ASSERT_TRUE(WriteFile(QStringLiteral("updater.exe"), UpdaterBody));
    EXPECT_NE(ErrorOf<Exception>([&] { fresh.StartUpdater(); }), QStringLiteral("<no error>"));
    EXPECT_TRUE(UrlOpener::Recorded().isEmpty());
}

// Home and Contact ask the desktop for their exact addresses; nothing is checked.
TEST_F(NetTest, BrowseActionsOpenTheirAddresses) {
    actions_.SetServer(QStringLiteral("https://example.org"));
    EXPECT_EQ(actions_.Contact.Caption(), QStringLiteral("Contact us"));
    EXPECT_EQ(actions_.Contact.Hint(), QStringLiteral("Browse URL"));
    actions_.Home.Execute();
    actions_.Contact.Execute();
    EXPECT_EQ(UrlOpener::Recorded(),
              (QList<QUrl>{QUrl(QStringLiteral("https://example.org/")),
                           QUrl(QStringLiteral("https://example.org/index.php?page=kontakt"))}));
    EXPECT_EQ(UrlOpener::Recorded().at(1).query(), QStringLiteral("page=kontakt"));
}

} // namespace

// The transfer library is loaded on the first download; when it cannot be, every download of
// the run fails with the library's name and leaves the target alone. Its own executable: the
// outcome of the first load is kept for the whole run.
#include "net/CurlLibrary.h"
#include "net/DownloadUrlAction.h"
#include "net/NetErrors.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(CurlLoad, MissingLibraryIsReportedByNameOnEveryDownload) {
    SetCurlLibraryFileName(QStringLiteral("libondrix-no-such-transfer.so.4"));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("info.qd3"));
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old contents");
    old.close();

    DownloadUrlAction action(QString(), QString(), QStringLiteral("http://127.0.0.1:9/info.qd3"),
                             target, TransferLimits{});
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            action.Execute();
            ADD_FAILURE() << "the download succeeded without a transfer library";
        } catch (const ELoadLibraryError& e) {
            EXPECT_EQ(e.Message(),
                      QStringLiteral("Unable to load libondrix-no-such-transfer.so.4"));
        }
        // remembered: a later change of name is not tried again
        SetCurlLibraryFileName(QStringLiteral("libcurl.so.4"));
    }
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("old contents"));
    EXPECT_EQ(action.LastScheme(), QString());
}

#pragma once

#include "app/Application.h"
#include "app/dmData.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

// Error boxes shown since the fixture started, as their text.
inline QStringList& RecordedBoxes() {
    static QStringList boxes;
    return boxes;
}

// Each test runs in a fresh working directory with a fresh data module; error boxes are
// recorded instead of shown.
class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(work_.isValid());
        previous_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(work_.path()));
        RecordedBoxes().clear();
        TApplication::SetErrorBoxHook([](const QString& text) { RecordedBoxes().append(text); });
        data_ = std::make_unique<TdmData>();
    }
    void TearDown() override {
        data_.reset();
        QDir::setCurrent(previous_);
    }

    QString WorkPath(const QString& name) const { return work_.filePath(name); }
    QByteArray ReadFile(const QString& name) const {
        QFile f(WorkPath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void WriteFile(const QString& name, const QByteArray& bytes) const {
        QFile f(WorkPath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    QTemporaryDir work_;
    QString previous_;
    std::unique_ptr<TdmData> data_;
};

// Answers the next modal file dialog from a timer: chooses `files` (all in one folder), or
// cancels when the list is empty. Each retry's timer gets its own copy of the attempt: one that
// held a shared pointer to itself would never be freed.
inline void AnswerFileDialog(const QStringList& files) {
    const auto attempt = [files](const auto& self) -> void {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) {
            QTimer::singleShot(10, [self] { self(self); });
            return;
        }
        if (files.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->setDirectory(QFileInfo(files.first()).absolutePath());
        // a file still selected from the dialog's last run would be taken with the typed ones
        for (auto* view : dialog->findChildren<QAbstractItemView*>())
            if (view->selectionModel())
                view->selectionModel()->clearSelection();
        QStringList quoted;
        for (const QString& f : files)
            quoted << '"' + QFileInfo(f).fileName() + '"';
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        edit->setText(files.size() == 1 ? QFileInfo(files.first()).fileName() : quoted.join(' '));
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    };
    QTimer::singleShot(0, [attempt] { attempt(attempt); });
}

// Short tones written with the ffmpeg command, in the format the name's extension picks;
// a title and an artist are written as the format's tags (ID3v2.3 for MP3). `options` are
// further output options, which override the ones given here.
inline QString MakeTone(const QString& dir, const QString& name, int hz, double seconds,
                        const QString& title = {}, const QString& artist = {},
                        const QStringList& options = {}) {
    const QString path = QDir(dir).filePath(name);
    QStringList args{
        "-nostdin",
        "-v",
        "error",
        "-y",
        "-f",
        "lavfi",
        "-i",
        QString("sine=frequency=%1:duration=%2:sample_rate=44100").arg(hz).arg(seconds)};
    if (!title.isEmpty())
        args << "-metadata"
             << "title=" + title;
    if (!artist.isEmpty())
        args << "-metadata"
             << "artist=" + artist;
    if (name.endsWith(".mp3"))
        args << "-id3v2_version"
             << "3"
             << "-c:a"
             << "libmp3lame"
             << "-b:a"
             << "64k";
    args << options << path;
    QProcess p;
    p.start("ffmpeg", args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        ADD_FAILURE() << "ffmpeg failed: " << p.readAllStandardError().toStdString();
    return path;
}

// Spins the event loop until `done` holds or `ms` pass.
template <typename F> bool WaitFor(F done, int ms = 10000) {
    return QTest::qWaitFor(done, ms);
}

#include "AppTestSupport.h"
#include "playback/FileOutput.h"

#include "app/frmIndex.h"
#include "playback/MPlayer.h"
#include "ui/ClickLabel.h"
#include "ui/ProgressBar.h"

#include <QCheckBox>
#include <QCursor>
#include <QLabel>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSlider>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

// Three short tones in a folder of their own, outside the working directory.
class MainWindowTest : public AppTest {
protected:
    static void SetUpTestSuite() {
        media_ = new QTemporaryDir;
        for (int i = 0; i < 3; ++i)
            tracks_ << MakeTone(media_->path(), QString("t%1.mp3").arg(i), 440 + 110 * i, 0.6);
        bad_ = media_->filePath("bad.mp3");
        QFile f(bad_);
        if (f.open(QIODevice::WriteOnly))
            f.write(QByteArray(4096, 'x'));
    }
    static void TearDownTestSuite() {
        delete media_;
        tracks_.clear();
    }

    std::unique_ptr<TfrmIndex> Create() {
        auto w = std::make_unique<TfrmIndex>();
        w->show();
        return w;
    }
    void WritePatch(const QStringList& paths) {
        QByteArray bytes;
        for (const QString& p : paths)
            bytes += p.toUtf8() + "\r\n";
        WriteFile("patch.dat", bytes);
    }
    static QByteArray ListBytes(const QStringList& paths) {
        QByteArray bytes;
        for (const QString& p : paths)
            bytes += p.toUtf8() + "\r\n";
        return bytes;
    }
    static void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }

    static QTemporaryDir* media_;
    static QStringList tracks_;
    static QString bad_;
};
QTemporaryDir* MainWindowTest::media_ = nullptr;
QStringList MainWindowTest::tracks_;
QString MainWindowTest::bad_;

} // namespace

// First run in an empty folder: an empty "patch.dat" is created and the transport does nothing.
TEST_F(MainWindowTest, FirstRunCreatesEmptyListAndIgnoresTransport) {
    auto w = Create();
    EXPECT_EQ(ReadFile("patch.dat"), QByteArray());
    EXPECT_EQ(w->size(), QSize(534, 227));
    EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(w->lInfo->text().isEmpty());
    Click(w->iPlay);
    Click(w->iPause);
    Click(w->iStop);
    EXPECT_EQ(w->Player->DeviceId(), 0);
    EXPECT_FALSE(w->tStatus->isActive());
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << RecordedBoxes().join('\n').toStdString();
}

// A saved list of three: the first track is opened, not played; the slider shows its volume.
TEST_F(MainWindowTest, StartOpensTheFirstTrackWithoutPlaying) {
    WritePatch(tracks_);
    auto w = Create();
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << RecordedBoxes().join('\n').toStdString();
    EXPECT_EQ(w->PlayList, tracks_);
    EXPECT_EQ(w->Player->FileName(), tracks_[0]);
    EXPECT_NE(w->Player->DeviceId(), 0);
    EXPECT_EQ(w->Player->Mode(), pmStopped);
    EXPECT_EQ(w->volume->value(), GetVolume(*w->Player));
    EXPECT_TRUE(w->TrackLoaded);
}

// OPEN FILE, cancelled: with a list the current track is re-opened (stopped, at the start) and
// "patch.dat" rewritten unchanged; with no list nothing happens.
TEST_F(MainWindowTest, CancelledOpenReopensTheCurrentTrack) {
    {
        auto w = Create();
        AnswerFileDialog({});
        Click(w->Label3);
        EXPECT_EQ(w->Player->DeviceId(), 0);
        EXPECT_FALSE(w->TrackLoaded);
    }
    WritePatch(tracks_);
    auto w = Create();
    Click(w->iPlay);
    ASSERT_TRUE(WaitFor([&] { return w->Player->Position() > 100; }));
    WriteFile("patch.dat", "changed behind our back\r\n");
    AnswerFileDialog({});
    Click(w->Label3);
    EXPECT_EQ(w->Player->Mode(), pmStopped);
    EXPECT_EQ(w->Player->Position(), 0);
    EXPECT_TRUE(w->tStatus->isActive()); // the status timer is not touched
    EXPECT_EQ(ReadFile("patch.dat"), ListBytes(tracks_));
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << RecordedBoxes().join('\n').toStdString();
}

// OPEN FILE with three files: they replace the list in the dialog's order and are saved.
TEST_F(MainWindowTest, ChosenFilesReplaceTheList) {
    WritePatch({tracks_[2]});
    auto w = Create();
    AnswerFileDialog(tracks_);
    Click(w->Label3);
    EXPECT_EQ(w->PlayList, tracks_);
    EXPECT_EQ(w->CurrentIndex, 0);
    EXPECT_EQ(w->LastIndex, 2);
    EXPECT_EQ(w->Player->FileName(), tracks_[0]);
    EXPECT_EQ(ReadFile("patch.dat"), ListBytes(tracks_));
}

// Without Repeat the list plays through once: then the last track stands loaded at its start,
// the bar at 0, the label empty and the status timer off.
TEST_F(MainWindowTest, PlaysTheListToItsEnd) {
    WritePatch(tracks_);
    auto w = Create();
    QList<int> seen;
    QObject::connect(w->tStatus, &QTimer::timeout, [&] {
        if (seen.isEmpty() || seen.back() != w->CurrentIndex)
            seen << w->CurrentIndex;
    });
    Click(w->iPlay);
    ASSERT_TRUE(WaitFor([&] { return !w->tStatus->isActive(); }, 15000));
    EXPECT_EQ(seen, QList<int>({0, 1, 2}));
    EXPECT_EQ(w->Player->FileName(), tracks_[2]);
    EXPECT_EQ(w->Player->Mode(), pmStopped);
    EXPECT_EQ(w->Player->Position(), 0);
    EXPECT_EQ(w->Progres->Position(), 0);
    EXPECT_TRUE(w->lInfo->text().isEmpty());
    EXPECT_EQ(ReadFile("patch.dat"), ListBytes(tracks_));
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << RecordedBoxes().join('\n').toStdString();
}

// With Repeat the tick after the last track leaves it loaded, and the next one plays entry 0.
TEST_F(MainWindowTest, RepeatStartsTheListAgain) {
    WritePatch(tracks_);
    auto w = Create();
    w->cbRepeat->setChecked(true);
    QList<int> seen;
    QObject::connect(w->tStatus, &QTimer::timeout, [&] {
        if (seen.isEmpty() || seen.back() != w->CurrentIndex)
            seen << w->CurrentIndex;
    });
    Click(w->iPlay);
    ASSERT_TRUE(WaitFor([&] { return seen.size() >= 4; }, 15000));
    EXPECT_EQ(seen.mid(0, 4), QList<int>({0, 1, 2, 0}));
    EXPECT_EQ(w->Player->FileName(), tracks_[0]);
    EXPECT_EQ(w->Player->Mode(), pmPlaying);
    EXPECT_TRUE(w->tStatus->isActive());
}

// Pause twice: the second click resumes the sound, but the status timer stays off.
TEST_F(MainWindowTest, SecondPauseResumesWithoutTheStatusTick) {
    WritePatch(tracks_);
    auto w = Create();
    Click(w->iPlay);
    Click(w->iPause);
    EXPECT_EQ(w->Player->Mode(), pmPaused);
    EXPECT_FALSE(w->tStatus->isActive());
    Click(w->iPause);
    EXPECT_EQ(w->Player->Mode(), pmPlaying);
    EXPECT_FALSE(w->tStatus->isActive());
    const int32_t bar = w->Progres->Position();
    QTest::qWait(250);
    EXPECT_EQ(w->Progres->Position(), bar);
}

// Stop re-opens the track: stopped at 0, bar at 0, timer off, label cleared.
TEST_F(MainWindowTest, StopReturnsToTheStart) {
    WritePatch(tracks_);
    auto w = Create();
    Click(w->iPlay);
    ASSERT_TRUE(WaitFor([&] { return w->Progres->Position() > 0; }));
    w->lInfo->setText("caption");
    Click(w->iStop);
    EXPECT_EQ(w->Player->Mode(), pmStopped);
    EXPECT_EQ(w->Player->Position(), 0);
    EXPECT_EQ(w->Progres->Position(), 0);
    EXPECT_FALSE(w->tStatus->isActive());
    EXPECT_TRUE(w->lInfo->text().isEmpty());
}

// A click on the bar seeks to that fraction of the track and a drag to where it is let go,
// keeping the mode: stopped before the first Play stands there, and Play starts from there;
// paused stays paused. Each move is announced once, and the track still ends.
TEST_F(MainWindowTest, ClickOnTheBarSeeksToThatFractionOfTheTrack) {
    WritePatch(tracks_);
    auto w = Create();
    QSignalSpy seeked(w.get(), &TfrmIndex::Seeked);
    const int width = w->Progres->width();
    const int32_t length = w->Player->Length();
    const auto at = [&](int x) { return int32_t(std::lround(double(x) / width * length)); };
    const int y = w->Progres->height() / 2;

    QTest::mouseClick(w->Progres, Qt::LeftButton, {}, QPoint(width * 3 / 4, y));
    EXPECT_EQ(w->Player->Mode(), pmStopped);
    EXPECT_EQ(w->Player->Position(), at(width * 3 / 4));
    EXPECT_EQ(w->Progres->Position(), at(width * 3 / 4));
    EXPECT_EQ(w->Progres->Max(), length);
    Click(w->iPlay);
    Click(w->iPause);
    EXPECT_GE(w->Player->Position(), at(width * 3 / 4));

    QTest::mousePress(w->Progres, Qt::LeftButton, {}, QPoint(width / 4, y));
    QTest::mouseRelease(w->Progres, Qt::LeftButton, {}, QPoint(width / 10, y));
    EXPECT_EQ(w->Player->Mode(), pmPaused);
    EXPECT_EQ(w->Player->Position(), at(width / 10));
    EXPECT_EQ(w->Progres->Position(), at(width / 10));
    EXPECT_EQ(seeked.count(), 3);
    // played on from there, the track still ends exactly at its length and the list advances
    Click(w->iPlay);
    EXPECT_TRUE(WaitFor([&] { return w->CurrentIndex == 1; }, 10000));
}

// Mute locks the slider at 0 and survives the advance to the next track; Unmute gives 1000.
TEST_F(MainWindowTest, MuteHoldsAcrossTracksAndUnmuteGivesFullVolume) {
    WritePatch(tracks_);
    auto w = Create();
    w->volume->setValue(400);
    EXPECT_EQ(GetVolume(*w->Player), 400);
    Click(w->Image2);
    EXPECT_EQ(w->volume->value(), 0);
    EXPECT_FALSE(w->volume->isEnabled());
    EXPECT_TRUE(w->Image3->isVisible() && w->Image3->isEnabled());
    EXPECT_FALSE(w->Image2->isVisible() || w->Image2->isEnabled());
    Click(w->iPlay);
    ASSERT_TRUE(WaitFor([&] { return w->CurrentIndex == 1; }, 5000));
    EXPECT_EQ(GetVolume(*w->Player), 0); // the next track's device starts muted too
    Click(w->Image3);
    EXPECT_EQ(w->volume->value(), 1000);
    EXPECT_TRUE(w->volume->isEnabled());
    EXPECT_TRUE(w->Image2->isVisible() && w->Image2->isEnabled());
    EXPECT_FALSE(w->Image3->isVisible() || w->Image3->isEnabled());
    EXPECT_EQ(GetVolume(*w->Player), 1000);
}

// A chosen file the device cannot open: the box shows the device's message, the list is
// already replaced, but the track is not marked loaded and "patch.dat" is not saved.
TEST_F(MainWindowTest, UnopenableChosenFileStopsTheHandler) {
    WritePatch({tracks_[0]});
    auto w = Create();
    QString expected;
    try {
        TMediaPlayer probe;
        probe.SetFileName(bad_);
        probe.Open();
    } catch (const EMCIDeviceError& e) {
        expected = TApplication::ErrorBoxText(e.Message());
    }
    ASSERT_FALSE(expected.isEmpty());
    w->TrackLoaded = false;
    AnswerFileDialog({bad_});
    Click(w->Label3);
    EXPECT_EQ(RecordedBoxes(), QStringList({expected}));
    EXPECT_EQ(w->PlayList, QStringList({bad_}));
    EXPECT_FALSE(w->TrackLoaded);
    EXPECT_EQ(ReadFile("patch.dat"), ListBytes({tracks_[0]}));
}

// An automatic advance to an entry that cannot be opened is reported once and the next tick
// goes on to the entry after it; with Repeat, a pass in which every entry fails ends the list.
TEST_F(MainWindowTest, AdvanceSkipsAnEntryThatCannotBeOpened) {
    WritePatch({tracks_[0], WorkPath("gone.mp3"), tracks_[2]});
    auto w = Create();
    Click(w->iPlay);
    ASSERT_TRUE(WaitFor([&] { return !w->tStatus->isActive(); }, 15000));
    EXPECT_EQ(w->Player->FileName(), tracks_[2]);
    ASSERT_EQ(RecordedBoxes().size(), 1);
    EXPECT_TRUE(RecordedBoxes()[0].contains("gone.mp3"));

    // the first entry plays, then goes away: no entry opens any more
    w.reset();
    ASSERT_TRUE(QFile::copy(tracks_[0], WorkPath("copy.mp3")));
    WritePatch({WorkPath("copy.mp3"), WorkPath("gone.mp3")});
    w = Create();
    w->cbRepeat->setChecked(true);
    Click(w->iPlay);
    ASSERT_TRUE(QFile::remove(WorkPath("copy.mp3")));
    ASSERT_TRUE(WaitFor([&] { return !w->tStatus->isActive(); }, 15000));
    EXPECT_EQ(RecordedBoxes().size(), 3);
}

// Texts from tags and file names are shown as they are, never as markup: in the information
// label and in the error box.
TEST_F(MainWindowTest, MarkupFromFilesIsShownAsPlainText) {
    const QString tagged = MakeTone(work_.path(), "tagged.mp3", 440, 0.3, "<b>&amp;</b>", "<h1>");
    WritePatch({tagged});
    auto w = Create();
    ASSERT_EQ(w->lInfo->text(), "<h1> - <b>&amp;</b>");
    const QFontMetrics metrics(w->lInfo->font());
    EXPECT_GE(w->lInfo->sizeHint().width(), metrics.horizontalAdvance(w->lInfo->text()));

    TApplication::SetErrorBoxHook({});
    int shown = -1, wanted = 0;
    QTimer::singleShot(0, [&] {
        WaitFor([] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); });
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        shown = label ? label->sizeHint().width() : 0;
        wanted = QFontMetrics(label ? label->font() : box->font()).horizontalAdvance(box->text());
        box->accept();
    });
    TApplication::RunHandler([] { throw Exception(QStringLiteral("<h1>&lt;x&gt;</h1>")); });
    TApplication::SetErrorBoxHook([](const QString& text) { RecordedBoxes().append(text); });
    EXPECT_GE(shown, wanted);
}

// A chosen file whose name holds a line break would become two entries of the saved list: it is
// refused with a box naming it, and the other chosen files are taken.
TEST_F(MainWindowTest, ChosenNameWithALineBreakIsRefused) {
    const QString broken = media_->filePath("two\nlines.mp3");
    ASSERT_TRUE(QFile::exists(broken) || QFile::copy(tracks_[0], broken));
    auto w = Create();
    AnswerFileDialog({tracks_[1], broken});
    Click(w->Label3);
    ASSERT_EQ(RecordedBoxes().size(), 1);
    EXPECT_TRUE(RecordedBoxes()[0].contains("two\\nlines.mp3")) << RecordedBoxes()[0].toStdString();
    EXPECT_EQ(w->PlayList, QStringList({tracks_[1]}));
    EXPECT_EQ(ReadFile("patch.dat"), ListBytes({tracks_[1]}));
}

// An error while the window is created is shown, and the window still opens.
TEST_F(MainWindowTest, ErrorInFormCreateStillOpensTheWindow) {
    WritePatch({WorkPath("gone.mp3"), tracks_[0]});
    auto w = Create();
    ASSERT_EQ(RecordedBoxes().size(), 1);
    EXPECT_TRUE(RecordedBoxes()[0].contains("gone.mp3"));
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->TrackLoaded);
    EXPECT_EQ(w->PlayList.size(), 2);
}

// "patch.dat" that cannot be read is reported and, having never loaded, not written over.
TEST_F(MainWindowTest, UnreadableListIsReportedAndKept) {
    ASSERT_TRUE(QDir(work_.path()).mkdir("patch.dat"));
    {
        auto w = Create();
        EXPECT_EQ(RecordedBoxes(),
                  QStringList({"Cannot open file \"patch.dat\". Is a directory."}));
        EXPECT_TRUE(w->PlayList.isEmpty());
    }
    EXPECT_EQ(RecordedBoxes().size(), 1);
    EXPECT_TRUE(QFileInfo(WorkPath("patch.dat")).isDir());
}

// "patch.dat" that cannot be written: the save reports "Cannot create file".
TEST_F(MainWindowTest, UnwritableListIsReported) {
    WritePatch(tracks_);
    auto w = Create();
    ASSERT_TRUE(QDir(work_.path()).removeRecursively()); // the folder is gone
    AnswerFileDialog({tracks_[1]});
    Click(w->Label3);
    ASSERT_EQ(RecordedBoxes().size(), 1);
    EXPECT_TRUE(RecordedBoxes()[0].startsWith("Cannot create file \"patch.dat\". "));
    EXPECT_TRUE(w->TrackLoaded);
    w.reset();
    ASSERT_TRUE(QDir().mkpath(work_.path())); // let the fixture clean up
}

// Destruction saves the list and removes stale hand-over and updater files.
TEST_F(MainWindowTest, DestructionSavesTheListAndRemovesStaleFiles) {
    auto w = Create();
    AnswerFileDialog({tracks_[0], tracks_[2]});
    Click(w->Label3);
    WriteFile("patch.dat", "");
    WriteFile("tracklist.dat", "x\r\n");
    WriteFile("updater.exe", "MZ");
    w.reset();
    EXPECT_EQ(ReadFile("patch.dat"), ListBytes({tracks_[0], tracks_[2]}));
    EXPECT_FALSE(QFile::exists(WorkPath("tracklist.dat")));
    EXPECT_FALSE(QFile::exists(WorkPath("updater.exe")));
}

// After the editor shortened the list under the playing track, the tick ends the list quietly.
TEST_F(MainWindowTest, TickPastAShortenedListEndsIt) {
    WritePatch(tracks_);
    auto w = Create();
    w->CurrentIndex = 2;
    w->PlayList = {tracks_[0]};
    w->Progres->SetPosition(w->Progres->Max());
    for (int i = 0; i < 3; ++i)
        TApplication::RunHandler([&] { w->tStatusTimer(); });
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << RecordedBoxes().join('\n').toStdString();
    EXPECT_FALSE(w->tStatus->isActive());
    EXPECT_EQ(w->LastIndex, 0);
}

// Holding "+" makes the window follow the cursor, 12 pixels up and left of it.
TEST_F(MainWindowTest, PlusLabelMovesTheWindowWithTheCursor) {
    auto w = Create();
    QTest::mousePress(w->Label2, Qt::LeftButton);
    EXPECT_TRUE(w->Timer->isActive());
    QCursor::setPos(600, 500);
    ASSERT_TRUE(WaitFor([&] { return w->pos() == QPoint(588, 488); }, 2000));
    QTest::mouseRelease(w->Label2, Qt::LeftButton);
    EXPECT_FALSE(w->Timer->isActive());
    QCursor::setPos(700, 600);
    QTest::qWait(30);
    EXPECT_EQ(w->pos(), QPoint(588, 488));
}

namespace {

// The steady tones of a recording's left channel: (start s, length s, Hz).
struct TRun {
    double Start, Length, Hz;
};
std::vector<TRun> ToneRuns(const std::vector<float>& output, int rate) {
    std::vector<TRun> runs;
    for (const TToneRun& r : ::ToneRuns(output, static_cast<size_t>(rate / 20), 0.01f, 40))
        runs.push_back({static_cast<double>(r.First) / rate,
                        static_cast<double>(r.Last - r.First) / rate, r.Hz});
    return runs;
}

std::string Describe(const std::vector<TRun>& runs) {
    std::string text;
    for (const TRun& r : runs)
        text += std::to_string(int(r.Hz)) + " Hz for " + std::to_string(r.Length) + " s; ";
    return text;
}

} // namespace

// Stop, Pause, a seek, OPEN FILE and Repeat in the last second of a track behave as without the
// following entry queued behind it: what was queued is dropped and never heard, or (a seek,
// Repeat checked) queued anew.
TEST_F(MainWindowTest, ActionsInTheLastSecondOfATrack) {
    const QString low = MakeTone(media_->path(), "low.wav", 440, 2.0);
    const QString high = MakeTone(media_->path(), "high.wav", 880, 1.0);
    const QString other = MakeTone(media_->path(), "other.wav", 660, 1.0);
    struct TCase {
        const char* Name;
        bool OnLast; // in the last second of the list's last entry, else of its first
        std::function<void(TfrmIndex&)> Act;
        std::vector<double> Heard; // the tones, in order (with Repeat: the first of them)
        double FirstLasts = 0;     // else: runs of the first tone are one, this long at least
    };
    const std::vector<TCase> cases = {
        {"Stop", false, [](TfrmIndex& w) { Click(w.iStop); }, {440}},
        // resumed by the pause button, the track ends without the tick: nothing follows
        {"Pause and resume", false,
         [](TfrmIndex& w) {
             Click(w.iPause);
             QTest::qWait(600);
             Click(w.iPause);
         },
         {440, 440}},
        // the low tone's last second once more; whether the seek leaves a gap between its two
        // runs depends on how soon the decoder refills, so they are counted together
        {"seek back", false, [](TfrmIndex& w) { w.SeekTo(1000); }, {440, 880}, 2.15},
        {"OPEN FILE", false, [&](TfrmIndex& w) { w.OpenFiles({other}); }, {440, 660}},
        {"Repeat checked", true, [](TfrmIndex& w) { w.cbRepeat->setChecked(true); },
         {440, 880, 440, 880}},
        {"Repeat unchecked", true, [](TfrmIndex& w) { w.cbRepeat->setChecked(false); },
         {440, 880}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        QTemporaryDir out;
        const QString raw = out.filePath("out.raw");
        UseFileOutput(raw, 44100, 2);
        WritePatch({low, high});
        {
            auto w = Create();
            w->cbRepeat->setChecked(std::string(c.Name) == "Repeat unchecked");
            Click(w->iPlay);
            if (c.OnLast) {
                ASSERT_TRUE(WaitFor([&] { return w->CurrentIndex == 1; }, 5000));
            }
            ASSERT_TRUE(WaitFor([&] { return w->Progres->Max() > 100 &&
                                              w->Player->Position() >= w->Player->Length() - 700; },
                                5000));
            c.Act(*w);
            // long enough for what remains, and for a second round of the list
            QTest::qWait(c.OnLast ? 4500 : 3500);
            w->cbRepeat->setChecked(false);
            Click(w->iStop);
        }
        MediaService::ReleaseIdleOutput();
        auto runs = ToneRuns(ReadSamples(raw), 44100);
        if (c.FirstLasts > 0) {
            // each run is named by its first block's count, in 20 Hz steps
            while (runs.size() > 1 && std::abs(runs[0].Hz - c.Heard[0]) < 30 &&
                   std::abs(runs[1].Hz - c.Heard[0]) < 30) {
                runs[0].Length = runs[1].Start + runs[1].Length - runs[0].Start;
                runs.erase(runs.begin() + 1);
            }
            ASSERT_FALSE(runs.empty());
            EXPECT_GE(runs[0].Length, c.FirstLasts) << Describe(runs);
        }
        if (std::string(c.Name) == "Repeat checked")
            ASSERT_GE(runs.size(), c.Heard.size()) << Describe(runs);
        else
            ASSERT_EQ(runs.size(), c.Heard.size()) << Describe(runs);
        for (size_t i = 0; i < c.Heard.size(); ++i)
            EXPECT_NEAR(runs[i].Hz, c.Heard[i], 30) << Describe(runs); // 20 Hz steps
    }
    qputenv("ONDRIX_AUDIO_OUTPUT", "null");
}

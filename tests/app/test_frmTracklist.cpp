#include "AppTestSupport.h"

#include "app/TrackCaption.h"
#include "app/frmIndex.h"
#include "app/frmTracklist.h"
#include "core/ListFile.h"
#include "playback/MPlayer.h"
#include "tags/ID3v2Library.h"
#include "tags/TagBytes.h"
#include "ui/ClickLabel.h"
#include "ui/ProgressBar.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QSlider>

#include <condition_variable>
#include <mutex>
#include <random>
#include <sys/stat.h>

namespace {

// An ID3v2.3 tag with ISO-8859-1 text frames, written byte by byte; empty texts are left out.
QByteArray Id3Tag(const QByteArray& title, const QByteArray& artist) {
    using namespace tagbytes;
    Bytes frames;
    for (const auto& [id, text] : {std::pair{"TIT2", title}, std::pair{"TPE1", artist}}) {
        if (text.isEmpty())
            continue;
        const Bytes f = Frame(3, id, Text(0, std::string_view(text.constData(), text.size())));
        frames.insert(frames.end(), f.begin(), f.end());
    }
    const Bytes tag = Cat({Header(3, uint32_t(frames.size())), frames});
    return QByteArray(reinterpret_cast<const char*>(tag.data()), qsizetype(tag.size()));
}

// Counts one kind of event reaching a widget.
class TEventCounter : public QObject {
public:
    TEventCounter(QWidget* widget, QEvent::Type type, int& count)
        : mType(type), mCount(count) {
        widget->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        mCount += event->type() == mType;
        return false;
    }

private:
    QEvent::Type mType;
    int& mCount;
};

class EditorTest : public AppTest {
protected:
    static void SetUpTestSuite() {
        media_ = new QTemporaryDir;
        const QString dir = media_->path();
        for (int i = 0; i < 5; ++i)
            tones_ << MakeTone(dir, QString("t%1.mp3").arg(i), 330 + 110 * i, 0.5,
                               QString("Title %1").arg(i), QString("Artist %1").arg(i));
        band_ = MakeTone(dir, "band.mp3", 440, 0.5, "Song", "Band");
        titleOnly_ = MakeTone(dir, "titleonly.mp3", 550, 0.5, "Song");
        untagged_ = MakeTone(dir, "untagged.mp3", 660, 0.5);
    }
    static void TearDownTestSuite() {
        delete media_;
        tones_.clear();
    }

    static QString Caption(int i) { return QString("Artist %1 - Title %1").arg(i); }
    static QByteArray ListBytes(const QStringList& paths) { return FormatListText(paths); }
    void WriteList(const QString& name, const QStringList& paths) {
        WriteFile(name, ListBytes(paths));
    }
    static QStringList Lines(const QListWidget* list) {
        QStringList lines;
        for (int i = 0; i < list->count(); ++i)
            lines << list->item(i)->text();
        return lines;
    }
    std::unique_ptr<TfrmIndex> CreateMain() {
        auto w = std::make_unique<TfrmIndex>();
        w->show();
        return w;
    }
    static void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
    static void ClickRow(QListWidget* list, int row, Qt::KeyboardModifiers mods = {}) {
        const QRect r = list->visualItemRect(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, mods, r.center());
    }
    QString Boxes() const { return RecordedBoxes().join('\n'); }

    // Clicks "PLAYLIST" and runs `steps` in the modal editor, then closes it with "X"; returns
    // when the hand-over has finished.
    void RunEditor(TfrmIndex* w, const std::function<void(TfrmTracklist*)>& steps) {
        bool ran = false;
        const auto attempt = [&](const auto& self) -> void {
            auto* editor = qobject_cast<TfrmTracklist*>(QApplication::activeModalWidget());
            if (!editor) {
                QTimer::singleShot(10, [self] { self(self); });
                return;
            }
            ran = true;
            steps(editor);
            Click(editor->Label1);
        };
        QTimer::singleShot(0, [attempt] { attempt(attempt); });
        Click(w->Label4);
        EXPECT_TRUE(ran);
    }

    static QTemporaryDir* media_;
    static QStringList tones_;
    static QString band_, titleOnly_, untagged_;
};
QTemporaryDir* EditorTest::media_ = nullptr;
QStringList EditorTest::tones_;
QString EditorTest::band_, EditorTest::titleOnly_, EditorTest::untagged_;

} // namespace

// The caption rule on tags written byte by byte; one reader for all, so nothing carries over.
TEST_F(EditorTest, CaptionRule) {
    const auto file = [this](const QString& name, const QByteArray& tag) {
        WriteFile(name, tag + QByteArray(512, '\xAA'));
        return WorkPath(name);
    };
    TID3v2Tag tag;
    EXPECT_EQ(TrackCaption(tag, file("a", Id3Tag("Song", "Band"))), "Band - Song");
    EXPECT_EQ(TrackCaption(tag, file("b", Id3Tag("Song", ""))), " - Song");
    EXPECT_EQ(TrackCaption(tag, file("c", Id3Tag("", "Band"))), "Band - ");
    EXPECT_EQ(TrackCaption(tag, file("d", QByteArray(512, 'x'))), FailedCaption);
    EXPECT_EQ(TrackCaption(tag, WorkPath("missing.mp3")), FailedCaption);
    EXPECT_EQ(TrackCaption(tag, file("e", Id3Tag("", ""))), FailedCaption);
    // a single blank is a text, not an empty one
    EXPECT_EQ(TrackCaption(tag, file("f", Id3Tag("", " "))), "  - ");
    EXPECT_EQ(TrackCaption(tag, untagged_), "Track - Failed to get file information.");
    EXPECT_EQ(TrackCaption(tag, band_), "Band - Song");
}

// Where the ID3v2 tag gives neither title nor artist, the caption comes from the file's own tags:
// each format's, and the MPEG tags our reader leaves alone. A good ID3v2 tag still wins. Damaged
// and hostile files get the failure caption, or what survives of their tags, and no crash.
TEST_F(EditorTest, CaptionFromTheFormatsOwnTags) {
    using namespace tagbytes;
    const auto q = [](const Bytes& b) {
        return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
    };
    const auto tone = [this](const QString& name, const QString& title, const QString& artist,
                             const QStringList& options = {}) {
        QFile f(MakeTone(work_.path(), name, 440, 0.2, title, artist, options));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    std::mt19937 rng(13);
    const auto noise = [&rng](int n) {
        QByteArray b(n, '\0');
        for (char& c : b)
            c = char(rng());
        return b;
    };
    const QString song = "Band - Song";
    struct Case {
        QString name;
        QByteArray bytes;
        QString caption;
    };
    std::vector<Case> cases;

    // each format as ffmpeg tags it; cut inside its first text; its header followed by noise
    for (const QString& name : QStringList{"song.flac", "song.ogg", "song.opus", "aac.m4a",
                                           "alac.m4a", "song.wma", "song.wav"}) {
        const QByteArray file = tone(
            name, "Song", "Band", name == "alac.m4a" ? QStringList{"-c:a", "alac"} : QStringList{});
        qsizetype first = file.size();
        for (const QByteArray& text : {QByteArray("Song"), QByteArray("Band"),
                                       QByteArray("S\0o\0n\0g", 7), QByteArray("B\0a\0n\0d", 7)})
            if (const qsizetype at = file.indexOf(text); at >= 0)
                first = std::min(first, at);
        ASSERT_LT(first, file.size()) << name.toStdString();
        cases.push_back({name, file, song});
        cases.push_back({"cut-" + name, file.left(first + 2), FailedCaption});
        cases.push_back({"noise-" + name, file.left(16) + noise(4096), FailedCaption});
    }
    // WAV with an "id3 " chunk
    QByteArray wav = tone("plain.wav", {}, {});
    const QByteArray id3 =
        q(sample::TitleArtistV3()) + QByteArray(sample::TitleArtistV3().size() % 2, '\0');
    wav += "id3 " + q(Plain32LE(uint32_t(id3.size()))) + id3;
    wav.replace(4, 4, q(Plain32LE(uint32_t(wav.size() - 8))));
    cases.push_back({"id3-chunk.wav", wav, song});
    // the format is known by the first bytes, whatever the name says
    cases.push_back({"flac-named.mp3", cases.front().bytes, song});

    // MPEG tags our reader does not read, after an MP3 without tags
    const QByteArray mp3 = tone("bare.mp3", {}, {}, {"-id3v2_version", "0", "-write_id3v1", "0"});
    const QByteArray junk(300, '\0');
    const Bytes title = Frame(4, "TIT2", Text(0, "Song"));
    const Bytes artist = Frame(4, "TPE1", Text(0, "Band"));
    cases.insert(
        cases.end(),
        {
            {"v22.mp3", q(sample::VersionTwo()) + mp3, " - Song"},
            {"unsynchronised.mp3", q(sample::UnsynchronisedV3()) + mp3, " - Song"},
            // a frame size written plainly in a version 4 tag: 200 is 0xC8, not sync-safe
            {"plain-size.mp3",
             q(Tag(4, {RawFrame("PRIV", Plain32(200), 0, Zeros(200)), title, artist})) + mp3, song},
            {"after-junk.mp3", junk + q(sample::TitleArtistV3()) + mp3, song},
            {"id3v1.mp3", mp3 + q(Id3v1("Song", "Band")), song},
            // of several values, the first
            {"ape.mp3",
             mp3 + q(Ape({{"Title", "Song"}, {"Artist", std::string_view("Band\0Other", 10)}})),
             song},
            {"album-only-and-id3v1.mp3",
             q(Tag(3, {Frame(3, "TALB", Text(0, "Album"))})) + mp3 + q(Id3v1("Song", "Band")),
             song},
            {"cut-after-junk.mp3", (junk + q(sample::TitleArtistV3())).left(300 + 20),
             FailedCaption},
            {"noise.mp3", noise(4096), FailedCaption},
            // a good ID3v2 tag wins over the format's own
            {"id3-and-vorbis.flac", Id3Tag("Song", "Band") + tone("other.flac", "Other", "Others"),
             song},
        });

    // Hostile files: nested MP4 containers and nested ID3v2 chapters would recurse until the
    // stack overflows; a compressed frame could inflate to gigabytes, so it is not read.
    constexpr int kAtoms = 200000;
    QByteArray atoms = q(Cat({Plain32(16), B("ftypM4A "), Zeros(4)}));
    for (int i = 0; i < kAtoms; ++i)
        atoms += q(Cat({Plain32(uint32_t(8 * (kAtoms - i))), B("moov")}));
    constexpr int kChapters = 100000;
    const Bytes inner = Frame(3, "TIT2", Text(0, "Chapter"));
    Bytes chapters;
    for (int i = 0; i < kChapters; ++i) {
        const auto size = uint32_t(18 + (kChapters - 1 - i) * 28 + inner.size());
        const Bytes head = Cat({B("CHAP"), Plain32(size), Zeros(2), B("c"), Zeros(17)});
        chapters.insert(chapters.end(), head.begin(), head.end());
    }
    chapters.insert(chapters.end(), inner.begin(), inner.end());
    // qCompress puts the size before the zlib data, as a compressed version 3 frame does
    const QByteArray packed = qCompress(QByteArray("\0Song", 5));
    const Bytes compressed = Frame(3, "TIT2", Bytes(packed.begin(), packed.end()), 0x0080);
    cases.insert(
        cases.end(),
        {
            {"nested-atoms.m4a", atoms, FailedCaption},
            {"nested-chapters.mp3",
             junk +
                 q(Tag(3, {chapters, Frame(3, "TIT2", Text(0, "Song")),
                           Frame(3, "TPE1", Text(0, "Band"))})) +
                 mp3,
             song},
            {"compressed-title.mp3",
             junk + q(Tag(3, {compressed, Frame(3, "TPE1", Text(0, "Band"))})) + mp3, "Band - "},
        });

    TID3v2Tag tag;
    for (const Case& c : cases) {
        WriteFile(c.name, c.bytes);
        EXPECT_EQ(TrackCaption(tag, WorkPath(c.name)).toStdString(), c.caption.toStdString())
            << c.name.toStdString();
    }
    // a FIFO named like music would hold a reader that opened it plainly
    ASSERT_EQ(::mkfifo(QFile::encodeName(WorkPath("fifo.flac")).constData(), 0600), 0);
    EXPECT_EQ(TrackCaption(tag, WorkPath("fifo.flac")), FailedCaption);
}

// The main window captions entry [current index] at start-up, after OPEN FILE and after an
// automatic advance; Stop clears the label, Play leaves it empty, Pause leaves it alone.
TEST_F(EditorTest, MainWindowCaptions) {
    WriteList("patch.dat", {band_, titleOnly_});
    auto w = CreateMain();
    EXPECT_EQ(w->lInfo->text(), "Band - Song");
    Click(w->iPlay);
    ASSERT_TRUE(WaitFor([&] { return w->CurrentIndex == 1; }, 5000));
    EXPECT_EQ(w->lInfo->text(), " - Song");
    Click(w->iPause);
    EXPECT_EQ(w->lInfo->text(), " - Song");
    Click(w->iStop);
    EXPECT_TRUE(w->lInfo->text().isEmpty());
    Click(w->iPlay);
    EXPECT_TRUE(w->lInfo->text().isEmpty());
    Click(w->iStop);

    AnswerFileDialog({untagged_});
    Click(w->Label3);
    EXPECT_EQ(w->lInfo->text(), "Track - Failed to get file information.");
    AnswerFileDialog({tones_[2]});
    Click(w->Label3);
    EXPECT_EQ(w->lInfo->text(), Caption(2));
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << Boxes().toStdString();
}

// The editor's window, and its list of captions with a line for a file that is gone.
TEST_F(EditorTest, EditorShowsThePersistedListAsCaptions) {
    WriteList("patch.dat", {tones_[0], WorkPath("gone.mp3"), band_});
    TfrmTracklist editor;
    editor.show();
    EXPECT_EQ(editor.size(), QSize(540, 519));
    EXPECT_EQ(editor.pos(), QPoint(400, 210));
    EXPECT_TRUE(editor.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(editor.windowTitle(), "Ondrix - Playlist");
    EXPECT_EQ(editor.tracklist->geometry(), QRect(8, 29, 521, 444));
    EXPECT_EQ(editor.tracklist->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(Lines(editor.tracklist),
              QStringList({Caption(0), "Track - Failed to get file information.", "Band - Song"}));
    EXPECT_EQ(editor.tracklist->visualItemRect(editor.tracklist->item(1)).height(), 13);
    EXPECT_TRUE(editor.Tag != nullptr);
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << Boxes().toStdString();
}

// Without "patch.dat": an empty list box; Add tracks shows the new lines, then fails reading the
// list, and neither "patch.dat" nor "kontrola.tmp" is written. Save and Delete fail the same way.
TEST_F(EditorTest, EditorWithoutPersistedList) {
    TfrmTracklist editor;
    editor.show();
    EXPECT_EQ(editor.tracklist->count(), 0);
    EXPECT_TRUE(editor.Tag == nullptr);
    AnswerFileDialog({tones_[0], tones_[1]});
    Click(editor.Label3);
    EXPECT_EQ(Lines(editor.tracklist), QStringList({Caption(0), Caption(1)}));
    EXPECT_EQ(editor.List, QStringList({tones_[0], tones_[1]}));
    const QString openError = "Cannot open file \"patch.dat\". No such file or directory.";
    EXPECT_EQ(RecordedBoxes(), QStringList({openError}));
    EXPECT_FALSE(QFile::exists(WorkPath("patch.dat")));
    EXPECT_FALSE(QFile::exists(WorkPath("kontrola.tmp")));

    editor.tracklist->item(0)->setSelected(true);
    QTest::keyRelease(editor.tracklist, Qt::Key_Delete);
    AnswerFileDialog({WorkPath("saved.qdl")});
    Click(editor.Label4);
    EXPECT_EQ(RecordedBoxes(), QStringList({openError, openError, openError}));
    EXPECT_EQ(editor.tracklist->count(), 2);
    EXPECT_FALSE(QFile::exists(WorkPath("saved.qdl")));
    EXPECT_FALSE(QFile::exists(WorkPath("patch.dat")));
}

// Add two tracks to three: five lines, five paths, "kontrola.tmp" until the editor closes;
// then the current track is re-opened, stopped, and captioned.
TEST_F(EditorTest, AddTwoTracksToThree) {
    WriteList("patch.dat", {tones_[0], tones_[1], tones_[2]});
    auto w = CreateMain();
    Click(w->iPlay);
    ASSERT_TRUE(WaitFor([&] { return w->CurrentIndex == 1; }, 5000));
    Click(w->iPause);
    w->volume->setValue(300);
    RunEditor(w.get(), [&](TfrmTracklist* editor) {
        AnswerFileDialog({tones_[3], tones_[4]});
        Click(editor->Label3);
        EXPECT_EQ(Lines(editor->tracklist),
                  QStringList({Caption(0), Caption(1), Caption(2), Caption(3), Caption(4)}));
        EXPECT_EQ(ReadFile("patch.dat"), ListBytes(tones_));
        EXPECT_EQ(ReadFile("kontrola.tmp"), QByteArray());
        EXPECT_EQ(w->PlayList.size(), 3); // nothing reaches the main window yet
    });
    EXPECT_FALSE(QFile::exists(WorkPath("kontrola.tmp")));
    EXPECT_EQ(w->PlayList, tones_);
    EXPECT_EQ(w->LastIndex, 4);
    EXPECT_EQ(w->CurrentIndex, 1);
    EXPECT_EQ(w->Player->FileName(), tones_[1]);
    EXPECT_EQ(w->Player->Mode(), pmStopped);
    EXPECT_EQ(w->Player->Position(), 0);
    EXPECT_EQ(w->lInfo->text(), Caption(1));
    EXPECT_TRUE(w->TrackLoaded);
    // the re-open comes after the read-back, so the slider keeps the paused device's volume
    EXPECT_EQ(w->volume->value(), 300);
    EXPECT_EQ(ReadFile("patch.dat"), ListBytes(tones_));
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << Boxes().toStdString();
}

// Lines 2 and 3 of five selected with real clicks and deleted with Shift+Delete; other keys
// change nothing. Without "kontrola.tmp" the hand-over only reloads: the track plays on.
TEST_F(EditorTest, DeleteSelectedLines) {
    WriteList("patch.dat", tones_);
    auto w = CreateMain();
    Click(w->iPlay);
    RunEditor(w.get(), [&](TfrmTracklist* editor) {
        // the main window's status tick goes on while the editor is open
        EXPECT_TRUE(WaitFor([&] { return w->CurrentIndex >= 1; }, 5000));
        ClickRow(editor->tracklist, 1);
        ClickRow(editor->tracklist, 2, Qt::ShiftModifier);
        QTest::keyClick(editor->tracklist, Qt::Key_Backspace);
        QTest::keyClick(editor->tracklist, Qt::Key_Insert);
        EXPECT_EQ(editor->tracklist->count(), 5);
        EXPECT_EQ(ReadFile("patch.dat"), ListBytes(tones_));
        QTest::keyRelease(editor->tracklist, Qt::Key_Delete, Qt::ShiftModifier);
        EXPECT_EQ(Lines(editor->tracklist), QStringList({Caption(0), Caption(3), Caption(4)}));
        EXPECT_EQ(ReadFile("patch.dat"), ListBytes({tones_[0], tones_[3], tones_[4]}));
    });
    EXPECT_EQ(w->PlayList, QStringList({tones_[0], tones_[3], tones_[4]}));
    EXPECT_TRUE(w->tStatus->isActive());
    EXPECT_EQ(w->volume->value(), GetVolume(*w->Player));
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << Boxes().toStdString();
}

// Open a saved list of two while "patch.dat" holds three: five captions, "patch.dat" unchanged
// until the editor closes; then the two paths are the list, entry 0 is opened and captioned.
// A selected line that only Open added is not deleted.
TEST_F(EditorTest, OpenSavedListHandsItOver) {
    WriteList("patch.dat", {tones_[0], tones_[1], tones_[2]});
    // written with a byte-order mark: "tracklist.dat" and "patch.dat" get the plain form
    QByteArray utf16("\xFF\xFE", 2);
    for (const QString& p : {band_, tones_[4]}) {
        const QString line = p + "\r\n";
        utf16 += QByteArray(reinterpret_cast<const char*>(line.utf16()), line.size() * 2);
    }
    WriteFile("two.qdl", utf16);
    auto w = CreateMain();
    Click(w->iPlay);
    RunEditor(w.get(), [&](TfrmTracklist* editor) {
        AnswerFileDialog({WorkPath("two.qdl")});
        Click(editor->Label2);
        EXPECT_EQ(Lines(editor->tracklist),
                  QStringList({Caption(0), Caption(1), Caption(2), "Band - Song", Caption(4)}));
        EXPECT_EQ(editor->List, QStringList({band_, tones_[4]}));
        EXPECT_EQ(ReadFile("tracklist.dat"), ListBytes({band_, tones_[4]}));
        EXPECT_EQ(ReadFile("patch.dat"), ListBytes({tones_[0], tones_[1], tones_[2]}));
        ClickRow(editor->tracklist, 4);
        QTest::keyRelease(editor->tracklist, Qt::Key_Delete);
        EXPECT_EQ(editor->tracklist->count(), 5);
        EXPECT_EQ(ReadFile("patch.dat"), ListBytes({tones_[0], tones_[1], tones_[2]}));
    });
    EXPECT_EQ(w->PlayList, QStringList({band_, tones_[4]}));
    EXPECT_EQ(w->CurrentIndex, 0);
    EXPECT_EQ(w->LastIndex, 1);
    EXPECT_EQ(w->Player->FileName(), band_);
    EXPECT_EQ(w->Player->Mode(), pmStopped);
    EXPECT_EQ(w->lInfo->text(), "Band - Song");
    EXPECT_EQ(w->volume->value(), GetVolume(*w->Player));
    EXPECT_EQ(ReadFile("patch.dat"), ListBytes({band_, tones_[4]}));
    EXPECT_FALSE(QFile::exists(WorkPath("tracklist.dat")));
    EXPECT_TRUE(w->tStatus->isActive()); // the status timer is not touched
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << Boxes().toStdString();
}

// A saved list that cannot be read stops Open before "tracklist.dat" is written; the
// hand-over then changes nothing.
TEST_F(EditorTest, UnreadableSavedListIsReported) {
    WriteList("patch.dat", {tones_[0], tones_[1]});
    auto w = CreateMain();
    RunEditor(w.get(), [&](TfrmTracklist* editor) {
        AnswerFileDialog({WorkPath("typed-but-missing.qdl")});
        Click(editor->Label2);
        EXPECT_EQ(editor->tracklist->count(), 2);
    });
    EXPECT_EQ(RecordedBoxes(),
              QStringList({"Cannot open file \"" + WorkPath("typed-but-missing.qdl") +
                           "\". No such file or directory."}));
    EXPECT_FALSE(QFile::exists(WorkPath("tracklist.dat")));
    EXPECT_EQ(w->PlayList, QStringList({tones_[0], tones_[1]}));
}

// "patch.dat" gone when the hand-over reloads it: the box, the list kept, and the added-tracks
// step not reached.
TEST_F(EditorTest, HandOverWithoutPersistedListKeepsThePlayList) {
    WriteList("patch.dat", {tones_[0], tones_[1]});
    auto w = CreateMain();
    RunEditor(w.get(), [&](TfrmTracklist* editor) {
        AnswerFileDialog({tones_[2]});
        Click(editor->Label3);
        ASSERT_TRUE(QFile::remove(WorkPath("patch.dat")));
    });
    EXPECT_EQ(RecordedBoxes(),
              QStringList({"Cannot open file \"patch.dat\". No such file or directory."}));
    EXPECT_EQ(w->PlayList, QStringList({tones_[0], tones_[1]}));
    EXPECT_EQ(w->LastIndex, 0); // as start-up left it: the added-tracks step did not run
    EXPECT_TRUE(QFile::exists(WorkPath("kontrola.tmp")));
}

// Open and Add in one run: the opened list wins, the added tracks are dropped, and entry 0 of
// the opened list is re-opened.
TEST_F(EditorTest, OpenAndAddInOneRun) {
    WriteList("patch.dat", {tones_[0], tones_[1], tones_[2]});
    WriteList("two.qdl", {tones_[3], band_});
    auto w = CreateMain();
    RunEditor(w.get(), [&](TfrmTracklist* editor) {
        AnswerFileDialog({WorkPath("two.qdl")});
        Click(editor->Label2);
        AnswerFileDialog({tones_[4]});
        Click(editor->Label3);
        EXPECT_EQ(editor->tracklist->count(), 6);
        EXPECT_EQ(ReadFile("patch.dat"), ListBytes({tones_[0], tones_[1], tones_[2], tones_[4]}));
    });
    EXPECT_EQ(w->PlayList, QStringList({tones_[3], band_}));
    EXPECT_EQ(w->CurrentIndex, 0);
    EXPECT_EQ(w->LastIndex, 1);
    EXPECT_EQ(w->Player->FileName(), tones_[3]);
    EXPECT_EQ(w->lInfo->text(), Caption(3));
    EXPECT_EQ(ReadFile("patch.dat"), ListBytes({tones_[3], band_}));
    EXPECT_FALSE(QFile::exists(WorkPath("tracklist.dat")));
    EXPECT_FALSE(QFile::exists(WorkPath("kontrola.tmp")));
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << Boxes().toStdString();
}

// Save writes the bytes a fresh save of "patch.dat"'s entries gives, adds ".qdl" to a name
// typed without one, and replaces an existing file without asking.
TEST_F(EditorTest, SaveCopiesThePersistedList) {
    // a byte-order mark and a last line without its CR LF: the saved copy is the plain form
    WriteFile("patch.dat", "\xEF\xBB\xBF" + tones_[0].toUtf8() + "\r\n" + tones_[1].toUtf8());
    WriteFile("kept.qdl", "old contents, longer than the new ones will be ......\r\n");
    TfrmTracklist editor;
    editor.show();
    AnswerFileDialog({WorkPath("mylist")});
    Click(editor.Label4);
    EXPECT_EQ(ReadFile("mylist.qdl"), ListBytes({tones_[0], tones_[1]}));
    EXPECT_FALSE(QFile::exists(WorkPath("mylist")));
    AnswerFileDialog({WorkPath("kept.qdl")});
    Click(editor.Label4);
    EXPECT_EQ(ReadFile("kept.qdl"), ListBytes({tones_[0], tones_[1]}));
    // cancelled, after a look at the open dialog: its title, and no places bar
    bool placesShown = true;
    QString title;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(WaitFor([] {
            return dmData->SaveT() && QApplication::activeModalWidget() == dmData->SaveT();
        }));
        QFileDialog* dialog = dmData->SaveT();
        ASSERT_NE(dialog, nullptr);
        title = dialog->windowTitle();
        auto* places = dialog->findChild<QWidget*>("sidebar");
        placesShown = places && places->isVisible();
        dialog->reject();
    });
    Click(editor.Label4);
    EXPECT_EQ(title, "Ondrix - Ulozenie tracklistu");
    EXPECT_FALSE(placesShown);
    EXPECT_EQ(QDir(work_.path()).entryList({"*.qdl"}), QStringList({"kept.qdl", "mylist.qdl"}));
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << Boxes().toStdString();
}

// An empty saved list: the playback list becomes empty, nothing is opened, the caption is
// cleared, no box, "tracklist.dat" goes; the next hand-over works as usual.
TEST_F(EditorTest, EmptySavedListEmptiesThePlayList) {
    WriteList("patch.dat", {tones_[0], tones_[1]});
    WriteFile("empty.qdl", "");
    auto w = CreateMain();
    RunEditor(w.get(), [&](TfrmTracklist* editor) {
        AnswerFileDialog({WorkPath("empty.qdl")});
        Click(editor->Label2);
        EXPECT_EQ(ReadFile("tracklist.dat"), QByteArray());
    });
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << Boxes().toStdString();
    EXPECT_TRUE(w->PlayList.isEmpty());
    EXPECT_EQ(w->LastIndex, -1);
    EXPECT_TRUE(w->lInfo->text().isEmpty());
    EXPECT_EQ(w->Player->FileName(), tones_[0]);
    EXPECT_FALSE(QFile::exists(WorkPath("tracklist.dat")));
    EXPECT_EQ(ReadFile("patch.dat"), QByteArray());

    RunEditor(w.get(), [&](TfrmTracklist* editor) {
        EXPECT_EQ(editor->tracklist->count(), 0);
        AnswerFileDialog({tones_[2]});
        Click(editor->Label3);
    });
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << Boxes().toStdString();
    EXPECT_EQ(w->PlayList, QStringList({tones_[2]}));
    EXPECT_EQ(w->CurrentIndex, 0);
    EXPECT_EQ(w->Player->FileName(), tones_[2]);
    EXPECT_EQ(w->lInfo->text(), Caption(2));
    w.reset();
    EXPECT_EQ(ReadFile("patch.dat"), ListBytes({tones_[2]}));
}

// Deleting past the current track and then adding: the current index is clamped to the last
// entry, which is opened; deleting everything after adding opens nothing. No box either way.
TEST_F(EditorTest, AddAfterDeletingPastTheCurrentTrack) {
    WriteList("patch.dat", {tones_[0], tones_[1], tones_[2]});
    auto w = CreateMain();
    Click(w->iPlay);
    ASSERT_TRUE(WaitFor([&] { return w->CurrentIndex == 2; }, 5000));
    Click(w->iStop);
    RunEditor(w.get(), [&](TfrmTracklist* editor) {
        ClickRow(editor->tracklist, 1);
        ClickRow(editor->tracklist, 2, Qt::ShiftModifier);
        QTest::keyRelease(editor->tracklist, Qt::Key_Delete);
        AnswerFileDialog({band_});
        Click(editor->Label3);
        EXPECT_EQ(ReadFile("patch.dat"), ListBytes({tones_[0], band_}));
    });
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << Boxes().toStdString();
    EXPECT_EQ(w->PlayList, QStringList({tones_[0], band_}));
    EXPECT_EQ(w->CurrentIndex, 1);
    EXPECT_EQ(w->LastIndex, 1);
    EXPECT_EQ(w->Player->FileName(), band_);
    EXPECT_EQ(w->lInfo->text(), "Band - Song");

    RunEditor(w.get(), [&](TfrmTracklist* editor) {
        AnswerFileDialog({tones_[3]});
        Click(editor->Label3);
        editor->tracklist->selectAll();
        QTest::keyRelease(editor->tracklist, Qt::Key_Delete, Qt::ControlModifier);
        EXPECT_EQ(editor->tracklist->count(), 0);
        EXPECT_EQ(ReadFile("patch.dat"), QByteArray());
    });
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << Boxes().toStdString();
    EXPECT_TRUE(w->PlayList.isEmpty());
    EXPECT_EQ(w->CurrentIndex, 0);
    EXPECT_EQ(w->LastIndex, -1);
    EXPECT_FALSE(QFile::exists(WorkPath("kontrola.tmp")));
}

// Whether the list became shorter than the current index, empty, or is wrapping round with
// Repeat, a cancelled OPEN FILE never reads outside it.
TEST_F(EditorTest, CancelledOpenAfterTheListShrankReadsNothingOutsideIt) {
    WriteList("patch.dat", {tones_[0], tones_[1], tones_[2]});
    auto w = CreateMain();
    Click(w->iPlay);
    ASSERT_TRUE(WaitFor([&] { return w->CurrentIndex == 2; }, 5000));
    RunEditor(w.get(), [&](TfrmTracklist* editor) {
        ClickRow(editor->tracklist, 0);
        ClickRow(editor->tracklist, 1, Qt::ShiftModifier);
        QTest::keyRelease(editor->tracklist, Qt::Key_Delete);
    });
    ASSERT_TRUE(WaitFor([&] { return !w->tStatus->isActive(); }, 5000));
    AnswerFileDialog({});
    Click(w->Label3);
    EXPECT_EQ(w->Player->FileName(), tones_[2]);

    // the tick that finds the last track at its end with Repeat checked
    w->cbRepeat->setChecked(true);
    w->Progres->SetPosition(w->Progres->Max());
    TApplication::RunHandler([&] { w->tStatusTimer(); });
    AnswerFileDialog({});
    Click(w->Label3);

    RunEditor(w.get(), [&](TfrmTracklist* editor) {
        AnswerFileDialog({tones_[3]});
        Click(editor->Label3);
        editor->tracklist->selectAll();
        QTest::keyRelease(editor->tracklist, Qt::Key_Delete);
    });
    ASSERT_TRUE(w->PlayList.isEmpty());
    AnswerFileDialog({});
    Click(w->Label3);
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << Boxes().toStdString();
}

// An opened list whose first entry cannot be opened is reported once and taken over for good:
// the next hand-over does not trip over it again.
TEST_F(EditorTest, OpenedListWithAnUnopenableFirstEntryIsTakenOnce) {
    WriteList("patch.dat", {tones_[0]});
    WriteList("two.qdl", {WorkPath("gone.mp3"), tones_[1]});
    auto w = CreateMain();
    RunEditor(w.get(), [&](TfrmTracklist* editor) {
        AnswerFileDialog({WorkPath("two.qdl")});
        Click(editor->Label2);
    });
    ASSERT_EQ(RecordedBoxes().size(), 1);
    EXPECT_TRUE(RecordedBoxes()[0].contains("gone.mp3"));
    EXPECT_FALSE(QFile::exists(WorkPath("tracklist.dat")));
    EXPECT_EQ(ReadFile("patch.dat"), ListBytes({WorkPath("gone.mp3"), tones_[1]}));

    RunEditor(w.get(), [&](TfrmTracklist* editor) {
        ClickRow(editor->tracklist, 0);
        QTest::keyRelease(editor->tracklist, Qt::Key_Delete);
    });
    EXPECT_EQ(RecordedBoxes().size(), 1) << Boxes().toStdString();
    EXPECT_EQ(w->PlayList, QStringList({tones_[1]}));
}

// A file on a share that stopped answering (here one whose reads the test holds) gets the
// failure caption once nothing was read from it for 3 s, in the main window and in the editor's
// lines, and the window goes on painting meanwhile.
TEST_F(EditorTest, CaptionOfAFileThatDoesNotAnswer) {
    const QString hung = WorkPath("hung.mp3");
    ASSERT_TRUE(QFile::copy(band_, hung));
    // shared with the hook, which the threads left waiting still run after the test
    struct TGate {
        std::mutex Lock;
        std::condition_variable Open;
        bool Closed = true;
    };
    const auto gate = std::make_shared<TGate>();
    SetTagReadHook([gate](const QString& path) {
        if (!path.endsWith(QStringLiteral("hung.mp3")))
            return;
        std::unique_lock lock(gate->Lock);
        // let go after a while in any case, so a wait that never ends fails instead of hanging
        gate->Open.wait_for(lock, std::chrono::seconds(20), [&] { return !gate->Closed; });
    });
    auto w = CreateMain();
    int paints = 0;
    TEventCounter counter(w.get(), QEvent::Paint, paints);
    QTimer repaint;
    QObject::connect(&repaint, &QTimer::timeout, w.get(), [&] { w->update(); });
    repaint.start(50);

    w->OpenFiles({hung, band_});
    EXPECT_EQ(w->lInfo->text(), "Track - Failed to get file information.");
    EXPECT_GT(paints, 20) << "the window stood still while the caption was read";

    paints = 0;
    WriteList("patch.dat", {tones_[0], hung, band_});
    {
        TfrmTracklist editor;
        EXPECT_EQ(Lines(editor.tracklist),
                  QStringList({Caption(0), "Track - Failed to get file information.",
                               "Band - Song"}));
    }
    EXPECT_GT(paints, 20) << "the window stood still while the editor's captions were read";
    EXPECT_TRUE(RecordedBoxes().isEmpty()) << Boxes().toStdString();
    {
        std::lock_guard lock(gate->Lock);
        gate->Closed = false;
    }
    gate->Open.notify_all();
    SetTagReadHook(nullptr);
}

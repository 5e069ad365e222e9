// The playlist editor on a long list: opening it on a "patch.dat" of 10,000 tagged files (half of
// them with a 100 KB picture frame) until the list box holds every caption, the hand-over's
// reload of that list, and the whole PLAYLIST round trip (editor opened and closed at once, then
// the hand-over). The files are generated once into the build folder: one small MP3 body with
// an ID3v2.3 tag written in front of it byte by byte. The page cache is warmed before timing.
//
// At scale: the editor opened on 100,000 entries (the 10,000 files ten times over), and 20,000
// files (in 1,000 folders, each a small tagged MP3) dropped on the main window or handed over as a
// later start hands them over, until "patch.dat" holds them all, with the longest the main
// window went without a paint meanwhile. These use only what main has too, so they build and
// run beside it (bench/app/beside_main.sh); where main takes no drop, that one says so.
//
// The same on a mixed library: a fifth each MP3 (ID3v2.3 as above), FLAC, Opus, M4A and WMA, half
// with a 100 KB picture, whose captions other than the MP3s' come from the tag module. Its files
// are short tones made once per format by ffmpeg, tagged by TagLib; the captions are measured
// beside TagLib's generic FileRef reading the same files.
#include "app/Application.h"
#include "app/MainWindowControl.h"
#include "app/TrackCaption.h"
#include "app/dmData.h"
#include "app/frmIndex.h"
#include "app/frmTracklist.h"
#include "core/ListFile.h"
#include "tags/ID3v2Library.h"
#include "ui/Fonts.h"

#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <benchmark/benchmark.h>
#include <taglib/asffile.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/mp4file.h>
#include <taglib/opusfile.h>
#include <taglib/tag.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>

namespace {

constexpr int kFiles = 10000;
constexpr int kPictureBytes = 100 * 1024;

void put32(QByteArray& out, quint32 v) {
    out += char(v >> 24);
    out += char(v >> 16);
    out += char(v >> 8);
    out += char(v);
}

void textFrame(QByteArray& out, const char* id, const QByteArray& text) {
    out += id;
    put32(out, quint32(text.size() + 1));
    out += QByteArray(2, '\0');
    out += '\0'; // ISO-8859-1
    out += text;
}

QByteArray tagFor(int i, const QByteArray& picture) {
    QByteArray frames;
    textFrame(frames, "TIT2", "Title number " + QByteArray::number(i));
    textFrame(frames, "TPE1", "Artist " + QByteArray::number(i % 97));
    textFrame(frames, "TALB", "Album " + QByteArray::number(i % 31));
    textFrame(frames, "TRCK", QByteArray::number(i % 12 + 1));
    if (i % 2 == 0) {
        QByteArray apic;
        apic += '\0';
        apic += "image/jpeg";
        apic += '\0';
        apic += '\x03'; // front cover
        apic += '\0';   // empty description
        apic += picture;
        frames += "APIC";
        put32(frames, quint32(apic.size()));
        frames += QByteArray(2, '\0');
        frames += apic;
    }
    const quint32 n = quint32(frames.size());
    QByteArray tag("ID3\x03\x00\x00", 6);
    tag += char((n >> 21) & 0x7F);
    tag += char((n >> 14) & 0x7F);
    tag += char((n >> 7) & 0x7F);
    tag += char(n & 0x7F);
    return tag + frames;
}

// Twenty silent MPEG-1 layer III frames: 128 kbit/s, 44.1 kHz, mono, empty side information.
QByteArray mp3Body() {
    QByteArray frame(417, '\0');
    frame[0] = char(0xFF);
    frame[1] = char(0xFB);
    frame[2] = char(0x90);
    frame[3] = char(0xC4);
    return frame.repeated(20);
}

QString corpusDir() {
    const QString dir =
        QDir(qEnvironmentVariable("ONDRIX_EDITOR_CORPUS", ONDRIX_EDITOR_CORPUS_DEFAULT))
            .absolutePath();
    QDir().mkpath(dir);
    return dir;
}

// The corpus paths, generating the files that are missing.
QStringList corpus() {
    const QString dir = corpusDir();
    QByteArray picture(kPictureBytes, '\0');
    std::mt19937 rng(7);
    for (char& c : picture)
        c = char(rng());
    const QByteArray body = mp3Body();
    QStringList paths;
    paths.reserve(kFiles);
    for (int i = 0; i < kFiles; ++i) {
        const QString path = dir + QString::asprintf("/track%05d.mp3", i);
        if (!QFile::exists(path)) {
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly) || f.write(tagFor(i, picture) + body) < 0)
                qFatal("cannot write %s", qPrintable(path));
        }
        paths << path;
    }
    return paths;
}

// Reads every file once, so the timings are of a warm cache.
void warm(const QStringList& paths) {
    QByteArray sink;
    for (const QString& p : paths) {
        QFile f(p);
        if (f.open(QIODevice::ReadOnly))
            sink = f.readAll();
    }
}

struct Setup {
    QTemporaryDir work;
    QStringList paths;
    Setup() {
        paths = corpus();
        warm(paths);
        QDir::setCurrent(work.path());
        SaveListFile(QStringLiteral("patch.dat"), paths);
    }
};

Setup& setup() {
    static Setup s;
    QDir::setCurrent(s.work.path());
    return s;
}

// The mixed library: file i is of format i % 5, in this order.
const char* const kFormats[] = {"mp3", "flac", "opus", "m4a", "wma"};
constexpr int kFormatCount = 5;

QByteArray randomPicture() {
    QByteArray picture(kPictureBytes, '\0');
    std::mt19937 rng(7);
    for (char& c : picture)
        c = char(rng());
    return picture;
}

// Title, artist and, when given, a front cover, through TagLib's class for the format.
bool writeTags(const QString& path, const char* format, int i, const QByteArray& picture) {
    const QByteArray name = QFile::encodeName(path);
    const TagLib::String title = ("Title number " + QByteArray::number(i)).constData();
    const TagLib::String artist = ("Artist " + QByteArray::number(i % 97)).constData();
    const TagLib::ByteVector data(picture.constData(), uint(picture.size()));
    const auto flacPicture = [&data] {
        auto* p = new TagLib::FLAC::Picture;
        p->setType(TagLib::FLAC::Picture::FrontCover);
        p->setMimeType("image/jpeg");
        p->setData(data);
        return p;
    };
    const std::string_view f(format);
    if (f == "flac") {
        TagLib::FLAC::File file(name.constData(), false);
        file.xiphComment(true)->setTitle(title);
        file.xiphComment(true)->setArtist(artist);
        if (!picture.isEmpty())
            file.addPicture(flacPicture());
        return file.save();
    }
    if (f == "opus") {
        TagLib::Ogg::Opus::File file(name.constData(), false);
        file.tag()->setTitle(title);
        file.tag()->setArtist(artist);
        if (!picture.isEmpty())
            file.tag()->addPicture(flacPicture());
        return file.save();
    }
    if (f == "m4a") {
        TagLib::MP4::File file(name.constData(), false);
        file.tag()->setTitle(title);
        file.tag()->setArtist(artist);
        if (!picture.isEmpty())
            file.tag()->setItem("covr", TagLib::MP4::CoverArtList().append(TagLib::MP4::CoverArt(
                                            TagLib::MP4::CoverArt::JPEG, data)));
        return file.save();
    }
    TagLib::ASF::File file(name.constData(), false);
    file.tag()->setTitle(title);
    file.tag()->setArtist(artist);
    if (!picture.isEmpty()) {
        TagLib::ASF::Picture cover;
        cover.setType(TagLib::ASF::Picture::FrontCover);
        cover.setMimeType("image/jpeg");
        cover.setPicture(data);
        file.tag()->addAttribute("WM/Picture", TagLib::ASF::Attribute(cover));
    }
    return file.save();
}

// The mixed corpus paths, generating the files that are missing.
QStringList mixedCorpus() {
    const QString dir = corpusDir() + QStringLiteral("/mixed");
    QDir().mkpath(dir);
    const QByteArray picture = randomPicture();
    const QByteArray body = mp3Body();
    QStringList paths;
    paths.reserve(kFiles);
    for (int i = 0; i < kFiles; ++i) {
        const char* format = kFormats[i % kFormatCount];
        const QString path = dir + QString::asprintf("/track%05d.%s", i, format);
        paths << path;
        if (QFile::exists(path))
            continue;
        const QByteArray pictureOrNone = (i / kFormatCount) % 2 == 0 ? picture : QByteArray();
        if (i % kFormatCount == 0) {
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly) || f.write(tagFor(i, picture) + body) < 0)
                qFatal("cannot write %s", qPrintable(path));
            continue;
        }
        const QString tone = dir + QStringLiteral("/tone.") + QLatin1String(format);
        if (!QFile::exists(tone)) {
            QProcess ffmpeg;
            ffmpeg.start(QStringLiteral("ffmpeg"),
                         {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                          "sine=frequency=440:duration=0.5:sample_rate=44100", tone});
            if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
                qFatal("ffmpeg cannot write %s", qPrintable(tone));
        }
        const QString temporary = path + QStringLiteral(".part");
        QFile::remove(temporary);
        if (!QFile::copy(tone, temporary) || !writeTags(temporary, format, i, pictureOrNone) ||
            !QFile::rename(temporary, path))
            qFatal("cannot tag %s", qPrintable(path));
    }
    return paths;
}

struct MixedSetup {
    QTemporaryDir work;
    QStringList paths;
    MixedSetup() {
        paths = mixedCorpus();
        warm(paths);
        QDir::setCurrent(work.path());
        SaveListFile(QStringLiteral("patch.dat"), paths);
    }
};

MixedSetup& mixedSetup() {
    static MixedSetup s;
    QDir::setCurrent(s.work.path());
    return s;
}

// The mixed corpus's paths of one format (1 to 5, in the order of kFormats), or all (0).
QStringList mixedPaths(int64_t format) {
    QStringList paths;
    const QStringList& all = mixedSetup().paths;
    for (int i = 0; i < all.size(); ++i)
        if (format == 0 || i % kFormatCount == format - 1)
            paths << all[i];
    return paths;
}

std::string formatLabel(int64_t format) {
    return format == 0 ? "mixed" : kFormats[format - 1];
}

// Editor creation: shaped, skinned, "patch.dat" read, 10,000 captions in the list box.
void EditorFill(benchmark::State& state) {
    setup();
    for (auto _ : state) {
        TfrmTracklist editor;
        if (editor.tracklist->count() != kFiles)
            state.SkipWithError("the list box is not full");
        benchmark::DoNotOptimize(editor.tracklist->count());
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(EditorFill)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(5);

// The same, on screen: shown and painted once with its first page of lines.
void EditorFillAndPaint(benchmark::State& state) {
    setup();
    for (auto _ : state) {
        TfrmTracklist editor;
        editor.show();
        benchmark::DoNotOptimize(editor.grab());
    }
}
BENCHMARK(EditorFillAndPaint)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(5);

// The captions alone, one reader for all files: the floor under the editor's fill.
void CaptionsOnly(benchmark::State& state) {
    const QStringList& paths = setup().paths;
    for (auto _ : state) {
        TID3v2Tag tag;
        for (const QString& p : paths)
            benchmark::DoNotOptimize(TrackCaption(tag, p));
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(CaptionsOnly)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(5);

// Editor creation on the mixed library: 10,000 captions, 8,000 of them through the tag module.
void EditorFillMixed(benchmark::State& state) {
    mixedSetup();
    for (auto _ : state) {
        TfrmTracklist editor;
        if (editor.tracklist->count() != kFiles)
            state.SkipWithError("the list box is not full");
        if (editor.tracklist->item(1)->text() != QStringLiteral("Artist 1 - Title number 1"))
            state.SkipWithError("the FLAC file has no caption");
        benchmark::DoNotOptimize(editor.tracklist->count());
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(EditorFillMixed)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(5);

// The captions of the mixed library, all or one format, one reader for all files.
void CaptionsMixed(benchmark::State& state) {
    const QStringList paths = mixedPaths(state.range(0));
    state.SetLabel(formatLabel(state.range(0)));
    for (auto _ : state) {
        TID3v2Tag tag;
        for (const QString& p : paths)
            if (TrackCaption(tag, p) == FailedCaption)
                state.SkipWithError("a file without caption");
    }
    state.SetItemsProcessed(state.iterations() * paths.size());
}
BENCHMARK(CaptionsMixed)->DenseRange(0, kFormatCount)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// TagLib's generic interface on the same files: FileRef picks the class by the name, here
// without audio properties (its cheapest use), then title and artist.
void FileRefMixed(benchmark::State& state) {
    const QStringList paths = mixedPaths(state.range(0));
    std::vector<QByteArray> names;
    for (const QString& p : paths)
        names.push_back(QFile::encodeName(p));
    state.SetLabel(formatLabel(state.range(0)));
    for (auto _ : state) {
        for (const QByteArray& name : names) {
            const TagLib::FileRef file(name.constData(), false);
            if (file.isNull() || file.tag()->title().isEmpty())
                state.SkipWithError("FileRef read no title");
            benchmark::DoNotOptimize(file.tag()->artist().size());
        }
    }
    state.SetItemsProcessed(state.iterations() * paths.size());
}
BENCHMARK(FileRefMixed)->DenseRange(0, kFormatCount)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// FileRef as it is usually called, with the audio properties.
void FileRefWithPropertiesMixed(benchmark::State& state) {
    const QStringList paths = mixedPaths(0);
    for (auto _ : state)
        for (const QString& p : paths) {
            const TagLib::FileRef file(QFile::encodeName(p).constData());
            benchmark::DoNotOptimize(file.tag()->title().size() + file.tag()->artist().size());
        }
    state.SetItemsProcessed(state.iterations() * paths.size());
}
BENCHMARK(FileRefWithPropertiesMixed)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// ---- at scale -----------------------------------------------------------------------------

constexpr int kLargeList = 100000;
constexpr int kDropFolders = 1000;
constexpr int kDropPerFolder = 20;

struct LargeSetup {
    QTemporaryDir work;
    QStringList paths;
    LargeSetup() {
        const QStringList base = corpus();
        warm(base);
        while (paths.size() < kLargeList)
            paths += base;
        QDir::setCurrent(work.path());
        SaveListFile(QStringLiteral("patch.dat"), paths);
    }
};

LargeSetup& largeSetup() {
    static LargeSetup s;
    QDir::setCurrent(s.work.path());
    return s;
}

// The editor on 100,000 entries, until its list box holds every caption.
void EditorFill100k(benchmark::State& state) {
    largeSetup();
    for (auto _ : state) {
        TfrmTracklist editor;
        if (editor.tracklist->count() != kLargeList)
            state.SkipWithError("the list box is not full");
        benchmark::DoNotOptimize(editor.tracklist->count());
    }
    state.SetItemsProcessed(state.iterations() * kLargeList);
}
BENCHMARK(EditorFill100k)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

// 20,000 small tagged MP3s in 1,000 folders, made once.
QStringList dropFiles() {
    static QStringList paths = [] {
        const QString dir = corpusDir() + QStringLiteral("/drop");
        const QByteArray body = mp3Body();
        QStringList made;
        for (int f = 0; f < kDropFolders; ++f) {
            const QString folder = dir + QString::asprintf("/%04d", f);
            QDir().mkpath(folder);
            for (int i = 0; i < kDropPerFolder; ++i) {
                const QString path = folder + QString::asprintf("/%02d - track.mp3", i);
                if (!QFile::exists(path)) {
                    QFile file(path);
                    if (!file.open(QIODevice::WriteOnly) ||
                        file.write(tagFor(f * kDropPerFolder + i, {}) + body) < 0)
                        qFatal("cannot write %s", qPrintable(path));
                }
                made << path;
            }
        }
        warm(made);
        return made;
    }();
    return paths;
}

qsizetype savedEntries() {
    QStringList list;
    try {
        LoadListFile(QStringLiteral("patch.dat"), list);
    } catch (const std::exception&) {
        return -1;
    }
    return list.size();
}

// Runs `start` on a shown main window in a fresh folder, then the event loop until "patch.dat"
// holds `expected` entries (at most a minute). The window is asked to repaint every 20 ms
// meanwhile; reported: the longest it went without a paint.
template <typename F> void untilSaved(benchmark::State& state, qsizetype expected, F start) {
    double longest = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir work;
        QDir::setCurrent(work.path());
        SaveListFile(QStringLiteral("patch.dat"), {});
        TfrmIndex window;
        window.show();
        QCoreApplication::processEvents();
        QElapsedTimer sincePaint;
        struct PaintClock : QObject {
            QElapsedTimer* since = nullptr;
            double* longest = nullptr;
            bool eventFilter(QObject*, QEvent* e) override {
                if (e->type() == QEvent::Paint) {
                    *longest = std::max(*longest, since->nsecsElapsed() / 1e6);
                    since->restart();
                }
                return false;
            }
        } clock;
        clock.since = &sincePaint;
        clock.longest = &longest;
        QTimer repaint;
        QObject::connect(&repaint, &QTimer::timeout, &window, [&window] { window.update(); });
        state.ResumeTiming();
        sincePaint.start();
        window.installEventFilter(&clock);
        repaint.start(20);
        if (!start(window)) {
            state.SkipWithError("main takes no drops: nothing to measure");
            break;
        }
        QElapsedTimer waited;
        waited.start();
        while (savedEntries() != expected && waited.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        // the stretch since the last paint counts too, also when no paint came at all
        longest = std::max(longest, sincePaint.nsecsElapsed() / 1e6);
        const bool saved = savedEntries() == expected;
        if (saved)
            state.PauseTiming();
        window.removeEventFilter(&clock);
        repaint.stop();
        window.Player->Close();
        if (!saved) {
            state.SkipWithError("patch.dat did not get the files within a minute");
            break;
        }
        state.ResumeTiming();
    }
    state.counters["longest_without_paint_ms"] = longest;
}

// 20,000 files dropped on the main window, as a file manager drops them.
void Drop20000(benchmark::State& state) {
    const QStringList files = dropFiles();
    QByteArray uris;
    for (const QString& f : files)
        uris += QUrl::fromLocalFile(f).toEncoded() + "\r\n";
    untilSaved(state, files.size(), [&uris](TfrmIndex& window) {
        QMimeData data;
        data.setData(QStringLiteral("text/uri-list"), uris);
        const QPointF at(267, 120);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&window, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&window, &drop);
        return true;
    });
}
BENCHMARK(Drop20000)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->UseRealTime();

// The same 20,000 files handed over as "ondrix FILE..." in the folder hands them to the player.
void HandOver20000(benchmark::State& state) {
    const QStringList files = dropFiles();
    untilSaved(state, files.size(), [&files](TfrmIndex& window) {
        auto* control = new MainWindowControl(window, &window);
        control->OpenFiles(files);
        return true;
    });
}
BENCHMARK(HandOver20000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseRealTime();

// The hand-over's reload of "patch.dat" into the playback list.
void HandOverReload(benchmark::State& state) {
    setup();
    for (auto _ : state) {
        QStringList list;
        LoadListFile(QStringLiteral("patch.dat"), list);
        if (list.size() != kFiles)
            state.SkipWithError("short list");
        benchmark::DoNotOptimize(list);
    }
}
BENCHMARK(HandOverReload)->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(5);

// "PLAYLIST" clicked, the editor closed as soon as it runs, then the hand-over: what the user
// waits for between the click and a main window that answers again, twice over.
void PlaylistRoundTrip(benchmark::State& state) {
    setup();
    TfrmIndex main;
    for (auto _ : state) {
        QTimer::singleShot(0, [] {
            if (auto* editor = qobject_cast<TfrmTracklist*>(QApplication::activeModalWidget()))
                editor->Label1Click();
        });
        TApplication::RunHandler([&main] { main.Label4Clic(); });
        if (main.PlayList.size() != kFiles)
            state.SkipWithError("short list");
    }
}
BENCHMARK(PlaylistRoundTrip)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(5);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("ONDRIX_AUDIO_OUTPUT"))
        qputenv("ONDRIX_AUDIO_OUTPUT", "null");
    TApplication app(argc, argv);
    SetUpFonts();
    TApplication::SetErrorBoxHook(
        [](const QString& text) { std::fprintf(stderr, "error box: %s\n", qPrintable(text)); });
    TdmData data;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// The playlist editor on a long list: opening it on a "patch.dat" of 10,000 tagged files (half of
// them with a 100 KB picture frame) until the list box holds every caption, the hand-over's
// reload of that list, and the whole PLAYLIST round trip (editor opened and closed at once, then
// the hand-over). The files are generated once into the build folder: one small MP3 body with
// an ID3v2.3 tag written in front of it byte by byte. The page cache is warmed before timing.
#include "app/Application.h"
#include "app/TrackCaption.h"
#include "app/dmData.h"
#include "app/frmIndex.h"
#include "app/frmTracklist.h"
#include "core/ListFile.h"
#include "tags/ID3v2Library.h"
#include "ui/Fonts.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

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
    const QString dir = qEnvironmentVariable("ONDRIX_EDITOR_CORPUS", ONDRIX_EDITOR_CORPUS_DEFAULT);
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
    return s;
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

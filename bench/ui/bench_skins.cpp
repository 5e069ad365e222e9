// Start-up cost of the skins: decoding each JPEG with our loader (Qt's own JPEG reader beside
// it for scale) and a window's first paint, which decodes, scales and draws the skin once.
#include "ui/JpegImage.h"
#include "ui/SkinnedForm.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <benchmark/benchmark.h>

namespace {

QByteArray resource(const char* name) {
    QFile f(QString::fromLatin1(name));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing resource %s", name);
    return f.readAll();
}

const char* const Skins[] = {":/skins/main.jpg", ":/skins/tracklist.jpg", ":/skins/about.jpg"};

void OurLoader(benchmark::State& state) {
    const QByteArray data = resource(Skins[state.range(0)]);
    state.SetLabel(Skins[state.range(0)]);
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeJpeg(data));
}
BENCHMARK(OurLoader)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void QtJpegPlugin(benchmark::State& state) {
    const QByteArray data = resource(Skins[state.range(0)]);
    state.SetLabel(Skins[state.range(0)]);
    for (auto _ : state) {
        QBuffer buffer;
        buffer.setData(data);
        QImageReader reader(&buffer, "jpeg");
        benchmark::DoNotOptimize(reader.read());
    }
}
BENCHMARK(QtJpegPlugin)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// Load, scale to 534 x 227 and paint the main panel into the window's backing image.
void MainWindowFirstPaint(benchmark::State& state) {
    for (auto _ : state) {
        SkinnedForm form(nullptr, Qt::Window);
        form.SetClientSize(534, 227);
        form.LoadSkin(QStringLiteral(":/skins/main.jpg"));
        benchmark::DoNotOptimize(form.grab());
    }
}
BENCHMARK(MainWindowFirstPaint)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Load and save of a "patch.dat" of 100,000 entries, warm cache.
#include "core/ListFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

QStringList entries(int n) {
    QStringList list;
    list.reserve(n);
    for (int i = 0; i < n; ++i)
        list << QStringLiteral("/home/listener/Hudba/Interpret %1/Album %2/%3 - Skladba č. %4.mp3")
                    .arg(i % 977)
                    .arg(i % 13)
                    .arg(i % 20 + 1, 2, 10, QLatin1Char('0'))
                    .arg(i);
    return list;
}

void BM_Load(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath("patch.dat");
    SaveListFile(path, entries(int(state.range(0))));
    for (auto _ : state) {
        QStringList list;
        LoadListFile(path, list);
        benchmark::DoNotOptimize(list);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Save(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath("patch.dat");
    const QStringList list = entries(int(state.range(0)));
    for (auto _ : state)
        SaveListFile(path, list);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

BENCHMARK(BM_Load)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();

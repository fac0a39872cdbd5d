// Cost of one frame of the dialog's plasma strip (346 x 11 pixels, four table look-ups and three
// additions per pixel), against a plain fill of the same 32-bit image in the same run, alone
// and with the copy onto a strip-sized canvas that showing the frame needs.
// The counter core_pct_at_25fps is the percentage of one core that 25 frames a second cost;
// the library prints it in its notation for inverted rates (6.6m means 0.0066 %).
//
// Run: ./build/bench/Plasma_bench --benchmark_min_time=0.5
#include "app/Plasma.h"

#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

using kairelon::MakePlasmaTable;
using kairelon::RenderPlasmaFrame;
using kairelon::TPlasmaPhases;
using kairelon::TPlasmaStrip;

namespace {

QImage NewBitmap() {
    return QImage(TPlasmaStrip::Width, TPlasmaStrip::Height, QImage::Format_RGB32);
}

// Percent of one core for 25 frames a second: 25 x 100 x (processor time per frame).
void CountCore(benchmark::State& state) {
    state.counters["core_pct_at_25fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()) / 2500.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_BaselineFill(benchmark::State& state) {
    QImage image = NewBitmap();
    unsigned value = 0;
    for (auto _ : state) {
        image.fill(value++);
        benchmark::DoNotOptimize(image.constBits());
    }
    CountCore(state);
}
BENCHMARK(BM_BaselineFill);

void BM_PlasmaFrame(benchmark::State& state) {
    QImage image = NewBitmap();
    const auto table = MakePlasmaTable();
    TPlasmaPhases phases;
    for (auto _ : state) {
        RenderPlasmaFrame(image, table, phases);
        benchmark::DoNotOptimize(image.constBits());
    }
    CountCore(state);
}
BENCHMARK(BM_PlasmaFrame);

void BM_BaselineFillAndCopy(benchmark::State& state) {
    QImage image = NewBitmap();
    QImage canvas(TPlasmaStrip::Width, TPlasmaStrip::Height, QImage::Format_ARGB32_Premultiplied);
    unsigned value = 0;
    for (auto _ : state) {
        image.fill(value++);
        QPainter painter(&canvas);
        painter.drawImage(0, 0, image);
        painter.end();
        benchmark::DoNotOptimize(canvas.constBits());
    }
    CountCore(state);
}
BENCHMARK(BM_BaselineFillAndCopy);

void BM_PlasmaFrameAndCopy(benchmark::State& state) {
    QImage image = NewBitmap();
    QImage canvas(TPlasmaStrip::Width, TPlasmaStrip::Height, QImage::Format_ARGB32_Premultiplied);
    const auto table = MakePlasmaTable();
    TPlasmaPhases phases;
    for (auto _ : state) {
        RenderPlasmaFrame(image, table, phases);
        QPainter painter(&canvas);
        painter.drawImage(0, 0, image);
        painter.end();
        benchmark::DoNotOptimize(canvas.constBits());
    }
    CountCore(state);
}
BENCHMARK(BM_PlasmaFrameAndCopy);

} // namespace

BENCHMARK_MAIN();

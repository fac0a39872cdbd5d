// The plasma strip: the wave table, the frames, the phases and the timer.
#include "app/Plasma.h"

#include "support/EventLoop.h"
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace kairelon {
namespace {

// The table as it must come out, worked out once by hand-checked arithmetic with 3.1415 (not
// pi): with the full value of pi, entries 64 and 139 would differ.
const int ExpectedTable[256] = {
    30, 30, 31, 32, 32, 33, 34, 35, 35, 36, 37, 38, 38, 39, 40, 40, 41, 42, 42, 43, 44, 44, 45, 46,
    46, 47, 47, 48, 49, 49, 50, 50, 51, 51, 52, 52, 53, 53, 54, 54, 54, 55, 55, 56, 56, 56, 57, 57,
    57, 57, 58, 58, 58, 58, 59, 59, 59, 59, 59, 59, 59, 59, 59, 59, 59, 59, 59, 59, 59, 59, 59, 59,
    59, 59, 59, 58, 58, 58, 58, 57, 57, 57, 57, 56, 56, 56, 55, 55, 54, 54, 54, 53, 53, 52, 52, 51,
    51, 50, 50, 49, 49, 48, 47, 47, 46, 46, 45, 44, 44, 43, 42, 42, 41, 40, 40, 39, 38, 38, 37, 36,
    35, 35, 34, 33, 32, 32, 31, 30, 30, 29, 28, 27, 27, 26, 25, 24, 24, 23, 22, 22, 21, 20, 19, 19,
    18, 17, 17, 16, 15, 15, 14, 13, 13, 12, 12, 11, 10, 10, 9,  9,  8,  8,  7,  7,  6,  6,  5,  5,
    5,  4,  4,  3,  3,  3,  2,  2,  2,  2,  1,  1,  1,  1,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  1,  1,  1,  1,  2,  2,  2,  2,  3,  3,  3,  4,  4,
    5,  5,  5,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10, 11, 12, 12, 13, 13, 14, 15, 15, 16, 17, 17,
    18, 19, 19, 20, 21, 21, 22, 23, 24, 24, 25, 26, 27, 27, 28, 29,
};

// A frame worked out pixel by pixel with plain integer arithmetic modulo 256.
std::uint32_t ReferencePixel(const TPlasmaPhases& p, int x, int y) {
    const int a = (p.P0 + 2 * y) % 256;
    const int b = (p.P1 + y) % 256;
    const int c = (p.P2 + x) % 256;
    const int d = (p.P3 + 2 * x) % 256;
    return static_cast<std::uint32_t>(ExpectedTable[a] + ExpectedTable[b] + ExpectedTable[c] +
                                      ExpectedTable[d]);
}

QImage NewBitmap() {
    QImage image(TPlasmaStrip::Width, TPlasmaStrip::Height, QImage::Format_RGB32);
    image.fill(0xdeadbeefu);
    return image;
}

TEST(PlasmaTable, EveryEntryIsTheTruncatedWaveWith3_1415) {
    const TPlasmaTable table = MakePlasmaTable();
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(table[static_cast<std::size_t>(i)], ExpectedTable[i]) << "entry " << i;
}

TEST(PlasmaTable, RangesFrom0To59) {
    const TPlasmaTable table = MakePlasmaTable();
    EXPECT_EQ(table[0], 30);
    EXPECT_EQ(table[64], 59);
    EXPECT_EQ(table[192], 0);
    EXPECT_EQ(*std::max_element(table.begin(), table.end()), 59);
    EXPECT_EQ(*std::min_element(table.begin(), table.end()), 0);
}

TEST(PlasmaFrame, FirstFrameTopLeftIsFourTimesEntry0) {
    const TPlasmaTable table = MakePlasmaTable();
    TPlasmaPhases phases;
    QImage image = NewBitmap();
    RenderPlasmaFrame(image, table, phases);
    EXPECT_EQ(image.pixel(0, 0) & 0xffffffu, 120u);
    EXPECT_EQ(reinterpret_cast<const std::uint32_t*>(image.constScanLine(0))[0], 120u);
}

TEST(PlasmaFrame, EveryPixelMatchesTheWaveSumForManyPhaseSettings) {
    const TPlasmaTable table = MakePlasmaTable();
    const TPlasmaPhases starts[] = {
        {0, 0, 0, 0},      {1, 2, 3, 4},       {255, 255, 255, 255}, {254, 1, 250, 7},
        {128, 64, 32, 16}, {17, 200, 99, 131}, {2, 252, 6, 248},     {100, 0, 200, 50},
    };
    for (const TPlasmaPhases& start : starts) {
        TPlasmaPhases phases = start;
        QImage image = NewBitmap();
        RenderPlasmaFrame(image, table, phases);
        int wrong = 0;
        for (int y = 0; y < image.height(); ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                wrong += row[x] != ReferencePixel(start, x, y);
        }
        EXPECT_EQ(wrong, 0) << "phases " << int(start.P0) << "," << int(start.P1) << ","
                            << int(start.P2) << "," << int(start.P3);
    }
}

TEST(PlasmaFrame, ValueSitsInTheBlueByteAndTheOtherBytesStayZero) {
    const TPlasmaTable table = MakePlasmaTable();
    TPlasmaPhases phases{0, 0, 64, 0}; // top-left = 30 + 30 + 59 + 30 = 149
    QImage image = NewBitmap();
    RenderPlasmaFrame(image, table, phases);
    const uchar* bytes = image.constScanLine(0);
    std::uint32_t pixel;
    std::memcpy(&pixel, bytes, 4);
    EXPECT_EQ(pixel, 149u);
    EXPECT_EQ(qBlue(image.pixel(0, 0)), 149);
    EXPECT_EQ(qGreen(image.pixel(0, 0)), 0);
    EXPECT_EQ(qRed(image.pixel(0, 0)), 0);
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            ASSERT_LE(row[x], 236u) << x << "," << y;
    }
}

TEST(PlasmaFrame, PhasesDriftByTwoMinusFourSixMinusEightAndWrap) {
    const TPlasmaTable table = MakePlasmaTable();
    TPlasmaPhases phases{255, 2, 253, 5};
    QImage image = NewBitmap();
    RenderPlasmaFrame(image, table, phases);
    EXPECT_EQ(phases.P0, 1);
    EXPECT_EQ(phases.P1, 254);
    EXPECT_EQ(phases.P2, 3);
    EXPECT_EQ(phases.P3, 253);
}

TEST(PlasmaFrame, After64FramesP0HasAdvancedBy128AndP3IsBackToZero) {
    const TPlasmaTable table = MakePlasmaTable();
    TPlasmaPhases phases;
    QImage image = NewBitmap();
    for (int i = 0; i < 64; ++i)
        RenderPlasmaFrame(image, table, phases);
    EXPECT_EQ(phases.P0, 128);
    EXPECT_EQ(phases.P1, 0);
    EXPECT_EQ(phases.P2, 128);
    EXPECT_EQ(phases.P3, 0);
    for (int i = 0; i < 32; ++i)
        RenderPlasmaFrame(image, table, phases);
    EXPECT_EQ(phases.P3, 0); // 32 frames per cycle
}

TEST(PlasmaStrip, Is346By11AndIdleUntilStarted) {
    TPlasmaPhases phases;
    TPlasmaStrip strip(nullptr, &phases);
    strip.InitPlasma();
    EXPECT_EQ(strip.size(), QSize(346, 11));
    EXPECT_EQ(strip.PlasmaBitmap().size(), QSize(346, 11));
    EXPECT_EQ(strip.PlasmaBitmap().depth(), 32);
    EXPECT_FALSE(strip.IsRunning());
    test::PumpFor(120);
    EXPECT_EQ(phases.P0, 0) << "no frame may be drawn before the dialog is shown";
}

TEST(PlasmaStrip, StartDrawsOneFrameAtOnceThenEvery40Ms) {
    TPlasmaPhases phases;
    TPlasmaStrip strip(nullptr, &phases);
    strip.InitPlasma();
    strip.Start();
    EXPECT_TRUE(strip.IsRunning());
    EXPECT_EQ(phases.P0, 2) << "one frame at the moment of showing";
    EXPECT_EQ(strip.PlasmaBitmap().pixel(0, 0) & 0xffffffu, 120u);
    QElapsedTimer clock;
    clock.start();
    test::PumpFor(420);
    const qint64 elapsed = clock.elapsed();
    const int frames = phases.P0 / 2 - 1;
    // About one frame per 40 ms; a loaded machine may lose some ticks but never gains any.
    EXPECT_GE(frames, 3);
    EXPECT_LE(frames, elapsed / 40 + 1);
    strip.Stop();
}

TEST(PlasmaStrip, StopFreezesTheFrameAndTheNextStartContinuesFromThere) {
    TPlasmaPhases phases;
    TPlasmaStrip strip(nullptr, &phases);
    strip.InitPlasma();
    strip.Start();
    test::PumpFor(100);
    strip.Stop();
    EXPECT_FALSE(strip.IsRunning());
    const TPlasmaPhases frozen = phases;
    const QImage last = strip.PlasmaBitmap().copy();
    test::PumpFor(150);
    EXPECT_EQ(phases.P0, frozen.P0);
    EXPECT_EQ(phases.P3, frozen.P3);
    EXPECT_EQ(strip.PlasmaBitmap(), last);
    strip.Start();
    EXPECT_EQ(phases.P0, static_cast<std::uint8_t>(frozen.P0 + 2));
    EXPECT_EQ(phases.P1, static_cast<std::uint8_t>(frozen.P1 - 4));
    EXPECT_EQ(strip.PlasmaBitmap().pixel(0, 0) & 0xffffffu, ReferencePixel(frozen, 0, 0));
    strip.Stop();
}

TEST(PlasmaStrip, TwoStripsShareTheProgramsPhases) {
    TPlasmaStrip first;
    TPlasmaStrip second;
    first.InitPlasma();
    second.InitPlasma();
    const std::uint8_t before = PlasmaPhases().P0;
    first.DrawPlasmaFrame();
    second.DrawPlasmaFrame();
    EXPECT_EQ(PlasmaPhases().P0, static_cast<std::uint8_t>(before + 4));
}

TEST(PlasmaStrip, PaintsTheFrameInBlue) {
    TPlasmaPhases phases;
    TPlasmaStrip strip(nullptr, &phases);
    strip.InitPlasma();
    strip.DrawPlasmaFrame();
    // Opaque on screen although the frame's fourth byte is 0.
    const QImage shown = strip.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(shown.size(), QSize(346, 11));
    for (int x : {0, 1, 50, 200, 345}) {
        const QRgb want = strip.PlasmaBitmap().pixel(x, 5);
        EXPECT_EQ(qBlue(shown.pixel(x, 5)), qBlue(want)) << x;
        EXPECT_EQ(qRed(shown.pixel(x, 5)), 0) << x;
        EXPECT_EQ(qGreen(shown.pixel(x, 5)), 0) << x;
        EXPECT_EQ(qAlpha(shown.pixel(x, 5)), 255) << x;
    }
}

} // namespace
} // namespace kairelon

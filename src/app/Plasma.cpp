#include "app/Plasma.h"

#include <QPainter>

#include <cmath>

namespace kairelon {

TPlasmaPhases& PlasmaPhases() {
    static TPlasmaPhases phases;
    return phases;
}

TPlasmaTable MakePlasmaTable() {
    TPlasmaTable table{};
    for (int i = 0; i < 256; ++i) {
        // The constant is 3.1415 on purpose, and the product is formed in this order, so the
        // table (and with it every frame) stays the same on every build.
        const double angle = i * 2.0 * 3.1415 * 0.00390625;
        table[static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(static_cast<int>((std::sin(angle) + 1.0) * 30.0));
    }
    return table;
}

void RenderPlasmaFrame(QImage& bitmap, const TPlasmaTable& table, TPlasmaPhases& phases) {
    std::uint8_t a = phases.P0;
    std::uint8_t b = phases.P1;
    const int width = bitmap.width();
    const int height = bitmap.height();
    for (int y = 0; y < height; ++y) {
        std::uint8_t c = phases.P2;
        std::uint8_t d = phases.P3;
        auto* row = reinterpret_cast<std::uint32_t*>(bitmap.scanLine(y));
        const std::uint32_t ab = std::uint32_t{table[a]} + table[b];
        for (int x = 0; x < width; ++x) {
            row[x] = ab + table[c] + table[d];
            c = static_cast<std::uint8_t>(c + 1);
            d = static_cast<std::uint8_t>(d + 2);
        }
        a = static_cast<std::uint8_t>(a + 2);
        b = static_cast<std::uint8_t>(b + 1);
    }
    phases.P0 = static_cast<std::uint8_t>(phases.P0 + 2);
    phases.P1 = static_cast<std::uint8_t>(phases.P1 - 4);
    phases.P2 = static_cast<std::uint8_t>(phases.P2 + 6);
    phases.P3 = static_cast<std::uint8_t>(phases.P3 - 8);
}

TPlasmaStrip::TPlasmaStrip(QWidget* parent, TPlasmaPhases* phases)
    : QWidget(parent), Phases(phases ? phases : &PlasmaPhases()) {
    setFixedSize(Width, Height);
    setAttribute(Qt::WA_OpaquePaintEvent);
    tPlasma.setInterval(IntervalMs);
    tPlasma.setTimerType(Qt::PreciseTimer);
    connect(&tPlasma, &QTimer::timeout, this, &TPlasmaStrip::tPlasmaTimer);
}

void TPlasmaStrip::InitPlasma() {
    // 32 bits per pixel; the fourth byte of each pixel is not used and stays 0.
    PlasmaBitmap_ = QImage(Width, Height, QImage::Format_RGB32);
    PlasmaBitmap_.fill(0u);
    PlasmaTable_ = MakePlasmaTable();
}

void TPlasmaStrip::DrawPlasmaFrame() {
    if (PlasmaBitmap_.isNull())
        InitPlasma();
    RenderPlasmaFrame(PlasmaBitmap_, PlasmaTable_, *Phases);
    update();
}

void TPlasmaStrip::Start() {
    DrawPlasmaFrame();
    tPlasma.start();
}

void TPlasmaStrip::Stop() {
    tPlasma.stop();
}

void TPlasmaStrip::tPlasmaTimer() {
    DrawPlasmaFrame();
}

void TPlasmaStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (PlasmaBitmap_.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.drawImage(0, 0, PlasmaBitmap_);
}

} // namespace kairelon

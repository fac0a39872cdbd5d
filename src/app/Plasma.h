// The activity animation of the options dialog: a moving plasma strip in shades of blue.
//
// The pattern is the sum of four waves read from one 256-entry table (`PlasmaTable`) with four
// 8-bit phase counters that drift at different speeds. `InitPlasma` fills the table (the only
// floating-point work) and sizes the frame buffer; `DrawPlasmaFrame` renders one frame with
// table look-ups and byte additions only, advances the phases and shows the frame.
// `TPlasmaStrip` is the 346 x 11 strip widget `imgPlasma` with its 40 ms timer `tPlasma`: it
// animates only between `Start` (the dialog is shown) and `Stop` (the dialog is hidden).
//
// The phases are one set for the whole program, kept across hiding and showing, so the
// pattern continues where it stopped.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>

namespace kairelon {

using TPlasmaTable = std::array<std::uint8_t, 256>;

// The four phase counters; all arithmetic on them wraps modulo 256.
struct TPlasmaPhases {
    std::uint8_t P0 = 0;
    std::uint8_t P1 = 0;
    std::uint8_t P2 = 0;
    std::uint8_t P3 = 0;
};

// The program's one set of phases, all 0 at start.
TPlasmaPhases& PlasmaPhases();

// Entry i = trunc((sin(i * 2 * 3.1415 / 256) + 1) * 30): values 0 to 59.
TPlasmaTable MakePlasmaTable();

// Renders one frame into `bitmap` (32 bits per pixel; the value 0..236 in the low byte, which
// is blue, the other three bytes 0) and advances the phases. No floating-point work.
void RenderPlasmaFrame(QImage& bitmap, const TPlasmaTable& table, TPlasmaPhases& phases);

class TPlasmaStrip : public QWidget {
    Q_OBJECT
public:
    static constexpr int Width = 346; // pixels
    static constexpr int Height = 11; // pixels
    static constexpr int IntervalMs = 40;

    // `phases` defaults to the program's set; tests give their own.
    explicit TPlasmaStrip(QWidget* parent = nullptr, TPlasmaPhases* phases = nullptr);

    // The frame buffer and the table; called once before the first frame.
    void InitPlasma();
    // One frame now, shown at once.
    void DrawPlasmaFrame();
    // The dialog was shown: one frame at once, then one every 40 ms.
    void Start();
    // The dialog was hidden: the timer stops; the last frame stays.
    void Stop();

    bool IsRunning() const { return tPlasma.isActive(); }
    const QImage& PlasmaBitmap() const { return PlasmaBitmap_; }
    const TPlasmaTable& PlasmaTable() const { return PlasmaTable_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void tPlasmaTimer();

    QTimer tPlasma;
    QImage PlasmaBitmap_;
    TPlasmaTable PlasmaTable_{};
    TPlasmaPhases* Phases;
};

} // namespace kairelon

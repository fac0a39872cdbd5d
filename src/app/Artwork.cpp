#include "app/Artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

// Resources of a static library must be registered by name, outside any namespace.
static void InitArtworkResources() {
    Q_INIT_RESOURCE(resources);
}

namespace kairelon {
namespace {

void EnsureResources() {
    static const bool done = (InitArtworkResources(), true);
    (void)done;
}

// A clock face centred at `centre` with radius `r`, hands at ten past ten.
void PaintClockFace(QPainter& painter, QPointF centre, qreal r) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x16, 0x33, 0x7a));
    painter.drawEllipse(centre, r, r);
    painter.setBrush(QColor(0x3f, 0x7f, 0xd6));
    painter.drawEllipse(centre, r * 0.83, r * 0.83);
    painter.setBrush(Qt::white);
    painter.drawEllipse(centre, r * 0.73, r * 0.73);
    QPen mark(QColor(0x3f, 0x7f, 0xd6), r * 0.08, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(mark);
    for (int i = 0; i < 12; ++i) {
        painter.save();
        painter.translate(centre);
        painter.rotate(i * 30.0);
        painter.drawLine(QPointF(0, -r * 0.64), QPointF(0, -r * (i % 3 == 0 ? 0.5 : 0.57)));
        painter.restore();
    }
    painter.setPen(QPen(QColor(0x14, 0x14, 0x14), r * 0.1, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(centre, centre + QPointF(r * 0.3, -r * 0.18));
    painter.setPen(QPen(QColor(0x14, 0x14, 0x14), r * 0.07, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(centre, centre + QPointF(-r * 0.38, -r * 0.42));
    painter.setPen(QPen(QColor(0xd4, 0x2a, 0x1e), r * 0.03, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(centre, centre + QPointF(r * 0.1, r * 0.58));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xd4, 0x2a, 0x1e));
    painter.drawEllipse(centre, r * 0.07, r * 0.07);
}

QFont PictureFont(int pixelSize, int weight) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}

} // namespace

QImage TnaIcon16() {
    EnsureResources();
    return QImage(QStringLiteral(":/kairelon/TNA_ICON_1.xpm"));
}

QIcon ProgramIcon() {
    EnsureResources();
    QIcon icon(QStringLiteral(":/kairelon/TNA_ICON_1.svg"));
    const QImage small = TnaIcon16();
    if (!small.isNull())
        icon.addPixmap(QPixmap::fromImage(small));
    return icon;
}

QIcon MenuImage(int index) {
    static const char* const names[MenuImageCount] = {"sync", "info", "quit", "options", "help"};
    if (index < 0 || index >= MenuImageCount)
        return QIcon();
    EnsureResources();
    return QIcon(QStringLiteral(":/kairelon/icons/menu-%1.svg").arg(QLatin1String(names[index])));
}

QImage BuiltInSplashPicture() {
    QImage image(348, 212, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // A night-blue glow behind the clock, then the name and what the program does.
    QRadialGradient glow(QPointF(74, 96), 110);
    glow.setColorAt(0, QColor(0x1c, 0x3c, 0x8c));
    glow.setColorAt(1, Qt::black);
    painter.fillRect(image.rect(), glow);
    PaintClockFace(painter, QPointF(74, 96), 52);

    painter.setPen(Qt::white);
    painter.setFont(PictureFont(34, QFont::Bold));
    painter.drawText(QRectF(140, 52, 200, 44), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Kairelon"));
    painter.setPen(QColor(0x9c, 0xc0, 0xf4));
    painter.setFont(PictureFont(13, QFont::Normal));
    painter.drawText(QRectF(142, 98, 200, 40), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                     QString::fromUtf8("Die Uhr Ihres Rechners,\nstets auf die Sekunde genau"));

    // The blue strip along the bottom echoes the dialog's activity strip.
    QLinearGradient strip(0, 0, 348, 0);
    strip.setColorAt(0, QColor(0, 0, 0x30));
    strip.setColorAt(0.5, QColor(0, 0, 0xec));
    strip.setColorAt(1, QColor(0, 0, 0x30));
    painter.fillRect(QRectF(0, 176, 348, 6), strip);
    painter.setPen(QColor(0x80, 0x80, 0x80));
    painter.setFont(PictureFont(11, QFont::Normal));
    painter.drawText(QRectF(0, 186, 340, 20), Qt::AlignRight | Qt::AlignVCenter,
                     QString::fromUtf8("Quarnel Developments · Version " KAIRELON_VERSION));
    return image;
}

QImage InfoBanner() {
    QImage image(320, 30, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient band(0, 0, 320, 0);
    band.setColorAt(0, QColor(0x16, 0x33, 0x7a));
    band.setColorAt(1, QColor(0x3f, 0x7f, 0xd6));
    painter.fillRect(image.rect(), band);
    PaintClockFace(painter, QPointF(16, 15), 12);
    painter.setPen(Qt::white);
    painter.setFont(PictureFont(17, QFont::Bold));
    painter.drawText(QRectF(36, 0, 280, 30), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Kairelon"));
    return image;
}

} // namespace kairelon

// Renders the splash, the info window, a plasma frame and the icons to PNG files under the
// offscreen platform, so a person can look at them: build/screens/ (or $KAIRELON_RENDER_DIR).
// Each picture is also checked for the basics that a glance would catch: the right size and
// not a blank area.
#include "app/Artwork.h"
#include "app/InfoWindow.h"
#include "app/Plasma.h"
#include "app/Splash.h"

#include <QDir>
#include <QPainter>
#include <QSet>
#include <gtest/gtest.h>

#include <cstdlib>

namespace kairelon {
namespace {

QString RenderDir() {
    const char* dir = std::getenv("KAIRELON_RENDER_DIR");
    const QString path =
        dir && *dir ? QString::fromLocal8Bit(dir) : QStringLiteral(KAIRELON_BUILD_DIR "/screens");
    QDir().mkpath(path);
    return path;
}

int DistinctColours(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    return static_cast<int>(colours.size());
}

void Save(const QImage& image, const char* name) {
    const QString path = RenderDir() + QLatin1Char('/') + QLatin1String(name);
    EXPECT_TRUE(image.save(path)) << path.toStdString();
}

TEST(Render, Splash) {
    TfrmSplash splash;
    splash.PrepareSplash("/nonexistent/morwick.dll");
    const QImage image = splash.grab().toImage();
    EXPECT_EQ(image.size(), QSize(348, 212));
    EXPECT_GT(DistinctColours(image), 20);
    Save(image, "splash.png");
}

TEST(Render, InfoWindow) {
    TfrmInfo info;
    const QImage image = info.grab().toImage();
    EXPECT_EQ(image.size(), QSize(336, 252));
    EXPECT_GT(DistinctColours(image), 10);
    Save(image, "info.png");
}

TEST(Render, PlasmaFrame) {
    TPlasmaPhases phases{40, 80, 120, 160};
    TPlasmaStrip strip(nullptr, &phases);
    strip.InitPlasma();
    strip.DrawPlasmaFrame();
    const QImage image = strip.grab().toImage();
    EXPECT_EQ(image.size(), QSize(346, 11));
    EXPECT_GT(DistinctColours(image), 20);
    Save(image, "plasma.png");
    Save(image.scaled(346 * 3, 11 * 3), "plasma-x3.png");
}

TEST(Render, IconsAndMenuImages) {
    const QImage tna = TnaIcon16();
    ASSERT_EQ(tna.size(), QSize(16, 16));
    Save(tna.scaled(128, 128), "tna-icon-16-x8.png");
    // A sheet: the program icon at 16, 22, 32, 48, 64 and the five menu images at 16 and 32.
    QImage sheet(360, 120, QImage::Format_ARGB32);
    sheet.fill(QColor(0xe0, 0xe0, 0xe0));
    QPainter painter(&sheet);
    const QIcon icon = ProgramIcon();
    int x = 4;
    for (int size : {16, 22, 32, 48, 64}) {
        const QPixmap pixmap = icon.pixmap(size, size);
        EXPECT_EQ(pixmap.size(), QSize(size, size));
        painter.drawPixmap(x, 4, pixmap);
        x += size + 8;
    }
    x = 4;
    for (int i = 0; i < MenuImageCount; ++i) {
        const QPixmap small = MenuImage(i).pixmap(16, 16);
        const QPixmap large = MenuImage(i).pixmap(32, 32);
        EXPECT_FALSE(small.isNull()) << i;
        EXPECT_GT(DistinctColours(large.toImage()), 2) << i;
        painter.drawPixmap(x, 76, small);
        painter.drawPixmap(x + 20, 76, large);
        x += 60;
    }
    painter.end();
    Save(sheet, "icons.png");
}

} // namespace
} // namespace kairelon

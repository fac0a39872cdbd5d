// The baseline of the tray benchmark (bench/tray-bench.sh): the smallest Qt Widgets program
// with a tray icon, a 16 x 16 picture and the tip "Kairelon", and nothing else. It prints one
// line when the icon is shown and runs until a signal ends it.
#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    {
        QPainter painter(&picture);
        painter.setBrush(QColor(0x3f, 0x7f, 0xd6));
        painter.drawEllipse(1, 1, 14, 14);
    }
    QSystemTrayIcon icon{QIcon(picture)};
    icon.setToolTip(QStringLiteral("Kairelon"));
    icon.show();
    std::printf("tray-baseline: icon shown\n");
    std::fflush(stdout);
    return app.exec();
}

// Build tool: writes the program's icon as a PNG of one size for the hicolor icon theme.
// Usage: kairelon-icon-png INPUT SIZE OUTPUT. An SVG input is drawn at SIZE x SIZE; any other
// picture (the 16 x 16 XPM drawn pixel by pixel) is written as it is when it has that size,
// and scaled smoothly otherwise. Uses the same SVG renderer as the program, so the installed
// icons look like the tray icon.
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    bool ok = false;
    const int size = args.size() == 4 ? args[2].toInt(&ok) : 0;
    if (!ok || size < 1 || size > 1024) {
        std::fprintf(stderr, "usage: kairelon-icon-png INPUT SIZE OUTPUT\n");
        return 64;
    }
    QImage out;
    if (args[1].endsWith(QStringLiteral(".svg"))) {
        QSvgRenderer svg(args[1]);
        if (!svg.isValid()) {
            std::fprintf(stderr, "kairelon-icon-png: cannot read %s\n", qPrintable(args[1]));
            return 1;
        }
        out = QImage(size, size, QImage::Format_ARGB32_Premultiplied);
        out.fill(Qt::transparent);
        QPainter painter(&out);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
    } else {
        QImage in(args[1]);
        if (in.isNull()) {
            std::fprintf(stderr, "kairelon-icon-png: cannot read %s\n", qPrintable(args[1]));
            return 1;
        }
        out = in.size() == QSize(size, size)
                  ? in
                  : in.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    if (!out.convertToFormat(QImage::Format_ARGB32).save(args[3], "PNG")) {
        std::fprintf(stderr, "kairelon-icon-png: cannot write %s\n", qPrintable(args[3]));
        return 1;
    }
    return 0;
}

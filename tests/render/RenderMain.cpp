// The render tool: draws every scene to a PNG file under the offscreen platform, in the
// dialog's font (Liberation Sans, 8 pt).
//
//   kairelon-render OUTPUT_FOLDER [NAME...]   renders all scenes, or the named ones
//   kairelon-render --list                    names the scenes
#include "Scenes.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QLayout>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>
#include <set>

namespace kairelon::render {

std::vector<Scene>& Scenes() {
    static std::vector<Scene> scenes;
    return scenes;
}

std::unique_ptr<QWidget> Panel(int width) {
    auto panel = std::make_unique<QWidget>();
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, QColor(0xf0, 0xf0, 0xf0));
    panel->setPalette(palette);
    panel->setFixedWidth(width);
    return panel;
}

} // namespace kairelon::render

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSize(8);
    QApplication::setFont(font);

    const QStringList args = QApplication::arguments().mid(1);
    auto& scenes = kairelon::render::Scenes();
    if (args.value(0) == QLatin1String("--list")) {
        for (const auto& scene : scenes) {
            std::printf("%s\n", scene.name.c_str());
        }
        return 0;
    }
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: kairelon-render OUTPUT_FOLDER [NAME...] | --list\n");
        return 2;
    }
    if (!QFontInfo(font).family().startsWith(QLatin1String("Liberation Sans"))) {
        std::fprintf(stderr, "kairelon-render: Liberation Sans is missing (fonts-liberation)\n");
        return 1;
    }
    const QDir out(args[0]);
    QDir().mkpath(out.path());
    const std::set<QString> wanted(args.begin() + 1, args.end());
    int rendered = 0;
    for (const auto& scene : scenes) {
        const QString name = QString::fromStdString(scene.name);
        if (!wanted.empty() && !wanted.count(name)) {
            continue;
        }
        std::unique_ptr<QWidget> widget = scene.make();
        widget->adjustSize();
        // Wrapping texts: the height that the width finally given needs.
        if (QLayout* layout = widget->layout(); layout && layout->hasHeightForWidth()) {
            widget->resize(widget->width(), layout->totalHeightForWidth(widget->width()));
        }
        widget->show();
        QApplication::processEvents();
        const QString file = out.filePath(name + QStringLiteral(".png"));
        if (!widget->grab().save(file)) {
            std::fprintf(stderr, "kairelon-render: cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
        ++rendered;
    }
    if (rendered == 0) {
        std::fprintf(stderr, "kairelon-render: no scene rendered\n");
        return 1;
    }
    return 0;
}

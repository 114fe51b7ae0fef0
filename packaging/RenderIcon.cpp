// Build step of the installation: renders the program's icon into PNG files for the icon theme.
//   quarvel-render-icon SIZE OUTPUT.png
#include "QuarvelIcons.h"

#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>

int main(int argc, char **argv)
{
    // Drawing needs no screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    bool ok = false;
    const int size = args.size() == 3 ? args.at(1).toInt(&ok) : 0;
    if (!ok || size <= 0) {
        std::fprintf(stderr, "Aufruf: quarvel-render-icon GRÖSSE DATEI.png\n");
        return 2;
    }
    const QPixmap icon = RenderSvg(QStringLiteral(":/icons/program.svg"), QSize(size, size));
    if (icon.isNull() || !icon.save(args.at(2), "PNG")) {
        std::fprintf(stderr, "Das Symbol kann nicht nach %s geschrieben werden.\n", qPrintable(args.at(2)));
        return 1;
    }
    return 0;
}

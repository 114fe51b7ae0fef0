#include "QuarvelIcons.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

// A static library's resources are registered only when something refers to them. Outside any
// namespace: the macro declares the registration function where it stands.
static void EnsureResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    (void)registered;
}

namespace {

// The sizes tray hosts, menus, lists and window decorations ask for; QIcon scales between them.
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128};

QIcon SvgIcon(const QString &path)
{
    EnsureResources();
    QIcon icon;
    for (const int size : kIconSizes) {
        const QPixmap pixmap = RenderSvg(path, QSize(size, size));
        if (pixmap.isNull())
            return {};
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

QPixmap RenderSvg(const QString &path, const QSize &size)
{
    EnsureResources();
    if (size.isEmpty() || !QFile::exists(path))
        return {};
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return {};
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    return pixmap;
}

QIcon ProgramIcon()
{
    return SvgIcon(QStringLiteral(":/icons/program.svg"));
}

QIcon ToolIcon(const QString &themeName, const QString &own)
{
    return QIcon::fromTheme(themeName, SvgIcon(QStringLiteral(":/icons/tool-%1.svg").arg(own)));
}

QIcon MailIcon(const QString &name)
{
    if (name != QLatin1String("WMAIL1") && name != QLatin1String("WMAIL2") && name != QLatin1String("WMAILBLANK"))
        return {};
    return SvgIcon(QStringLiteral(":/icons/%1.svg").arg(name));
}

QList<QIcon> ListImages()
{
    QList<QIcon> images(10);
    for (const int index :
         {liMessage, liWorking, liFinished, liFailed, liSortAscending, liSortDescending, liSpam, liFilter})
        images[index] = SvgIcon(QStringLiteral(":/icons/list-%1.svg").arg(index));
    return images;
}

QPixmap OnlineLamp(bool online, qreal devicePixelRatio)
{
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const int side = qRound(13 * ratio);
    QPixmap pixmap = RenderSvg(online ? QStringLiteral(":/icons/lamp-online.svg")
                                      : QStringLiteral(":/icons/lamp-offline.svg"),
                               QSize(side, side));
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

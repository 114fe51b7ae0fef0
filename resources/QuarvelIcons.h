#pragma once
// The program's pictures, drawn as SVG and compiled into the program: the program icon, the mail tray
// icon's images, the image list shared by all lists, and the online lamp of the status bar.
#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QSize>
#include <QString>

// Indices into ListImages(). 4 and 5 are unused and empty.
enum TListImage {
    liMessage = 0,        // an ordinary message
    liWorking = 1,        // work in progress (a line of the progress windows)
    liFinished = 2,       // finished
    liFailed = 3,         // failed
    liSortAscending = 6,  // title of a column sorted ascending
    liSortDescending = 7, // title of a column sorted descending
    liSpam = 8,           // a message marked as spam
    liFilter = 9,         // a spam rule
};

// The program's icon (tray, windows, the wait window).
QIcon ProgramIcon();

// The mail tray icon's images by their names: "WMAIL1" (normal), "WMAIL2" (the pulse of the
// animation) and "WMAILBLANK" (the envelope without its badge). A null icon for any other name.
QIcon MailIcon(const QString &name);

// A toolbar command's picture: the desktop's icon theme's image of that name (freedesktop names such as
// "mail-receive", "edit-delete") when the theme has one, otherwise the program's own picture
// ":/icons/tool-<own>.svg". A null icon when neither exists.
QIcon ToolIcon(const QString &themeName, const QString &own);

// The image list of the lists, indexed by TListImage; indices 4 and 5 hold null icons.
QList<QIcon> ListImages();

// The status bar's online lamp, 13 x 13 logical pixels: lit when online, grey when not.
QPixmap OnlineLamp(bool online, qreal devicePixelRatio = 1.0);

// Renders an SVG file (usually a resource path) into a transparent pixmap of the given size in
// device pixels; a null pixmap when the file is missing or not a valid SVG.
QPixmap RenderSvg(const QString &path, const QSize &size);

#include "WindowThread.h"

#include <QCoreApplication>
#include <QThread>

namespace platform {

bool OnWindowThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread() && app->inherits("QGuiApplication");
}

QString WindowThreadWaitText()
{
    return QStringLiteral("Interner Fehler: Auf eine Antwort des Servers darf nicht im Fenster gewartet werden.");
}

} // namespace platform

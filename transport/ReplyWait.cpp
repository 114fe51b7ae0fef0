#include "ReplyWait.h"

#include <QEventLoop>
#include <QNetworkReply>
#include <QTimer>

bool WaitForReply(QNetworkReply *reply, int timeoutMs)
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    bool timedOut = false;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reply->abort();
        loop.quit();
    });
    timer.start(timeoutMs);
    if (!reply->isFinished())
        loop.exec();
    timer.stop();
    return !timedOut;
}

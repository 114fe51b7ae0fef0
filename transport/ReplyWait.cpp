#include "ReplyWait.h"

#include <QEventLoop>
#include <QNetworkReply>
#include <QTimer>

namespace {

// How often a wait looks whether its job was cancelled.
constexpr int kCancelPollMs = 50;

} // namespace

bool WaitForReply(QNetworkReply *reply, int timeoutMs, const std::function<bool()> &cancelled)
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    bool givenUp = false;
    const auto giveUp = [&] {
        givenUp = true;
        reply->abort();
        loop.quit();
    };
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, giveUp);
    QTimer poll;
    if (cancelled) {
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (cancelled())
                giveUp();
        });
        poll.start(kCancelPollMs);
    }
    timer.start(timeoutMs);
    if (cancelled && cancelled() && !reply->isFinished())
        giveUp();
    else if (!reply->isFinished())
        loop.exec();
    timer.stop();
    poll.stop();
    return !givenUp;
}

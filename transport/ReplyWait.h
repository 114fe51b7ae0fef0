#pragma once
// The wait of a blocking HTTP request on a worker thread: the reply's own thread runs its events until
// the reply has finished or the time is up.
#include <functional>

class QNetworkReply;

// True when the reply finished within timeoutMs; otherwise it is aborted and the result is false. With
// cancelled, the wait looks at it now and then and aborts the reply as soon as it says so (false too).
bool WaitForReply(QNetworkReply *reply, int timeoutMs, const std::function<bool()> &cancelled = {});

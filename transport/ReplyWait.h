#pragma once
// The wait of a blocking HTTP request on a worker thread: the reply's own thread runs its events until
// the reply has finished or the time is up.
class QNetworkReply;

// True when the reply finished within timeoutMs; otherwise it is aborted and the result is false.
bool WaitForReply(QNetworkReply *reply, int timeoutMs);

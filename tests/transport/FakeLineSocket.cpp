#include "FakeLineSocket.h"

#include <QThread>

#include <algorithm>

namespace {

QString describe(const FakeLineSocket::Step &step)
{
    switch (step.kind) {
    case FakeLineSocket::Step::Server:
        return QStringLiteral("S: ") + QString::fromLatin1(step.text);
    case FakeLineSocket::Step::Client:
        return QStringLiteral("C: ") + QString::fromLatin1(step.text);
    case FakeLineSocket::Step::Drop:
        return QStringLiteral("-- drop");
    case FakeLineSocket::Step::LongLine:
        return QStringLiteral("S: <line of %1 octets>").arg(step.length);
    case FakeLineSocket::Step::Pause:
        return QStringLiteral("-- pause %1 ms").arg(step.length);
    case FakeLineSocket::Step::Refuse:
        return QStringLiteral("-- refuse: ") + QString::fromLatin1(step.text);
    case FakeLineSocket::Step::Accept:
        return QStringLiteral("-- accept");
    }
    return {};
}

} // namespace

void FakeLineSocket::play(std::initializer_list<Step> steps)
{
    for (const Step &step : steps)
        m_script.append(step);
}

void FakeLineSocket::play(const QList<Step> &steps)
{
    m_script.append(steps);
}

QStringList FakeLineSocket::unplayed() const
{
    QStringList result;
    for (const Step &step : m_script)
        result.append(describe(step));
    return result;
}

LineSocket::Status FakeLineSocket::fail(Status status, const QString &text)
{
    m_error = text;
    return status;
}

void FakeLineSocket::endConnection(const QString &why)
{
    m_connected = false;
    m_unread.clear();
    m_transcript.append(why);
    // What the server had still to say on this connection is lost with it.
    while (!m_script.isEmpty()
           && (m_script.first().kind == Step::Server || m_script.first().kind == Step::LongLine
               || m_script.first().kind == Step::Drop || m_script.first().kind == Step::Pause))
        m_script.removeFirst();
}

LineSocket::Status FakeLineSocket::connectToHost(const QString &host, quint16 port, int)
{
    return open(host, port, false);
}

LineSocket::Status FakeLineSocket::connectToHostEncrypted(const QString &host, quint16 port, int)
{
    return open(host, port, true);
}

LineSocket::Status FakeLineSocket::open(const QString &host, quint16 port, bool encrypted)
{
    if (m_connected)
        endConnection(QStringLiteral("-- close"));
    m_aborted = false;
    m_encrypted = false;
    m_partial.clear();
    if (!m_script.isEmpty() && m_script.first().kind == Step::Refuse) {
        const QString error = QString::fromLatin1(m_script.takeFirst().text);
        m_transcript.append(QStringLiteral("-- refused"));
        return fail(Status::Failed, error);
    }
    if (!m_script.isEmpty() && m_script.first().kind == Step::Accept)
        m_script.removeFirst();
    ++m_connects;
    m_connected = true;
    m_encrypted = encrypted;
    m_transcript.append(QStringLiteral("-- connect %1%2:%3").arg(encrypted ? QStringLiteral("tls ") : QString(), host).arg(port));
    return Status::Ok;
}

LineSocket::Status FakeLineSocket::startTls(int)
{
    if (m_aborted)
        return fail(Status::Aborted, QStringLiteral("fake: aborted"));
    if (!m_connected)
        return fail(Status::Closed, QStringLiteral("fake: not connected"));
    if (!m_script.isEmpty() && m_script.first().kind == Step::Refuse) {
        const QString error = QString::fromLatin1(m_script.takeFirst().text);
        endConnection(QStringLiteral("-- starttls refused"));
        return fail(Status::Failed, error);
    }
    m_transcript.append(QStringLiteral("-- starttls"));
    m_encrypted = true;
    return Status::Ok;
}

bool FakeLineSocket::canReadLine() const
{
    return isConnected() && (!m_unread.isEmpty() || !m_script.isEmpty())
        && (!m_unread.isEmpty()
            || m_script.first().kind == Step::Server || m_script.first().kind == Step::LongLine);
}

LineSocket::Status FakeLineSocket::nextServerLine(int timeoutMs)
{
    if (m_aborted)
        return fail(Status::Aborted, QStringLiteral("fake: aborted"));
    if (!m_connected)
        return fail(Status::Closed, QStringLiteral("fake: not connected"));
    int waited = 0;
    while (!m_script.isEmpty() && m_script.first().kind == Step::Pause) {
        Step &pause = m_script.first();
        const int allowed = std::max(timeoutMs - waited, 0);
        if (pause.length > allowed) {
            // As a real wait, this one ends only once its time-out has passed.
            QThread::msleep(ulong(allowed) + 1);
            pause.length -= allowed;
            m_transcript.append(QStringLiteral("-- paused %1 ms").arg(allowed));
            m_transcript.append(QStringLiteral("-- timeout"));
            return fail(Status::TimedOut, QStringLiteral("fake: read timed out"));
        }
        QThread::msleep(ulong(pause.length));
        waited += pause.length;
        m_transcript.append(QStringLiteral("-- paused %1 ms").arg(pause.length));
        m_script.removeFirst();
    }
    if (m_script.isEmpty() || m_script.first().kind == Step::Client || m_script.first().kind == Step::Refuse
        || m_script.first().kind == Step::Accept) {
        m_transcript.append(QStringLiteral("-- timeout"));
        return fail(Status::TimedOut, QStringLiteral("fake: read timed out"));
    }
    const Step step = m_script.takeFirst();
    if (step.kind == Step::Drop) {
        endConnection(QStringLiteral("-- dropped"));
        return fail(Status::Closed, QStringLiteral("fake: connection closed by the server"));
    }
    m_transcript.append(describe(step));
    m_unread = (step.kind == Step::LongLine ? QByteArray(step.length, 'x') : step.text) + "\r\n";
    return Status::Ok;
}

LineSocket::Status FakeLineSocket::beginRead(int timeoutMs)
{
    if (duringRead)
        duringRead();
    if (m_unread.isEmpty())
        return nextServerLine(timeoutMs);
    return m_aborted ? fail(Status::Aborted, QStringLiteral("fake: aborted")) : Status::Ok;
}

LineSocket::Status FakeLineSocket::readLine(QByteArray *line, int timeoutMs, int maxLength)
{
    line->clear();
    if (const Status status = beginRead(timeoutMs); status != Status::Ok)
        return status;
    // Every unread rest ends with the line end its server line was given.
    const qsizetype end = m_unread.indexOf('\n');
    QByteArray text = m_unread.left(end);
    if (text.endsWith('\r'))
        text.chop(1);
    m_unread.remove(0, end + 1);
    if (text.size() > maxLength)
        return fail(Status::TooLong, QStringLiteral("fake: line too long"));
    *line = text;
    return Status::Ok;
}

LineSocket::Status FakeLineSocket::readSome(QByteArray *data, qint64 maxCount, int timeoutMs)
{
    data->clear();
    if (const Status status = beginRead(timeoutMs); status != Status::Ok)
        return status;
    const qsizetype n = qsizetype(std::min<qint64>(std::max<qint64>(maxCount, 0), m_unread.size()));
    *data = m_unread.left(n);
    m_unread.remove(0, n);
    return Status::Ok;
}

LineSocket::Status FakeLineSocket::write(const QByteArray &data)
{
    if (m_aborted)
        return fail(Status::Aborted, QStringLiteral("fake: aborted"));
    if (!m_connected)
        return fail(Status::Closed, QStringLiteral("fake: not connected"));
    m_partial.append(data);
    for (qsizetype end = m_partial.indexOf('\n'); end >= 0; end = m_partial.indexOf('\n')) {
        QByteArray line = m_partial.left(end);
        m_partial.remove(0, end + 1);
        if (!line.endsWith('\r'))
            m_mismatches.append(QStringLiteral("line without CR LF: ") + QString::fromLatin1(line));
        else
            line.chop(1);
        m_written.append(line);
        m_transcript.append(QStringLiteral("C: ") + QString::fromLatin1(line));
        // Where the server reads ahead, the replies still due stay in front of this command.
        qsizetype at = 0;
        while (readsAhead && at < m_script.size()
               && (m_script.at(at).kind == Step::Server || m_script.at(at).kind == Step::LongLine
                   || m_script.at(at).kind == Step::Pause))
            ++at;
        if (at < m_script.size() && m_script.at(at).kind == Step::Client) {
            const QByteArray expected = m_script.takeAt(at).text;
            if (expected != line)
                m_mismatches.append(QStringLiteral("expected \"%1\", client wrote \"%2\"")
                                        .arg(QString::fromLatin1(expected), QString::fromLatin1(line)));
        } else if (readsAhead && at < m_script.size()
                   && (m_script.at(at).kind == Step::Drop || m_script.at(at).kind == Step::Accept
                       || m_script.at(at).kind == Step::Refuse)) {
            // The connection ends before the server reads this command.
        } else {
            m_mismatches.append(QStringLiteral("client wrote \"%1\" where the script has %2")
                                    .arg(QString::fromLatin1(line),
                                         m_script.isEmpty() ? QStringLiteral("nothing")
                                                            : describe(m_script.first())));
        }
    }
    return Status::Ok;
}

void FakeLineSocket::discardInput()
{
    // Input arrives in the fake only when it is read (but for the rest of a line read in part); what the
    // server still had to say goes at close.
    m_unread.clear();
}

void FakeLineSocket::close()
{
    if (m_connected)
        endConnection(QStringLiteral("-- close"));
}

void FakeLineSocket::abort()
{
    m_aborted = true;
    if (m_connected)
        endConnection(QStringLiteral("-- abort"));
}

#pragma once
// What the protocol fuzz targets share: a LineSocket that replays the fuzzer's input as everything the
// server says, and the worker's whole session over it.
#include "LineSocket.h"
#include "POP3Check.h"

#include <QSet>

#include <algorithm>

// Serves the input line by line, or as counted octets where the client asks for them; its end is the
// server closing the connection.
class ReplaySocket : public LineSocket {
public:
    explicit ReplaySocket(const QByteArray *input) : m_input(input) {}

    Status connectToHost(const QString &, quint16, int) override
    {
        m_connected = m_position < m_input->size();
        m_encrypted = false;
        return m_connected ? Status::Ok : Status::Failed;
    }
    // Encryption is taken as given: what is fuzzed is the dialogue around it.
    Status connectToHostEncrypted(const QString &host, quint16 port, int timeoutMs) override
    {
        const Status status = connectToHost(host, port, timeoutMs);
        m_encrypted = m_connected;
        return status;
    }
    Status startTls(int) override
    {
        m_encrypted = m_connected;
        return m_connected ? Status::Ok : Status::Closed;
    }
    bool isEncrypted() const override { return m_connected && m_encrypted; }
    void setTrustedCertificate(const QString &) override {}
    CertificateProblem certificateProblem() const override { return CertificateProblem(); }
    bool isConnected() const override { return m_connected; }
    bool canReadLine() const override { return m_connected && m_input->indexOf('\n', m_position) >= 0; }
    Status readLine(QByteArray *line, int, int maxLength) override
    {
        line->clear();
        if (!m_connected)
            return Status::Closed;
        const qsizetype end = m_input->indexOf('\n', m_position);
        if (end < 0) {
            m_connected = false;
            return Status::Closed;
        }
        QByteArray got = m_input->mid(m_position, end - m_position);
        m_position = end + 1;
        if (got.endsWith('\r'))
            got.chop(1);
        if (got.size() > maxLength)
            return Status::TooLong;
        *line = got;
        return Status::Ok;
    }
    Status readSome(QByteArray *data, qint64 maxCount, int) override
    {
        data->clear();
        if (!m_connected)
            return Status::Closed;
        if (m_position >= m_input->size()) {
            m_connected = false;
            return Status::Closed;
        }
        *data = m_input->mid(m_position, qsizetype(std::min<qint64>(maxCount, m_input->size() - m_position)));
        m_position += data->size();
        return Status::Ok;
    }
    Status write(const QByteArray &) override { return m_connected ? Status::Ok : Status::Closed; }
    void discardInput() override {}
    void close() override { m_connected = false; }
    void abort() override { m_connected = false; }
    QString errorString() const override { return QStringLiteral("replay"); }

private:
    const QByteArray *m_input;
    qsizetype m_position = 0;
    bool m_connected = false;
    bool m_encrypted = false;
};

// Keeps every copy in memory, each at most once.
struct ReplayCopies : IRemovalCopies {
    bool Wanted(int index) const override { return !kept.contains(index); }
    bool Keep(int index, const QByteArray &, QString *) override
    {
        kept.insert(index);
        return true;
    }
    QSet<int> kept;
};

// The worker's scan of account's mailbox, the text fetch of the first message read and the removal of
// all of them with their identity checks (now and then with copies taken before), every connection
// replaying input from its start.
inline void ReplayWorkerSession(const QByteArray &input, const TPOP3AccountSettings &account, bool withCopies = false)
{
    TPop3Options options;
    options.SocketFactory = [&input] { return std::make_unique<ReplaySocket>(&input); };
    options.Wait = [](int) {};
    TPop3Thread worker(nullptr, options);
    QList<TMailEntry *> entries;
    bool fatal = false;
    int code = 0;
    QString error;
    worker.FetchHeaders(account, entries, fatal, code, error);
    if (!entries.isEmpty()) {
        TMailEntry &first = *entries.first();
        worker.FetchText(account, first, true, fatal, code, error);
        ReplayCopies copies;
        worker.Session(account).RemoveMessages(account, entries, withCopies ? &copies : nullptr);
        bool unconfirmed = false;
        worker.Session(account).EndSession(error, &unconfirmed);
    }
    qDeleteAll(entries);
}

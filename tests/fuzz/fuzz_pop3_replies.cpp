// libFuzzer target: any bytes as everything a POP3 server says, one line per LF. A whole session (login
// either way, with or without STLS, STAT, TOP, LIST, UIDL, RETR, DELE, NOOP, a batch of commands sent
// ahead, QUIT) must end without a crash, a hang or an unbounded allocation, whatever the replies are; and
// so must the worker's scan of a mailbox, the text fetch of the first message read and the deletion of
// all of them, with their identity checks, replayed from the start.
#include "LineSocket.h"
#include "POP3Check.h"
#include "Pop3Client.h"

#include <QMap>

#include <cstddef>
#include <cstdint>

namespace {

// Serves the input line by line; its end is the server closing the connection.
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    Pop3Client client([&input] { return std::make_unique<ReplaySocket>(&input); });
    client.setAuthKind(data[0] & 1 ? Pop3Client::AuthKind::Apop : Pop3Client::AuthKind::UserPass);
    client.setUserName(QStringLiteral("user"));
    client.setPassword(QStringLiteral("secret"));
    client.setMaxLineLength(data[0] & 2 ? 64 : Pop3Client::kDefaultMaxLineLength);
    client.setMaxReplySize(1024 * 1024);
    client.setSecurity(data[0] & 4 ? Pop3Client::Security::StartTls : Pop3Client::Security::None);

    client.connect();
    int count = 0;
    qint64 octets = 0;
    client.stat(&count, &octets);
    QByteArray text;
    client.top(1, 0, &text);
    client.list(1, &octets);
    QMap<int, QByteArray> uids;
    client.uidl(&uids);
    QMap<int, qint64> sizes;
    client.list(&sizes);
    int sent = 0;
    client.batch(
        [&sent](Pop3Client::BatchCommand *command) {
            if (sent == 3)
                return false;
            *command = {sent % 2 ? "DELE " + QByteArray::number(sent) : "TOP " + QByteArray::number(sent) + " 0",
                        sent % 2 == 0};
            ++sent;
            return true;
        },
        [](const Pop3Client::BatchCommand &, Pop3Client::BatchReply &) { return true; });
    client.uidl(1, &text);
    client.retr(1, &text);
    client.dele(1);
    client.noop();
    client.quit();
    (void)client.lastReplyCode();
    (void)client.capabilities();

    TPop3Options options;
    options.SocketFactory = [&input] { return std::make_unique<ReplaySocket>(&input); };
    options.Wait = [](int) {};
    TPop3Thread worker(nullptr, options);
    TPOP3AccountSettings account;
    account.ServerName = QStringLiteral("pop.example.test");
    account.AccountName = QStringLiteral("user");
    account.Password = QStringLiteral("secret");
    account.UseAPOP = data[0] & 1;
    QList<TMailEntry *> entries;
    bool fatal = false;
    int code = 0;
    QString error;
    worker.FetchHeaders(account, entries, fatal, code, error);
    if (!entries.isEmpty()) {
        TMailEntry &first = *entries.first();
        worker.FetchText(account, first, true, fatal, code, error);
        worker.Session(account).RemoveMessages(account, entries);
        worker.Session(account).EndSession(error);
    }
    qDeleteAll(entries);
    return 0;
}

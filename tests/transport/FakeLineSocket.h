#pragma once
// A LineSocket that plays a conversation instead of opening a port. The test writes the script up front,
// both sides in order:
//
//     fake->play({S("+OK ready"), C("CAPA"), S("-ERR no"), C("USER bob"), S("+OK"), ...});
//
// S lines are what the server sends, C lines what the client must write at that point. The fake checks
// every written line against the script (mismatches() lists the differences) and records both sides in
// transcript(). Where the script expects the client to write but the client reads, the server is silent:
// the read times out at once (no real waiting). Drop() ends the connection, LongLine() sends a line of that
// many octets, Pause() keeps the server silent for that many milliseconds of real time (a read whose
// time-out is shorter waits out its time-out and fails; the rest of the pause is still to come), Refuse()
// makes the next connect (or TLS start) fail, Accept() marks where a later connection begins. A TLS start
// is marked in the transcript and always succeeds otherwise: the fake has no certificates, so what the
// client does after an encrypted connection is what it tests. When
// the client closes or aborts, the server lines it has not read yet are gone with the connection, as on a
// real one (up to the next Accept()).
//
// A server line goes out as its octets and CR LF. A client that reads counted octets (readSome, as for an
// IMAP literal) gets at most the rest of one script line per read, so a literal spread over several
// lines arrives in several reads, and one that ends within a line leaves the rest of that line for the
// next read.
//
// By default the client must read every reply before it writes the next command. With readsAhead set,
// the server takes commands ahead as a pipelining one does: a line written while server lines are still
// due is matched against the next client line of the script after them (those server lines stay due, as
// replies already on their way); one written while the connection's end is due (a Drop, or the Accept or
// Refuse of the next connection) is lost with the connection. The
// transcript keeps the real order, so a test sees how far the commands ran ahead of the replies.
#include "LineSocket.h"

#include <QByteArrayList>
#include <QList>
#include <QStringList>

#include <functional>
#include <initializer_list>

class FakeLineSocket : public LineSocket {
public:
    struct Step {
        enum Kind { Server, Client, Drop, LongLine, Pause, Refuse, Accept } kind;
        QByteArray text;
        int length = 0;
    };

    void play(std::initializer_list<Step> steps);
    void play(const QList<Step> &steps);

    // Every line the client wrote, without CR LF.
    QByteArrayList written() const { return m_written; }
    // Both sides as they happened: "C: ...", "S: ...", and "-- connect host:port", "-- connect tls
    // host:port", "-- starttls", "-- starttls refused", "-- close", "-- abort", "-- timeout", "-- dropped",
    // "-- refused", "-- paused N ms".
    QStringList transcript() const { return m_transcript; }
    // Script violations: client lines that differ from the script or come where none is expected, and
    // data written without a line end.
    QStringList mismatches() const { return m_mismatches; }
    // Script steps not played yet, one per line (empty when the whole script was used).
    QStringList unplayed() const;
    int connectCount() const { return m_connects; }
    // The fingerprint the client last gave setTrustedCertificate().
    QString trustedCertificate() const { return m_trusted; }
    // Runs inside every readLine, as an event handler would during a real wait.
    std::function<void()> duringRead;
    // Commands may come before the replies to earlier ones were read (see above).
    bool readsAhead = false;

    Status connectToHost(const QString &host, quint16 port, int timeoutMs) override;
    bool isConnected() const override { return m_connected && !m_aborted; }
    bool canReadLine() const override;
    Status readLine(QByteArray *line, int timeoutMs, int maxLength) override;
    Status readSome(QByteArray *data, qint64 maxCount, int timeoutMs) override;
    Status write(const QByteArray &data) override;
    void discardInput() override;
    void close() override;
    void abort() override;
    QString errorString() const override { return m_error; }
    void setTrustedCertificate(const QString &sha256Fingerprint) override { m_trusted = sha256Fingerprint; }
    Status connectToHostEncrypted(const QString &host, quint16 port, int timeoutMs) override;
    Status startTls(int timeoutMs) override;
    bool isEncrypted() const override { return isConnected() && m_encrypted; }
    CertificateProblem certificateProblem() const override { return CertificateProblem(); }

private:
    Status open(const QString &host, quint16 port, bool encrypted);
    // Makes the next server line's octets (with CR LF) the unread input, as readLine would wait for it.
    Status nextServerLine(int timeoutMs);
    // What both reads do first: the hook, then the next server line when nothing is left unread.
    Status beginRead(int timeoutMs);
    void endConnection(const QString &why);
    Status fail(Status status, const QString &text);

    QList<Step> m_script;
    QByteArrayList m_written;
    QStringList m_transcript;
    QStringList m_mismatches;
    QByteArray m_partial; // written data without its line end yet
    QByteArray m_unread;  // the rest of a server line of which counted octets were read
    QString m_error;
    QString m_trusted;
    bool m_connected = false;
    bool m_encrypted = false;
    bool m_aborted = false;
    int m_connects = 0;
};

inline FakeLineSocket::Step S(const QByteArray &line)
{
    return {FakeLineSocket::Step::Server, line};
}
inline FakeLineSocket::Step C(const QByteArray &line)
{
    return {FakeLineSocket::Step::Client, line};
}
inline FakeLineSocket::Step Drop()
{
    return {FakeLineSocket::Step::Drop, {}};
}
inline FakeLineSocket::Step LongLine(int octets)
{
    return {FakeLineSocket::Step::LongLine, {}, octets};
}
inline FakeLineSocket::Step Pause(int ms)
{
    return {FakeLineSocket::Step::Pause, {}, ms};
}
inline FakeLineSocket::Step Accept()
{
    return {FakeLineSocket::Step::Accept, {}};
}
inline FakeLineSocket::Step Refuse(const QByteArray &error)
{
    return {FakeLineSocket::Step::Refuse, error};
}

// TLS in the real transport against a loopback peer with certificates made by openssl at test time:
// which certificates are refused and why, the one trusted certificate, the upgrade of a plain connection,
// and the time-outs, line limit and abort over an encrypted connection.
#include "LoopbackPeer.h"
#include "QtPrinters.h"
#include "TcpLineSocket.h"
#include "TestCertificates.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QSslKey>
#include <QSslSocket>
#include <QThread>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Status = LineSocket::Status;

// The server's end of one accepted connection, used with blocking waits in the peer's thread.
class ServerEnd {
public:
    ServerEnd(int fd, const TestCertificate &certificate)
    {
        // The socket closes what it is given; the peer closes its own descriptor.
        m_socket.setSocketDescriptor(::dup(fd));
        QFile key(certificate.KeyFile);
        if (key.open(QIODevice::ReadOnly))
            m_socket.setPrivateKey(QSslKey(key.readAll(), QSsl::Ec));
        m_socket.setLocalCertificate(certificate.Certificate);
    }
    bool encrypt()
    {
        m_socket.startServerEncryption();
        return m_socket.waitForEncrypted(10000);
    }
    void send(const QByteArray &data)
    {
        m_socket.write(data);
        while (m_socket.bytesToWrite() > 0 && m_socket.waitForBytesWritten(10000)) {
        }
    }
    QByteArray readLine()
    {
        while (!m_socket.canReadLine() && m_socket.waitForReadyRead(10000)) {
        }
        return m_socket.readLine().trimmed();
    }
    void waitForClose()
    {
        while (m_socket.state() == QAbstractSocket::ConnectedState && m_socket.waitForReadyRead(10000))
            m_socket.readAll();
    }

private:
    QSslSocket m_socket;
};

class TlsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        certificates = new TestCertificates;
        QString error;
        ready = certificates->selfSigned(QStringLiteral("Loopback"), {QStringLiteral("IP:127.0.0.1")}, &loopback, &error)
            && certificates->selfSigned(QStringLiteral("Other"), {QStringLiteral("IP:127.0.0.1")}, &other, &error)
            && certificates->authoritySigned(QStringLiteral("Signed"), {QStringLiteral("IP:127.0.0.1")}, &signedByTestCa,
                                             &error);
        setupError = error.toStdString();
    }
    static void TearDownTestSuite()
    {
        delete certificates;
        certificates = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(QSslSocket::supportsSsl()) << "no TLS backend for Qt";
        ASSERT_TRUE(ready) << setupError;
    }

    // A peer that speaks TLS from the first byte with certificate, greets and then echoes one line.
    static std::unique_ptr<LoopbackPeer> implicitTlsPeer(const TestCertificate &certificate)
    {
        return std::make_unique<LoopbackPeer>([certificate](int fd) {
            ServerEnd end(fd, certificate);
            if (!end.encrypt())
                return;
            end.send("+OK hello over TLS\r\n");
            end.send("+OK echo " + end.readLine() + "\r\n");
            end.waitForClose();
        });
    }

    static inline TestCertificates *certificates = nullptr;
    static inline TestCertificate loopback, other, signedByTestCa;
    static inline bool ready = false;
    static inline std::string setupError;
};

TEST_F(TlsTest, CertificatesThatDoNotVerifyAreRefusedWithReasonAndFingerprint)
{
    struct Case {
        const char *name;
        const TestCertificate *certificate;
        const char *host;
        const char *reason;
        bool trustable;
    } cases[] = {
        {"self-signed", &loopback, "127.0.0.1", "es ist selbst signiert", true},
        {"unknown issuer", &signedByTestCa, "127.0.0.1", "sein Aussteller ist unbekannt", true},
        {"wrong host name", &loopback, "localhost", "es gilt nicht für den Servernamen \"localhost\"", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto peer = implicitTlsPeer(*c.certificate);
        TcpLineSocket socket;
        EXPECT_EQ(socket.connectToHostEncrypted(QString::fromLatin1(c.host), peer->port(), 10000), Status::Failed);
        EXPECT_FALSE(socket.isConnected());
        const QString text = socket.errorString();
        EXPECT_TRUE(text.startsWith(QStringLiteral("Das Zertifikat des Servers %1 wurde abgelehnt: ").arg(c.host)))
            << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.reason))) << text.toStdString();
        EXPECT_TRUE(text.endsWith(QStringLiteral("SHA-256-Fingerabdruck: ") + c.certificate->Fingerprint))
            << text.toStdString();
        const CertificateProblem problem = socket.certificateProblem();
        EXPECT_EQ(problem.Certificate, c.certificate->Certificate);
        EXPECT_EQ(problem.Host, QString::fromLatin1(c.host));
        EXPECT_EQ(problem.Port, peer->port());
        EXPECT_EQ(problem.CanBeTrusted(), c.trustable);
    }
}

TEST_F(TlsTest, TheTrustedCertificateAndOnlyItIsAccepted)
{
    // The fingerprint in any of the forms a user might paste.
    const QString bare = QString(loopback.Fingerprint).remove(QLatin1Char(':')).toLower();
    for (const QString &trusted : {loopback.Fingerprint, bare, QStringLiteral("  ") + bare.toUpper() + u' '}) {
        SCOPED_TRACE(trusted.toStdString());
        auto peer = implicitTlsPeer(loopback);
        TcpLineSocket socket;
        socket.setTrustedCertificate(trusted);
        ASSERT_EQ(socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), peer->port(), 10000), Status::Ok)
            << socket.errorString().toStdString();
        EXPECT_TRUE(socket.isEncrypted());
        EXPECT_TRUE(socket.certificateProblem().IsNull());
        QByteArray line;
        ASSERT_EQ(socket.readLine(&line, 10000, 100), Status::Ok);
        EXPECT_EQ(line, "+OK hello over TLS");
        ASSERT_EQ(socket.write("NOOP\r\n"), Status::Ok);
        ASSERT_EQ(socket.readLine(&line, 10000, 100), Status::Ok);
        EXPECT_EQ(line, "+OK echo NOOP");
        socket.close();
    }

    // Trust in another certificate, or for another host name, lets nothing through.
    struct Refusal {
        const char *name;
        QString trusted;
        const char *host;
    } refusals[] = {
        {"another certificate", other.Fingerprint, "127.0.0.1"},
        {"a malformed fingerprint", loopback.Fingerprint.left(60), "127.0.0.1"},
        {"another host name", loopback.Fingerprint, "localhost"},
    };
    for (const Refusal &r : refusals) {
        SCOPED_TRACE(r.name);
        auto peer = implicitTlsPeer(loopback);
        TcpLineSocket socket;
        socket.setTrustedCertificate(r.trusted);
        EXPECT_EQ(socket.connectToHostEncrypted(QString::fromLatin1(r.host), peer->port(), 10000), Status::Failed);
        EXPECT_TRUE(socket.errorString().contains(loopback.Fingerprint)) << socket.errorString().toStdString();
        EXPECT_FALSE(socket.isEncrypted());
    }
}

TEST_F(TlsTest, PlainConnectionIsUpgradedAfterTheGoAhead)
{
    LoopbackPeer peer([](int fd) {
        ServerEnd end(fd, loopback);
        end.send("+OK plain greeting\r\n");
        if (end.readLine() != "STLS")
            return;
        end.send("+OK begin TLS\r\n");
        if (!end.encrypt())
            return;
        end.send("+OK echo " + end.readLine() + "\r\n");
        end.waitForClose();
    });
    TcpLineSocket socket;
    socket.setTrustedCertificate(loopback.Fingerprint);
    ASSERT_EQ(socket.connectToHost(QStringLiteral("127.0.0.1"), peer.port(), 10000), Status::Ok);
    QByteArray line;
    ASSERT_EQ(socket.readLine(&line, 10000, 100), Status::Ok);
    EXPECT_FALSE(socket.isEncrypted());
    ASSERT_EQ(socket.write("STLS\r\n"), Status::Ok);
    ASSERT_EQ(socket.readLine(&line, 10000, 100), Status::Ok);
    ASSERT_EQ(socket.startTls(10000), Status::Ok) << socket.errorString().toStdString();
    EXPECT_TRUE(socket.isEncrypted());
    ASSERT_EQ(socket.write("CAPA\r\n"), Status::Ok);
    ASSERT_EQ(socket.readLine(&line, 10000, 100), Status::Ok);
    EXPECT_EQ(line, "+OK echo CAPA");
}

TEST_F(TlsTest, UpgradeRefusesACertificateAsAnImplicitConnectDoes)
{
    LoopbackPeer peer([](int fd) {
        ServerEnd end(fd, loopback);
        end.send("+OK begin TLS\r\n");
        end.encrypt();
    });
    TcpLineSocket socket;
    ASSERT_EQ(socket.connectToHost(QStringLiteral("127.0.0.1"), peer.port(), 10000), Status::Ok);
    QByteArray line;
    ASSERT_EQ(socket.readLine(&line, 10000, 100), Status::Ok);
    EXPECT_EQ(socket.startTls(10000), Status::Failed);
    EXPECT_FALSE(socket.isConnected());
    EXPECT_TRUE(socket.errorString().contains(loopback.Fingerprint)) << socket.errorString().toStdString();
    EXPECT_TRUE(socket.certificateProblem().CanBeTrusted());
}

// Lines that arrive in the clear right behind the go-ahead cannot come from the server (it waits for the
// handshake): they would be taken as encrypted answers if the upgrade went on.
TEST_F(TlsTest, UpgradeFailsWhenPlainInputIsWaiting)
{
    LoopbackPeer peer([](int fd) {
        LoopbackPeer::send(fd, "+OK begin TLS\r\n+OK injected\r\n");
        LoopbackPeer::waitForClose(fd);
    });
    TcpLineSocket socket;
    socket.setTrustedCertificate(loopback.Fingerprint);
    ASSERT_EQ(socket.connectToHost(QStringLiteral("127.0.0.1"), peer.port(), 10000), Status::Ok);
    QByteArray line;
    ASSERT_EQ(socket.readLine(&line, 10000, 100), Status::Ok);
    // Both lines came in one segment; make sure the second is buffered before the upgrade.
    for (int i = 0; i < 200 && !socket.canReadLine(); ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    ASSERT_TRUE(socket.canReadLine());
    EXPECT_EQ(socket.startTls(10000), Status::Failed);
    EXPECT_FALSE(socket.isConnected());
    EXPECT_TRUE(socket.errorString().contains(QStringLiteral("vor Beginn der Verschlüsselung")));
}

TEST_F(TlsTest, LineLimitAndTimeOutHoldOverTls)
{
    LoopbackPeer peer([](int fd) {
        ServerEnd end(fd, loopback);
        if (!end.encrypt())
            return;
        end.send(QByteArray(65536, 'a') + "\r\n");
        if (end.readLine() != "MORE")
            return;
        const QByteArray chunk(64 * 1024, 'x');
        for (int i = 0; i < 16; ++i)
            end.send(chunk);
        end.waitForClose();
    });
    TcpLineSocket socket;
    socket.setTrustedCertificate(loopback.Fingerprint);
    ASSERT_EQ(socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), peer.port(), 10000), Status::Ok)
        << socket.errorString().toStdString();
    QByteArray line;
    ASSERT_EQ(socket.readLine(&line, 30000, 65536), Status::Ok);
    EXPECT_EQ(line.size(), 65536);
    EXPECT_EQ(socket.readLine(&line, 100, 65536), Status::TimedOut);
    ASSERT_EQ(socket.write("MORE\r\n"), Status::Ok);
    EXPECT_EQ(socket.readLine(&line, 30000, 65536), Status::TooLong);
    EXPECT_TRUE(line.isEmpty());
    socket.close();
}

// A server that takes the connection and never answers the handshake.
TEST_F(TlsTest, HandshakeTimesOutAndCanBeAbortedFromAnotherThread)
{
    {
        LoopbackPeer peer([](int fd) { LoopbackPeer::waitForClose(fd); });
        TcpLineSocket socket;
        EXPECT_EQ(socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), peer.port(), 200), Status::TimedOut);
        EXPECT_TRUE(socket.errorString().startsWith(QStringLiteral("Zeitüberschreitung")))
            << socket.errorString().toStdString();
        EXPECT_FALSE(socket.isConnected());
    }
    LoopbackPeer peer([](int fd) { LoopbackPeer::waitForClose(fd); });
    TcpLineSocket socket;
    std::thread canceller([&socket] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        socket.abort();
    });
    EXPECT_EQ(socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), peer.port(), 60000), Status::Aborted);
    canceller.join();
    EXPECT_FALSE(socket.isConnected());
}

TEST_F(TlsTest, AbortFromTheMainThreadReachesATlsReadInAWorkerThread)
{
    LoopbackPeer peer([](int fd) {
        ServerEnd end(fd, loopback);
        if (end.encrypt())
            end.waitForClose();
    });
    TcpLineSocket socket;
    socket.setTrustedCertificate(loopback.Fingerprint);
    std::atomic<bool> reading{false};
    Status status = Status::Ok;
    QThread *worker = QThread::create([&] {
        status = socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), peer.port(), 10000);
        if (status == Status::Ok) {
            reading = true;
            QByteArray line;
            status = socket.readLine(&line, 60000, 65536);
        }
        reading = true;
    });
    worker->start();
    while (!reading)
        QThread::msleep(10);
    QThread::msleep(100);
    socket.abort();
    EXPECT_TRUE(worker->wait(30000));
    delete worker;
    EXPECT_EQ(status, Status::Aborted);
}

} // namespace

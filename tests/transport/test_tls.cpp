// TLS in the real transport against a loopback peer with certificates made by openssl at test time:
// which certificates are refused and why, the one trusted certificate, the upgrade of a plain connection,
// and a handshake that never ends. (Limits, time-outs and abort over TLS: test_tcplinesocket.cpp.)
#include "LoopbackPeer.h"
#include "QtPrinters.h"
#include "TcpLineSocket.h"
#include "TestCertificates.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSslSocket>
#include <QThread>

#include <chrono>
#include <thread>

namespace {

using Status = LineSocket::Status;

class TlsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QSslSocket::supportsSsl()) << "no TLS backend for Qt";
        const QStringList loopbackAddress{QStringLiteral("IP:127.0.0.1")};
        QString error;
        ASSERT_TRUE(certificates.selfSigned(QStringLiteral("Loopback"), loopbackAddress, &loopback, &error)
                    && certificates.selfSigned(QStringLiteral("Other"), loopbackAddress, &other, &error)
                    && certificates.authoritySigned(QStringLiteral("Signed"), loopbackAddress, &signedByTestCa, &error))
            << error.toStdString();
    }

    // A peer that speaks TLS from the first byte with certificate, greets and then echoes one line.
    static std::unique_ptr<LoopbackPeer> implicitTlsPeer(const TestCertificate &certificate)
    {
        return std::make_unique<LoopbackPeer>([certificate](int fd) {
            PeerEnd end(fd, certificate);
            if (!end.encrypt())
                return;
            end.send("+OK hello over TLS\r\n");
            end.send("+OK echo " + end.readLine() + "\r\n");
            end.waitForClose();
        });
    }

    TestCertificates certificates;
    TestCertificate loopback, other, signedByTestCa;
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
    LoopbackPeer peer([this](int fd) {
        PeerEnd end(fd, loopback);
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
    LoopbackPeer peer([this](int fd) {
        PeerEnd end(fd, loopback);
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

} // namespace

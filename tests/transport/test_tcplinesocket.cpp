// The real TCP transport against a loopback peer that misbehaves on purpose: split and over-long lines,
// silence, a close right after the last line, and an abort from another thread while a read waits; the
// limits, time-outs and abort the same over a plain and an encrypted connection.
#include "LoopbackPeer.h"
#include "QtPrinters.h"
#include "TcpLineSocket.h"

#include <gtest/gtest.h>

#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace {

using Status = LineSocket::Status;

TEST(TcpLineSocket, ReadsSplitLinesAndTheLinesBeforeTheServerClosed)
{
    LoopbackPeer peer([](int fd) {
        char buffer[64];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        LoopbackPeer::send(fd, "+OK got " + QByteArray(buffer, int(std::max<ssize_t>(n, 0))).trimmed() + "\r\n+OK sp");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        LoopbackPeer::send(fd, "lit\r\nbare LF\n\r\nlast\r\n");
    });
    TcpLineSocket socket;
    ASSERT_EQ(socket.connectToHost(QStringLiteral("127.0.0.1"), peer.port(), 10000), Status::Ok)
        << socket.errorString().toStdString();
    EXPECT_TRUE(socket.isConnected());
    ASSERT_EQ(socket.write("NOOP\r\n"), Status::Ok);
    QByteArrayList lines;
    QByteArray line;
    Status status;
    while ((status = socket.readLine(&line, 10000, 100)) == Status::Ok)
        lines.append(line);
    EXPECT_EQ(lines, QByteArrayList({"+OK got NOOP", "+OK split", "bare LF", "", "last"}));
    EXPECT_EQ(status, Status::Closed);
    EXPECT_FALSE(socket.isConnected());
}

// An IMAP literal: a line that announces octets, the octets in pieces (line ends inside them are data),
// and the rest of the line after them.
TEST(TcpLineSocket, CountedOctetsBetweenLinesComeAsTheyArriveWithTheirLineEnds)
{
    LoopbackPeer peer([](int fd) {
        LoopbackPeer::send(fd, "* 1 FETCH (BODY[] {12}\r\nab\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        LoopbackPeer::send(fd, "cd\nefgh)\r\nA1 OK\r\n");
    });
    TcpLineSocket socket;
    ASSERT_EQ(socket.connectToHost(QStringLiteral("127.0.0.1"), peer.port(), 10000), Status::Ok);
    QByteArray line;
    ASSERT_EQ(socket.readLine(&line, 10000, 100), Status::Ok);
    EXPECT_EQ(line, "* 1 FETCH (BODY[] {12}");
    QByteArray literal, piece;
    int reads = 0;
    while (literal.size() < 12) {
        ASSERT_EQ(socket.readSome(&piece, 12 - literal.size(), 10000), Status::Ok);
        ASSERT_FALSE(piece.isEmpty());
        literal += piece;
        ++reads;
    }
    EXPECT_EQ(literal, "ab\r\ncd\nefgh)");
    EXPECT_GE(reads, 2) << "the second half came later";
    ASSERT_EQ(socket.readLine(&line, 10000, 100), Status::Ok);
    EXPECT_EQ(line, "");
    ASSERT_EQ(socket.readLine(&line, 10000, 100), Status::Ok);
    EXPECT_EQ(line, "A1 OK");
    EXPECT_EQ(socket.readSome(&piece, 10, 10000), Status::Closed);
}

TEST(TcpLineSocket, RefusedConnectionGivesTheNetworkText)
{
    quint16 closedPort = 0;
    {
        LoopbackPeer probe([](int) {});
        closedPort = probe.port();
        // Let the peer give up at once: connect and close.
        TcpLineSocket s;
        s.connectToHost(QStringLiteral("127.0.0.1"), closedPort, 10000);
    }
    TcpLineSocket socket;
    EXPECT_EQ(socket.connectToHost(QStringLiteral("127.0.0.1"), closedPort, 10000), Status::Failed);
    EXPECT_FALSE(socket.errorString().isEmpty());
    EXPECT_FALSE(socket.isConnected());
}

TEST(TcpLineSocket, AbortFromAnotherThreadEndsAWaitOnTheMainThread)
{
    LoopbackPeer peer([](int fd) { LoopbackPeer::waitForClose(fd); });
    TcpLineSocket socket;
    ASSERT_EQ(socket.connectToHost(QStringLiteral("127.0.0.1"), peer.port(), 10000), Status::Ok);
    std::thread canceller([&socket] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        socket.abort();
    });
    QByteArray line;
    const Status status = socket.readLine(&line, 60000, 65536);
    canceller.join();
    EXPECT_EQ(status, Status::Aborted);
    EXPECT_FALSE(socket.isConnected());
}

// --- The same over plain TCP and over TLS ---------------------------------------------------------------

class PlainOrTlsTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(certificates.selfSigned(QStringLiteral("Loopback"), {QStringLiteral("IP:127.0.0.1")}, &certificate,
                                            &error))
            << error.toStdString();
    }

    static bool tls() { return GetParam(); }
    // The peer's end, encrypted when the test is about TLS; null when the handshake failed.
    std::unique_ptr<PeerEnd> accept(int fd) const
    {
        auto end = std::make_unique<PeerEnd>(fd, certificate);
        return !tls() || end->encrypt() ? std::move(end) : nullptr;
    }
    // A peer that accepts (and encrypts) and then says nothing.
    std::unique_ptr<LoopbackPeer> silentPeer() const
    {
        return std::make_unique<LoopbackPeer>([this](int fd) {
            if (const auto end = accept(fd))
                end->waitForClose();
        });
    }
    Status open(TcpLineSocket &socket, quint16 port) const
    {
        socket.setTrustedCertificate(certificate.Fingerprint);
        return tls() ? socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port, 10000)
                     : socket.connectToHost(QStringLiteral("127.0.0.1"), port, 10000);
    }

    TestCertificates certificates;
    TestCertificate certificate;
};

TEST_P(PlainOrTlsTest, EndlessLineFailsWithoutWaitingForItsEnd)
{
    LoopbackPeer peer([this](int fd) {
        const auto end = accept(fd);
        if (!end)
            return;
        end->send(QByteArray(65536, 'a') + "\r\n");
        const QByteArray chunk(64 * 1024, 'x');
        for (int i = 0; i < 16; ++i)
            end->send(chunk);
        end->waitForClose();
    });
    TcpLineSocket socket;
    ASSERT_EQ(open(socket, peer.port()), Status::Ok) << socket.errorString().toStdString();
    EXPECT_EQ(socket.isEncrypted(), tls());
    QByteArray line;
    ASSERT_EQ(socket.readLine(&line, 30000, 65536), Status::Ok);
    EXPECT_EQ(line.size(), 65536);
    EXPECT_EQ(socket.readLine(&line, 30000, 65536), Status::TooLong);
    EXPECT_TRUE(line.isEmpty());
    socket.close();
}

TEST_P(PlainOrTlsTest, SilentServerTimesOut)
{
    const auto peer = silentPeer();
    TcpLineSocket socket;
    ASSERT_EQ(open(socket, peer->port()), Status::Ok) << socket.errorString().toStdString();
    QByteArray line;
    EXPECT_EQ(socket.readLine(&line, 100, 65536), Status::TimedOut);
    EXPECT_FALSE(socket.errorString().isEmpty());
    socket.close();
}

TEST_P(PlainOrTlsTest, AbortFromTheMainThreadReachesAWaitInAWorkerThread)
{
    const auto peer = silentPeer();
    TcpLineSocket socket;
    std::atomic<bool> reading{false};
    Status status = Status::Ok;
    QThread *worker = QThread::create([&] {
        status = open(socket, peer->port());
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

INSTANTIATE_TEST_SUITE_P(TcpLineSocket, PlainOrTlsTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) { return info.param ? "Tls" : "Plain"; });

} // namespace

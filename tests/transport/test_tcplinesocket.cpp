// The real TCP transport against a loopback peer that misbehaves on purpose: split and over-long lines,
// silence, a close right after the last line, and an abort from another thread while a read waits.
#include "QtPrinters.h"
#include "TcpLineSocket.h"

#include <gtest/gtest.h>

#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

using Status = LineSocket::Status;

// Accepts one connection on 127.0.0.1 (free port) in a thread of its own and runs script on it.
class LoopbackPeer {
public:
    explicit LoopbackPeer(std::function<void(int fd)> script)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(m_listener, 1) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this, script = std::move(script)] {
            pollfd p{m_listener, POLLIN, 0};
            if (::poll(&p, 1, 10000) != 1)
                return;
            const int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd < 0)
                return;
            script(fd);
            ::close(fd);
        });
    }
    ~LoopbackPeer()
    {
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listener);
    }
    quint16 port() const { return m_port; }

    static void send(int fd, const QByteArray &data)
    {
        (void)::send(fd, data.constData(), size_t(data.size()), MSG_NOSIGNAL);
    }
    // Waits until the client closes its end (10 s at most).
    static void waitForClose(int fd)
    {
        char buffer[4096];
        pollfd p{fd, POLLIN, 0};
        while (::poll(&p, 1, 10000) == 1 && ::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
    }

private:
    int m_listener = -1;
    quint16 m_port = 0;
    std::thread m_thread;
};

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

TEST(TcpLineSocket, EndlessLineFailsWithoutWaitingForItsEnd)
{
    LoopbackPeer peer([](int fd) {
        LoopbackPeer::send(fd, QByteArray(65536, 'a') + "\r\n");
        const QByteArray chunk(64 * 1024, 'x');
        for (int i = 0; i < 16; ++i)
            LoopbackPeer::send(fd, chunk);
        LoopbackPeer::waitForClose(fd);
    });
    TcpLineSocket socket;
    ASSERT_EQ(socket.connectToHost(QStringLiteral("127.0.0.1"), peer.port(), 10000), Status::Ok);
    QByteArray line;
    ASSERT_EQ(socket.readLine(&line, 30000, 65536), Status::Ok);
    EXPECT_EQ(line.size(), 65536);
    EXPECT_EQ(socket.readLine(&line, 30000, 65536), Status::TooLong);
    EXPECT_TRUE(line.isEmpty());
    socket.close();
}

TEST(TcpLineSocket, SilentServerTimesOut)
{
    LoopbackPeer peer([](int fd) { LoopbackPeer::waitForClose(fd); });
    TcpLineSocket socket;
    ASSERT_EQ(socket.connectToHost(QStringLiteral("127.0.0.1"), peer.port(), 10000), Status::Ok);
    QByteArray line;
    EXPECT_EQ(socket.readLine(&line, 100, 65536), Status::TimedOut);
    EXPECT_FALSE(socket.errorString().isEmpty());
    socket.close();
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

TEST(TcpLineSocket, AbortFromTheMainThreadReachesAWaitInAWorkerThread)
{
    LoopbackPeer peer([](int fd) { LoopbackPeer::waitForClose(fd); });
    TcpLineSocket socket;
    std::atomic<bool> connected{false};
    Status status = Status::Ok;
    QThread *worker = QThread::create([&] {
        if (socket.connectToHost(QStringLiteral("127.0.0.1"), peer.port(), 10000) != Status::Ok) {
            status = Status::Failed;
            connected = true;
            return;
        }
        connected = true;
        QByteArray line;
        status = socket.readLine(&line, 60000, 65536);
    });
    worker->start();
    while (!connected)
        QThread::msleep(10);
    QThread::msleep(100);
    socket.abort();
    EXPECT_TRUE(worker->wait(30000));
    delete worker;
    EXPECT_EQ(status, Status::Aborted);
}

} // namespace

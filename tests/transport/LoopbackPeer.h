#pragma once
// A peer for transport tests: accepts one connection on 127.0.0.1 (a free port) in a thread of its own
// and runs a script on the accepted socket, misbehaving as the test wants. PeerEnd is that socket as a
// QSslSocket, for scripts that speak TLS.
#include "TestCertificates.h"

#include <QByteArray>
#include <QFile>
#include <QSslKey>
#include <QSslSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <thread>

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

// The server's end of an accepted connection, used with blocking waits in the peer's thread: plain until
// encrypt() makes it TLS with the certificate.
class PeerEnd {
public:
    PeerEnd(int fd, const TestCertificate &certificate)
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

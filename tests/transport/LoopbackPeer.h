#pragma once
// A peer for transport tests: accepts one connection on 127.0.0.1 (a free port) in a thread of its own
// and runs a script on the accepted socket, misbehaving as the test wants.
#include <QByteArray>

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

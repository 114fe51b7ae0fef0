#pragma once
// The dial-up watcher: once a second, on the owner's thread, it asks the dial-up service whether the
// first listed connection is up and reports the changes. The service's two calls sit behind IRasApi;
// on Linux a dial-up connection is a PPP interface of the kernel, connected when up and running.
#include "MyTimer.h"

#include <QList>
#include <QtGlobal>

#include <functional>
#include <memory>

using HRASCONN = quintptr;

// Connection states as the dial-up service reports them.
enum TRasConnState : quint32 {
    RASCS_OpenPort = 0,
    RASCS_Authenticate = 5,
    RASCS_AuthProject = 10,
    RASCS_Connected = 0x2000,
    RASCS_Disconnected = 0x2001,
};

// The status error that tells that the handle no longer names a connection.
inline constexpr quint32 kRasErrorInvalidHandle = 6;

struct TRasConnStatus {
    quint32 State = RASCS_Disconnected;
    quint32 Error = 0;
};

class IRasApi {
public:
    virtual ~IRasApi() = default;
    // False when the service is missing; the watcher then stays offline and never calls the others.
    virtual bool Available() const = 0;
    // The open connections in the service's order. False when listing fails.
    virtual bool EnumConnections(QList<HRASCONN> &connections) = 0;
    // False when the handle names no connection (any more).
    virtual bool GetConnectStatus(HRASCONN connection, TRasConnStatus &status) = 0;
};

// PPP interfaces: the handle is the interface index.
class TPppRasApi : public IRasApi {
public:
    bool Available() const override { return true; }
    bool EnumConnections(QList<HRASCONN> &connections) override;
    bool GetConnectStatus(HRASCONN connection, TRasConnStatus &status) override;
};

class TRASBase {
public:
    // Without an api the system's dial-up service is used.
    explicit TRASBase(std::unique_ptr<IRasApi> api = nullptr);
    ~TRASBase();
    TRASBase(const TRASBase &) = delete;
    TRASBase &operator=(const TRASBase &) = delete;

    // Starts watching afresh: offline, no connection, first poll one interval from now.
    void Start();
    // Stops watching; raises nothing.
    void Stop();

    bool Running() const { return m_running; }
    bool Online() const { return m_online; }
    HRASCONN ConnHandle() const { return m_connHandle; }
    TMyTimer32 &Timer() { return m_timer; }

    // One poll (the timer's handler): the connection's state is queried and a change is reported.
    void PollConnection();

    std::function<void(TRASBase *sender, quint16 state)> OnConnect;
    std::function<void(TRASBase *sender)> OnDisconnect;

private:
    void query();
    void applyState(const TRasConnStatus &status);

    std::unique_ptr<IRasApi> m_api;
    TMyTimer32 m_timer;
    bool m_running = false;
    bool m_online = false;
    HRASCONN m_connHandle = 0;
    quint32 m_lastState = RASCS_Disconnected;
};

#include "MonRAS.h"

#include <QNetworkInterface>

#include <climits>

bool TPppRasApi::EnumConnections(QList<HRASCONN> &connections)
{
    connections.clear();
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &i : all)
        if (i.type() == QNetworkInterface::Ppp && i.index() > 0)
            connections.append(HRASCONN(i.index()));
    return true;
}

bool TPppRasApi::GetConnectStatus(HRASCONN connection, TRasConnStatus &status)
{
    if (connection == 0 || connection > HRASCONN(INT_MAX))
        return false;
    const QNetworkInterface i = QNetworkInterface::interfaceFromIndex(int(connection));
    // An index taken over by an interface of another kind is a connection that has gone.
    if (!i.isValid() || i.type() != QNetworkInterface::Ppp)
        return false;
    const auto f = i.flags();
    status.Error = 0;
    status.State = (f.testFlag(QNetworkInterface::IsUp) && f.testFlag(QNetworkInterface::IsRunning))
                       ? RASCS_Connected
                       : RASCS_Disconnected;
    return true;
}

TRASBase::TRASBase(std::unique_ptr<IRasApi> api) : m_api(api ? std::move(api) : std::make_unique<TPppRasApi>())
{
    m_timer.SetInterval(1000);
    m_timer.SetOnTimer([this] { PollConnection(); });
}

TRASBase::~TRASBase()
{
    OnConnect = nullptr;
    OnDisconnect = nullptr;
    m_timer.SetEnabled(false);
}

void TRASBase::Start()
{
    m_online = false;
    if (m_timer.Enabled() && m_running)
        m_timer.SetEnabled(false);
    m_connHandle = 0;
    m_running = true;
    m_timer.SetEnabled(true);
}

void TRASBase::Stop()
{
    if (!(m_timer.Enabled() && m_running))
        return;
    m_timer.SetEnabled(false);
    m_running = false;
    m_online = false;
}

void TRASBase::applyState(const TRasConnStatus &status)
{
    m_lastState = status.State;
    if (status.State == RASCS_Connected) {
        m_online = true;
    } else if (status.State == RASCS_Disconnected) {
        m_online = false;
        m_connHandle = 0;
    }
    // Dialling, authentication and projection states leave the state as it was.
}

void TRASBase::query()
{
    if (!m_api || !m_api->Available()) {
        m_online = false;
        return;
    }
    TRasConnStatus status;
    if (!m_online) {
        QList<HRASCONN> connections;
        if (!m_api->EnumConnections(connections))
            connections.clear();
        if (connections.isEmpty())
            return;
        // Only the first listed connection is watched.
        m_connHandle = connections.first();
        if (!m_api->GetConnectStatus(m_connHandle, status)) {
            m_online = false;
            m_connHandle = 0;
            return;
        }
        applyState(status);
        return;
    }
    if (m_connHandle == 0) {
        m_online = false;
        return;
    }
    if (!m_api->GetConnectStatus(m_connHandle, status)) {
        m_online = false;
        m_connHandle = 0;
        return;
    }
    applyState(status);
    if (status.Error == kRasErrorInvalidHandle) {
        m_online = false;
        m_connHandle = 0;
    }
}

void TRASBase::PollConnection()
{
    m_timer.SetEnabled(false);
    const bool wasOnline = m_online;
    try {
        query();
    } catch (...) {
        // A failing query keeps what was set before it.
    }
    m_timer.SetEnabled(m_running);
    if (wasOnline == m_online)
        return;
    if (!m_online) {
        if (OnDisconnect)
            OnDisconnect(this);
    } else if (OnConnect) {
        OnConnect(this, quint16(m_lastState));
    }
}

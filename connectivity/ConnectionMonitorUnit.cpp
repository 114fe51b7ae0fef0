#include "ConnectionMonitorUnit.h"

TConnectionMonitor::TConnectionMonitor(std::unique_ptr<IRasApi> rasApi)
    : m_capi(std::make_unique<TCAPITraceReg>()), m_ras(std::make_unique<TRASBase>(std::move(rasApi)))
{
    m_ras->OnConnect = [this](TRASBase *, quint16) { raiseOnline(); };
    m_ras->OnDisconnect = [this](TRASBase *) { raiseOffline(); };
    m_capi->OnCAPIConnect = [this](TCAPITraceReg *, const TCAPIConnectInfoArray &, int) { raiseOnline(); };
    m_capi->OnCAPIDisconnect = [this](TCAPITraceReg *, int, TBChannel) { raiseOffline(); };
    m_ras->Timer().SetInterval(1000);
}

TConnectionMonitor::~TConnectionMonitor()
{
    OnOnline = nullptr;
    OnOffline = nullptr;
    m_capi->SetActive(false);
    m_ras->Stop();
}

void TConnectionMonitor::raiseOnline()
{
    if (OnOnline)
        OnOnline(this);
}

void TConnectionMonitor::raiseOffline()
{
    if (OnOffline)
        OnOffline(this);
}

void TConnectionMonitor::SetActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    m_capi->SetActive(false);
    m_ras->Stop();
    if (m_connectionType == ctDialUp && m_active)
        m_ras->Start();
    if (m_connectionType == ctISDN && m_active)
        m_capi->SetActive(true);
    if (m_connectionType == ctLAN) {
        if (m_active)
            raiseOnline();
        else
            raiseOffline();
    }
}

void TConnectionMonitor::SetConnectionType(quint8 type)
{
    if (type == m_connectionType)
        return;
    const bool wasActive = m_active;
    SetActive(false);
    m_connectionType = type;
    m_capi->SetActive(false);
    m_ras->Stop();
    SetActive(wasActive);
    if (m_connectionType == ctDialUp && m_active)
        m_ras->Start();
    if (m_connectionType == ctISDN && m_active)
        m_capi->SetActive(true);
}

#pragma once
// Decides whether the machine is online and reports each change. How depends on the connection type:
//   0  LAN, leased line or DSL router: always online while the monitor is active;
//   1  dial-up: the dial-up watcher polls the first dial-up connection once a second;
//   2  ISDN: the call watcher polls the call recorder's registry value twice a second.
// Any other type watches nothing and reports nothing. Everything runs on the owner's thread.
#include "CAPITraceReg.h"
#include "MonRAS.h"

#include <functional>
#include <memory>

enum TConnectionType : quint8 { ctLAN = 0, ctDialUp = 1, ctISDN = 2 };

class TConnectionMonitor {
public:
    // Without an api the dial-up watcher uses the system's dial-up service. Nothing is started.
    explicit TConnectionMonitor(std::unique_ptr<IRasApi> rasApi = nullptr);
    // Stops both watchers; raises nothing.
    ~TConnectionMonitor();
    TConnectionMonitor(const TConnectionMonitor &) = delete;
    TConnectionMonitor &operator=(const TConnectionMonitor &) = delete;

    bool Active() const { return m_active; }
    // Starts the watcher of the type. Type 0 reports online on activation and offline on
    // deactivation; stopping a watcher reports nothing.
    void SetActive(bool active);
    quint8 ConnectionType() const { return m_connectionType; }
    // Switching while active deactivates (type 0 reports offline), then activates under the new type,
    // restarting the dial-up watcher, which reports online again at its first poll.
    void SetConnectionType(quint8 type);

    TRASBase &RAS() { return *m_ras; }
    TCAPITraceReg &CAPI() { return *m_capi; }

    std::function<void(TConnectionMonitor *sender)> OnOnline;
    std::function<void(TConnectionMonitor *sender)> OnOffline;

private:
    void raiseOnline();
    void raiseOffline();

    std::unique_ptr<TCAPITraceReg> m_capi;
    std::unique_ptr<TRASBase> m_ras;
    bool m_active = false;
    quint8 m_connectionType = ctLAN;
};

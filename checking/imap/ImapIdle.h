#pragma once
// New mail at once on IMAP: one connection per watched account that idles (RFC 2177) in the account's
// folder, on a thread of its own, and tells its owner when the folder's message count (EXISTS) grows.
// The watch never changes anything on the server (EXAMINE), renews its idle every 25 minutes, and simply
// ends when the server offers no IDLE or the connection is lost: the timed check goes on as before, and
// no one is told.
#include "ImapClient.h"
#include "TypeDef.h"

#include <QMutex>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

struct TImapIdleOptions {
    LineSocketFactory SocketFactory; // empty: plain TCP
    int TimeoutMs = ImapClient::kDefaultTimeoutMs;
    int RenewMs = 25 * 60 * 1000;    // an idle is ended and begun again after this
};

class TImapIdleWatch : public QThread {
public:
    // Why the watch ended.
    enum class End {
        Running,  // it has not ended
        Stopped,  // Stop() was called
        NoIdle,   // the server offers no IDLE: watching makes no sense until the settings change
        Lost,     // the connection failed or was lost; another watch may work later
    };

    // newMail is called on this watch's thread whenever EXISTS grows; it must only post.
    TImapIdleWatch(const TPOP3AccountSettings &account, TImapIdleOptions options, std::function<void()> newMail);
    // Stops the watch and waits for its thread.
    ~TImapIdleWatch() override;

    // Thread-safe: the connection is dropped at once and the thread ends.
    void Stop();
    End Ended() const { return m_end.load(); }
    const TPOP3AccountSettings &Account() const { return m_account; }
    // True while the watch idles in the folder (for tests, which wait for it before they deliver mail).
    bool Idling() const { return m_idling.load(); }

protected:
    void run() override;

private:
    End watch(ImapClient &client);

    const TPOP3AccountSettings m_account;
    const TImapIdleOptions m_options;
    const std::function<void()> m_newMail;
    QMutex m_clientMutex; // guards m_client against Stop from another thread
    std::unique_ptr<ImapClient> m_client;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_idling{false};
    std::atomic<End> m_end{End::Running};
};

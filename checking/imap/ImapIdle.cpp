#include "ImapIdle.h"

#include "ImapSession.h"
#include "KeyringPasswords.h"
#include "OAuthTokens.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

TImapIdleWatch::TImapIdleWatch(const TPOP3AccountSettings &account, TImapIdleOptions options,
                               std::function<void()> newMail)
    : m_account(account), m_options(std::move(options)), m_newMail(std::move(newMail))
{
}

TImapIdleWatch::~TImapIdleWatch()
{
    Stop();
    wait();
}

void TImapIdleWatch::Stop()
{
    m_stop = true;
    QMutexLocker lock(&m_clientMutex);
    if (m_client)
        m_client->abort();
}

void TImapIdleWatch::run()
{
    auto client = std::make_unique<ImapClient>(m_options.SocketFactory);
    ImapClient *raw = client.get();
    {
        QMutexLocker lock(&m_clientMutex);
        m_client = std::move(client);
    }
    // A Stop before the client existed still ends the watch.
    const End end = m_stop ? End::Stopped : watch(*raw);
    m_idling = false;
    raw->disconnect(end != End::Lost && !m_stop);
    m_end = m_stop ? End::Stopped : end;
    QMutexLocker lock(&m_clientMutex);
    m_client.reset();
}

TImapIdleWatch::End TImapIdleWatch::watch(ImapClient &client)
{
    // A password the keyring cannot give ends the watch quietly: the timed check says why.
    TLoginSecret login;
    QString error;
    int code = 0;
    if (!ResolveLogin(m_account, TPasswordKind::Incoming, &login, &error, &code, [this] { return m_stop.load(); }))
        return End::Lost;
    client.setHost(m_account.ServerName);
    client.setPort(quint16(m_account.Port & 0xFFFF));
    client.setUserName(m_account.AccountName);
    client.setPassword(login.Secret);
    client.setAuthKind(login.OAuth ? ImapClient::AuthKind::Bearer : ImapClient::AuthKind::Password);
    client.setSecurity(TImapSession::SecurityOf(m_account));
    client.setTrustedCertificate(m_account.POP3CertSHA256);
    client.setConnectTimeout(m_options.TimeoutMs);
    client.setReadTimeout(m_options.TimeoutMs);
    if (!client.connect() || m_stop)
        return End::Lost;
    if (!client.hasCapability("IDLE"))
        return End::NoIdle;
    if (!client.select(TImapSession::FolderOf(m_account), true))
        return End::Lost;
    qint64 known = client.selected().Exists;
    bool grew = false;
    const auto follow = [&](const ImapResponse &r) {
        if (r.name == "EXISTS" && r.number > known)
            grew = true;
        if (r.name == "EXISTS" || r.name == "EXPUNGE")
            known = client.selected().Exists;
    };
    while (!m_stop) {
        if (!client.idle(follow))
            return End::Lost;
        m_idling = true;
        const QDeadlineTimer renew(std::max(m_options.RenewMs, 1));
        while (!m_stop && !renew.hasExpired() && client.idling()) {
            if (!client.idleWait(int(std::max<qint64>(renew.remainingTime(), 1)), follow))
                return End::Lost;
            if (grew) {
                grew = false;
                m_newMail();
            }
        }
        m_idling = false;
        if (m_stop)
            break;
        if (!client.idleDone(follow))
            return End::Lost;
        if (grew) {
            grew = false;
            m_newMail();
        }
    }
    return End::Stopped;
}

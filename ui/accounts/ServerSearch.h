#pragma once
// The new-account assistant's server search, as one job on the worker: first the incoming server (POP3:
// TLS on 995, STLS on 110; IMAP: TLS on 993, STARTTLS on 143), then the outgoing one (TLS on 465, STARTTLS
// on 587), each attempt within its limit, the whole given up as soon as the operation is cancelled. No
// widget here: the assistant starts the job and applies its result.
#include "LineSocket.h"
#include "SecurityProbe.h"
#include "TypeDef.h"

#include <QString>

class TPop3Thread;

// Where and how long to look. The defaults are the product's; tests move the ports to their servers.
struct TServerSearchPlan {
    QList<TProbeCandidate> Incoming = kIncomingProbeOrder; // a POP3 server
    QList<TProbeCandidate> ImapIncoming = kImapProbeOrder;
    QList<TProbeCandidate> Outgoing = kOutgoingProbeOrder;
    // The places for the incoming server of a mailbox of that type (TAccountType).
    const QList<TProbeCandidate> &IncomingOrder(int32_t accountType) const
    {
        return accountType == atIMAP ? ImapIncoming : Incoming;
    }
    int LimitMs = kProbeLimitMs;
    LineSocketFactory SocketFactory; // empty: the real transport
};

struct TServerSearchResult {
    QString POP3Server;   // the names searched; empty: not searched
    QString SMTPServer;
    int32_t IncomingType = atPOP3; // how the incoming server was spoken to (TAccountType)
    TProbeResult Incoming;
    TProbeResult Outgoing;
    bool Cancelled() const { return Incoming.Cancelled || Outgoing.Cancelled; }
};

// Runs on the worker's thread (the job of a TServerOperationKind::ServerSearch operation). The incoming
// server is searched as one of incomingType (TAccountType). An empty name is not searched.
TServerSearchResult SearchServers(TPop3Thread &worker, int32_t incomingType, const QString &pop3Server,
                                  const QString &smtpServer, const TServerSearchPlan &plan);

// The security value of the account for what the search found (csSSLTLS or csStartTLS).
int32_t SecurityOfCandidate(const TProbeCandidate &where);

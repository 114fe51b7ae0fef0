#include "ServerSearch.h"

#include "ImapProbe.h"
#include "Pop3Probe.h"
#include "Pop3Worker.h"
#include "SMTPUnit.h"
#include "SmtpProbe.h"

#include <QSysInfo>

TServerSearchResult SearchServers(TPop3Thread &worker, int32_t incomingType, const QString &pop3Server,
                                  const QString &smtpServer, const TServerSearchPlan &plan)
{
    TServerSearchResult result;
    result.POP3Server = pop3Server;
    result.SMTPServer = smtpServer;
    result.IncomingType = incomingType == atIMAP ? atIMAP : atPOP3;
    const auto probeIncoming = result.IncomingType == atIMAP ? &ProbeImap : &ProbePop3;
    const auto cancelled = [&worker] { return worker.JobAborted(); };
    const auto setAbort = [&worker](std::function<void()> abort) { worker.SetJobAbort(std::move(abort)); };
    if (!pop3Server.isEmpty())
        result.Incoming = ProbeInOrder(
            plan.IncomingOrder(result.IncomingType),
            [&](const TProbeCandidate &c) { return probeIncoming(pop3Server, c, plan.LimitMs, plan.SocketFactory, setAbort); },
            cancelled, result.IncomingType == atIMAP ? TServerRole::IncomingImap : TServerRole::Incoming);
    if (!smtpServer.isEmpty() && !result.Incoming.Cancelled) {
        const QByteArray helo = EhloName(QSysInfo::machineHostName());
        result.Outgoing = ProbeInOrder(
            plan.Outgoing,
            [&](const TProbeCandidate &c) {
                return ProbeSmtp(smtpServer, c, plan.LimitMs, helo, plan.SocketFactory, setAbort);
            },
            cancelled, TServerRole::Outgoing);
    }
    return result;
}

int32_t SecurityOfCandidate(const TProbeCandidate &where)
{
    return where.ImplicitTls ? csSSLTLS : csStartTLS;
}

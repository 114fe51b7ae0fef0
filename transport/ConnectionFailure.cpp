#include "ConnectionFailure.h"

QString FailureExplanation(TFailureKind kind, TServerRole role)
{
    switch (kind) {
    case TFailureKind::Other:
        break;
    case TFailureKind::LoginRefused:
        return QStringLiteral("Kontoname oder Kennwort falsch.");
    case TFailureKind::ConnectionRefused:
        return QStringLiteral("Der Server nimmt an diesem Port keine Verbindung an. Prüfen Sie den Servernamen und "
                              "den Port.");
    case TFailureKind::HostNotFound:
        return QStringLiteral("Einen Server mit diesem Namen gibt es nicht. Prüfen Sie die Schreibweise des "
                              "Servernamens.");
    case TFailureKind::TimedOut:
        return QStringLiteral("Der Server hat nicht rechtzeitig geantwortet. Prüfen Sie Port und Sicherheit oder "
                              "versuchen Sie es später noch einmal.");
    case TFailureKind::NoTlsOnPort:
        switch (role) {
        case TServerRole::Incoming:
            return QStringLiteral("An diesem Port spricht der Server kein SSL/TLS. Üblich sind 995 (SSL/TLS) und 110 "
                                  "(STARTTLS).");
        case TServerRole::IncomingImap:
            return QStringLiteral("An diesem Port spricht der Server kein SSL/TLS. Üblich sind 993 (SSL/TLS) und 143 "
                                  "(STARTTLS).");
        case TServerRole::Outgoing:
            return QStringLiteral("An diesem Port spricht der Server kein SSL/TLS. Üblich sind 465 (SSL/TLS) und 587 "
                                  "(STARTTLS).");
        }
        break;
    }
    return QString();
}

QString ExplainedFailureText(TFailureKind kind, const QString &text, TServerRole role)
{
    const QString explanation = FailureExplanation(kind, role);
    const QString said = text.trimmed();
    if (explanation.isEmpty() || said.startsWith(explanation))
        return text;
    if (said.isEmpty())
        return explanation;
    return explanation + QStringLiteral(" Meldung: ") + said;
}

TFailureKind FailureKindOfSocketError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return TFailureKind::ConnectionRefused;
    case QAbstractSocket::HostNotFoundError:
        return TFailureKind::HostNotFound;
    case QAbstractSocket::SocketTimeoutError:
        return TFailureKind::TimedOut;
    default:
        return TFailureKind::Other;
    }
}

bool HandshakeMetPlainText(const QString &handshakeError)
{
    return handshakeError.contains(QLatin1String("wrong version number"), Qt::CaseInsensitive);
}

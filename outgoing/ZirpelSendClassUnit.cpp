#include "ZirpelSendClassUnit.h"

#include "KeyringPasswords.h"
#include "RegIni.h"
#include "ReplyWait.h"
#include "TextCodec.h"
#include "WindowThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>

#include <atomic>

namespace {

const QStringList kGermanPrefixes = QStringLiteral(
    "0151;0152;0157;0159;0160;0162;0163;0170;0171;0172;0173;0174;0175;0176;0177;0178;0179").split(QLatin1Char(';'));
const QStringList kAustrianPrefixes =
    QStringLiteral("0650;0660;0663;0664;0676;0680;0681;0688;0699").split(QLatin1Char(';'));
const QStringList kSwissPrefixes = QStringLiteral("076;078;079").split(QLatin1Char(';'));

const QString kErrDigits1415 = QStringLiteral(
    "Prüfen Sie die komplette Mobilfunknummer, diese darf nur Zahlen enthalten und muss 14/15stellig sein. {1}");
const QString kErrOneZeroTooMany = QStringLiteral("Prüfen Sie die komplette Mobilfunknummer, eine 0 ist zu viel. {2}");
const QString kErrUnknownProvider =
    QStringLiteral("Prüfen Sie die komplette Mobilfunknummer, die Vorwahl des Mobilfunkanbieters ist unbekannt.");
const QString kErrNoCountryCode =
    QStringLiteral("Prüfen Sie die komplette Mobilfunknummer, diese enthält keine Landesvorwahl.");
const QString kErrTooShort = QStringLiteral("Prüfen Sie die komplette Mobilfunknummer, diese ist zu kurz.");

QString digitsError(const QString &count)
{
    return QStringLiteral("Prüfen Sie die komplette Mobilfunknummer, diese darf nur Zahlen enthalten und muss ") +
           count + QStringLiteral("stellig sein. {1}");
}

bool allDigits(const QString &s)
{
    for (const QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

// Bytes that travel unencoded: letters, digits and printable characters without a meaning in a query.
bool passesUnencoded(quint8 b)
{
    if (b < 33 || b > 126)
        return false;
    switch (b) {
    case '&': case '/': case ':': case ';': case '<': case '=': case '>': case '?': case '\\':
    // These carry meaning in a query: "%" starts an escape, "+" is a blank, "#" ends the query.
    case '%': case '+': case '#':
        return false;
    default:
        return true;
    }
}

QNetworkProxy makeProxy(const TProxySettings &p)
{
    if (p.ProxyServer.isEmpty())
        return QNetworkProxy(QNetworkProxy::NoProxy); // never a proxy from the environment
    const quint16 port = (p.ProxyPort > 0 && p.ProxyPort <= 65535) ? quint16(p.ProxyPort) : quint16(80);
    QNetworkProxy proxy(QNetworkProxy::HttpProxy, p.ProxyServer, port);
    // Basic authentication only with a complete set of credentials.
    if (!p.ProxyUsername.isEmpty() && !p.ProxyPassword.isEmpty()) {
        proxy.setUser(p.ProxyUsername);
        proxy.setPassword(p.ProxyPassword);
    }
    return proxy;
}

QSslConfiguration sslConfiguration()
{
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.setProtocol(QSsl::SecureProtocols);
    ssl.setPeerVerifyMode(QSslSocket::VerifyPeer);
#ifdef QUARVEL_TEST_HOOKS
    const QString testCa = qEnvironmentVariable(kTestCaFileEnv);
    if (!testCa.isEmpty())
        ssl.addCaCertificates(QSslCertificate::fromPath(testCa, QSsl::Pem));
#endif
    return ssl;
}

// The URL as it may appear in an error text: without its query, which holds the password.
QString scrub(QString message, const QUrl &url)
{
    const QUrl bare = url.adjusted(QUrl::RemoveQuery | QUrl::RemoveUserInfo);
    for (const QUrl::ComponentFormattingOptions f : {QUrl::FullyEncoded, QUrl::PrettyDecoded})
        message.replace(url.toString(f), bare.toString());
    for (const QUrl::ComponentFormattingOptions f : {QUrl::FullyEncoded, QUrl::PrettyDecoded, QUrl::FullyDecoded})
        if (const QString q = url.query(f); !q.isEmpty())
            message.replace(q, QStringLiteral("..."));
    return message;
}

struct Attempt {
    bool ok = false;
    QByteArray body;
    QString error;
};

} // namespace

// The request under way, for Abort from another thread.
struct TZirpelSendClass::AbortState {
    QMutex mutex;
    QNetworkReply *reply = nullptr; // lives on the requesting thread while set
    std::atomic<bool> aborted{false};
};

namespace {

const QString kAbortedText = QStringLiteral("Die Anfrage wurde abgebrochen.");

Attempt getOnce(const QUrl &url, const TProxySettings &proxy, int timeoutMs, TZirpelSendClass::AbortState &abort)
{
    Attempt result;
    QNetworkAccessManager nam;
    nam.setProxy(makeProxy(proxy));
    nam.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    QNetworkRequest request(url);
    request.setSslConfiguration(sslConfiguration());
    QNetworkReply *reply = nam.get(request);
    {
        QMutexLocker lock(&abort.mutex);
        abort.reply = reply;
    }
    if (abort.aborted)
        reply->abort();

    const bool timedOut = !WaitForReply(reply, timeoutMs);

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (abort.aborted) {
        result.error = kAbortedText;
    } else if (timedOut) {
        result.error = QStringLiteral("Zeitüberschreitung: Das SMS-Gateway hat nicht rechtzeitig geantwortet.");
    } else if (status != 0 && (status < 200 || status > 299)) {
        result.error = QStringLiteral("HTTP %1 %2")
                           .arg(status)
                           .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())
                           .trimmed();
    } else if (reply->error() != QNetworkReply::NoError) {
        result.error = scrub(reply->errorString(), url);
    } else if (status == 0) {
        result.error = QStringLiteral("Keine HTTP-Antwort erhalten.");
    } else {
        result.ok = true;
        result.body = reply->readAll();
    }
    {
        QMutexLocker lock(&abort.mutex);
        abort.reply = nullptr;
    }
    delete reply;
    return result;
}

void pause(int ms, const TZirpelSendClass::AbortState &abort)
{
    if (abort.aborted)
        return;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QStringList splitLines(const QString &text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &l : lines)
        if (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
    // A final line break ends the last line; it does not start another.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool validHost(const QString &host)
{
    if (host.isEmpty())
        return false;
    for (const QChar c : host)
        if (c.isSpace() || c == QLatin1Char('/') || c == QLatin1Char('?') || c == QLatin1Char('#') ||
            c == QLatin1Char('@') || c == QLatin1Char('\\'))
            return false;
    return true;
}

} // namespace

QString URLEncodeSMS(const QString &text)
{
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray bytes = platform::encodeCp1252(text);
    QString out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const quint8 b = quint8(ch);
        if (b == ' ') {
            out += QLatin1Char('+');
        } else if (passesUnencoded(b)) {
            out += QLatin1Char(char(b));
        } else {
            out += QLatin1Char('%');
            out += QLatin1Char(hex[b >> 4]);
            out += QLatin1Char(hex[b & 0x0F]);
        }
    }
    return out;
}

bool NormalizeCellNumber(const QString &typed, QString &normalized, QString &error)
{
    QString n;
    for (const QChar c : typed)
        if (c == QLatin1Char('+') || (c >= QLatin1Char('0') && c <= QLatin1Char('9')))
            n += c;

    const auto begins = [&n](const char *s) { return n.startsWith(QLatin1String(s)); };
    const auto replaceLeadingZero = [&n](const char *country) { n = QLatin1String(country) + n.mid(1); };

    if (!begins("00")) {
        if (kGermanPrefixes.contains(QLatin1Char('0') + n.left(3)))
            n.prepend(QLatin1String("0049")); // typed without its leading zero
        if (kGermanPrefixes.contains(n.left(4)))
            replaceLeadingZero("0049");
        if (begins("+"))
            n.replace(QLatin1Char('+'), QLatin1String("00"));
        if (begins("04"))
            n.prepend(QLatin1Char('0'));
        if (begins("1"))
            n.prepend(QLatin1String("0049"));
        if (begins("01"))
            replaceLeadingZero("0049");
    }
    if (!begins("00")) {
        if (kAustrianPrefixes.contains(QLatin1Char('0') + n.left(3)))
            n.prepend(QLatin1String("0043"));
        if (kAustrianPrefixes.contains(n.left(4)))
            replaceLeadingZero("0043");
        if (kSwissPrefixes.contains(QLatin1Char('0') + n.left(2)))
            n.prepend(QLatin1String("0041"));
        if (kSwissPrefixes.contains(n.left(3)))
            replaceLeadingZero("0041");
    }
    normalized = n;

    const bool digits1415 = allDigits(n) && (n.size() == 14 || n.size() == 15);
    error.clear();
    if (begins("0049")) {
        if (!digits1415)
            error = kErrDigits1415;
        else if (begins("00490"))
            error = kErrOneZeroTooMany;
        else if (!kGermanPrefixes.contains(QLatin1Char('0') + n.mid(4, 3)))
            error = kErrUnknownProvider;
    } else if (begins("0043")) {
        if (!digits1415)
            error = kErrDigits1415;
        else if (begins("00430"))
            error = kErrOneZeroTooMany;
    } else if (begins("0041")) {
        if (!(allDigits(n) && n.size() == 13))
            error = digitsError(QStringLiteral("13"));
        else if (begins("00410"))
            error = kErrOneZeroTooMany;
    } else if (!begins("00")) {
        error = kErrNoCountryCode;
    } else if (n.size() < 7) {
        error = kErrTooShort;
    }
    return error.isEmpty();
}

TZirpelSendClass::TZirpelSendClass() : m_abort(std::make_shared<AbortState>()) {}

TZirpelSendClass::~TZirpelSendClass() = default;

void TZirpelSendClass::Abort()
{
    QMutexLocker lock(&m_abort->mutex);
    m_abort->aborted = true;
    // Queued to the reply's own thread; a reply deleted before it runs takes the call with it.
    if (QNetworkReply *reply = m_abort->reply)
        QMetaObject::invokeMethod(reply, [reply] { reply->abort(); }, Qt::QueuedConnection);
}

QString TZirpelSendClass::GatewayHost()
{
    TTheRegIniFile reg;
    reg.RegKey = HKEY::CURRENT_USER;
    reg.Area = kZirpelHostArea;
    reg.Section = kZirpelHostSection;
    const QString host = reg.ReadString(kZirpelHostValue, QString()).trimmed();
    return host;
}

bool TZirpelSendClass::SendShortMessage(const TZirpelSettings &settings, const QString &text,
                                        const QString &cellNumber, const TProxySettings &proxy, QString &reply)
{
    const QString host = GatewayHost();
    if (host.isEmpty()) {
        // No gateway is built in: the user's SMS service names its own host.
        reply = QStringLiteral("ERROR Kein SMS-Gateway eingerichtet (Wert \"GatewayHost\" unter ZirpelSettings).");
        return false;
    }
    if (!validHost(host)) {
        reply = QStringLiteral("ERROR Ungültiger Name des SMS-Gateways: ") + host;
        return false;
    }
    QString password;
    if (!ResolvePassword(settings, &password, &reply)) {
        reply = QStringLiteral("ERROR ") + reply;
        return false;
    }
    // The user name and the number are encoded too: a "&" or "#" in them must not cut the query.
    const QString query = QStringLiteral("?Username=%1&Password=%2&SMSTo=%3&SMSType=V%4&SMSText=%5")
                              .arg(URLEncodeSMS(settings.Username), URLEncodeSMS(password),
                                   URLEncodeSMS(cellNumber), QString::number(settings.WithSenderAddress ? 2 : 1),
                                   URLEncodeSMS(text));
    const QString url =
        (settings.HTTPS ? QStringLiteral("https://") : QStringLiteral("http://")) + host + kZirpelPath + query;
    QStringList lines;
    const bool ok = HTTPGetLines(url, proxy, lines);
    reply = lines.join(QLatin1Char('\n'));
    return ok;
}

bool TZirpelSendClass::HTTPGetLines(const QString &url, const TProxySettings &proxy, QStringList &lines)
{
    lines.clear();
    const QUrl target = QUrl::fromEncoded(url.toUtf8(), QUrl::TolerantMode);
    if (!target.isValid() || target.host().isEmpty()) {
        lines << QStringLiteral("ERROR Ungültige Adresse.");
        return false;
    }
    if (!QCoreApplication::instance()) {
        lines << QStringLiteral("ERROR Keine Ereignisschleife für die Anfrage.");
        return false;
    }
    if (platform::OnWindowThread()) {
        lines << QStringLiteral("ERROR ") + platform::WindowThreadWaitText();
        return false;
    }
    // Copies: other work runs while the request waits, and must not change what this request does.
    const int timeoutMs = AttemptTimeoutMs;
    const int retryDelayMs = RetryDelayMs;
    const TProxySettings proxyCopy = proxy;
    Attempt a = getOnce(target, proxyCopy, timeoutMs, *m_abort);
    if (!a.ok && !m_abort->aborted) {
        pause(retryDelayMs, *m_abort);
        a = getOnce(target, proxyCopy, timeoutMs, *m_abort);
    }
    if (!a.ok) {
        lines << QStringLiteral("ERROR ") + a.error;
        return false;
    }
    lines = splitLines(platform::decode8bit(a.body));
    return true;
}

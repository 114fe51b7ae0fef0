#pragma once
// The SMS notice: one short message through the Zirpel gateway's HTTP(S) interface, and the check and
// completion of mobile numbers typed by the user.
#include "TypeDef.h"

#include <QString>
#include <QStringList>

#include <memory>

// Where the gateway's host (with an optional ":port") is configured, below HKEY_CURRENT_USER.
inline const QString kZirpelHostArea = QStringLiteral("Software\\Tessmar Software\\Quarvel");
inline const QString kZirpelHostSection = QStringLiteral("ZirpelSettings");
inline const QString kZirpelHostValue = QStringLiteral("GatewayHost");
inline const QString kZirpelPath = QStringLiteral("/client/sendsms.php");

// For tests only: a PEM file of extra certificate authorities that HTTPS requests trust besides the
// system's store. Read only by builds with the tests (QUARVEL_TEST_HOOKS); the program never sets it.
inline constexpr const char *kTestCaFileEnv = "QUARVEL_TEST_CA_FILE";

class TZirpelSendClass {
public:
    TZirpelSendClass();
    ~TZirpelSendClass();
    TZirpelSendClass(const TZirpelSendClass &) = delete;
    TZirpelSendClass &operator=(const TZirpelSendClass &) = delete;

    // Each attempt of a request is given up after this long; tests shorten it.
    int AttemptTimeoutMs = 30000;
    // The pause before the one retry.
    int RetryDelayMs = 500;

    // Sends one SMS. reply is the gateway's answer (not interpreted), or "ERROR " and the reason.
    // True when the gateway answered with success.
    bool SendShortMessage(const TZirpelSettings &settings, const QString &text, const QString &cellNumber,
                          const TProxySettings &proxy, QString &reply);

    // GET of the URL, retried once after a pause. On success lines is the reply body split into lines;
    // otherwise one line "ERROR " and the reason. Blocks the calling thread, which must not be the
    // window's: the request waits in an event loop of its own.
    bool HTTPGetLines(const QString &url, const TProxySettings &proxy, QStringList &lines);

    // The gateway host from the configuration; empty when none is set up.
    static QString GatewayHost();

    // Thread-safe: the request under way, and every later one, ends at once as failed.
    void Abort();

    struct AbortState; // the request under way, as Abort reaches it

private:
    std::shared_ptr<AbortState> m_abort;
};

// The query encoding of the gateway, on the Windows-1252 bytes of the text: a blank becomes "+", letters,
// digits and harmless printable characters pass, everything else becomes "%" and two upper-case hex digits.
QString URLEncodeSMS(const QString &text);

// Completes a typed mobile number to its international form (German numbers first, then Austrian and
// Swiss ones) and checks it. normalized is set also when the number is rejected; error is empty when
// it is accepted. Returns whether it is accepted.
bool NormalizeCellNumber(const QString &typed, QString &normalized, QString &error);

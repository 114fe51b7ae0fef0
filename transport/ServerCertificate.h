#pragma once
// What the line sockets and their callers know about a server's TLS certificate: its SHA-256
// fingerprint, a readable description for the user, and why a handshake refused it.
//
// A user may trust exactly one certificate per server after seeing it. Such a trust stands in for a chain
// that does not verify (self-signed, unknown issuer, expired), never for a certificate issued for another
// host name: the name the user typed must still be one the certificate names.
#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <QStringList>

// The SHA-256 digest of the certificate's DER form as upper-case hex pairs joined by ':' ("AB:CD:…");
// empty for a null certificate.
QString certificateFingerprint(const QSslCertificate &certificate);

// A fingerprint as a user or the settings store gives it: 64 hex digits in any case, with or without
// ':' (blanks around it are ignored). Returns the 32 digest bytes, or empty when the text is not one.
QByteArray parseFingerprint(const QString &text);

// The fingerprint in the form certificateFingerprint() gives; empty when the text is not one.
QString normalizedFingerprint(const QString &text);

// True when trusted (any form parseFingerprint() reads) names exactly this certificate.
bool fingerprintMatches(const QString &trusted, const QSslCertificate &certificate);

// A certificate as the user sees it before trusting it; German labels, dates as dd.MM.yyyy.
struct CertificateDescription {
    QString Subject;     // who it is issued to: common name, organisation, unit, place, country
    QString Issuer;      // who issued it, in the same form
    QStringList Names;   // the host names and addresses it is valid for (alternative names, else its CN)
    QString ValidFrom;
    QString ValidUntil;
    QString Fingerprint; // as certificateFingerprint()

    // One "Label: value" line per field.
    QString Text() const;
};

CertificateDescription describeCertificate(const QSslCertificate &certificate);

// Why a TLS handshake refused the server's certificate. Null when no certificate was refused.
struct CertificateProblem {
    QString Host;
    quint16 Port = 0;
    QSslCertificate Certificate; // the server's own certificate (first of its chain)
    QList<QSslError> Errors;

    bool IsNull() const { return Errors.isEmpty(); }
    // True when trusting exactly this certificate would let the connection through: every error is one
    // of its chain, none says it is issued for another host name.
    bool CanBeTrusted() const;
    // The reasons in German, joined with "; " ("es ist selbst signiert; es ist am 01.02.2024 abgelaufen").
    QString Reasons() const;
    // The whole German error text: the server, the reasons and the fingerprint.
    QString Text() const;
};

// True when a handshake's errors are to be ignored because trusted names the certificate and every
// error is one that such a trust covers.
bool trustCoversErrors(const QString &trusted, const QSslCertificate &certificate, const QList<QSslError> &errors);

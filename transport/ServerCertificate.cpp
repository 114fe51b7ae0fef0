#include "ServerCertificate.h"

#include <QCryptographicHash>
#include <QDateTime>

#include <algorithm>

namespace {

QString germanDate(const QDateTime &when)
{
    return when.isValid() ? when.toLocalTime().toString(QStringLiteral("dd.MM.yyyy")) : QStringLiteral("?");
}

// The parts of a distinguished name a person reads, most specific first.
QString readableName(const QSslCertificate &certificate, bool issuer)
{
    QStringList parts;
    for (const QSslCertificate::SubjectInfo field :
         {QSslCertificate::CommonName, QSslCertificate::Organization, QSslCertificate::OrganizationalUnitName,
          QSslCertificate::LocalityName, QSslCertificate::StateOrProvinceName, QSslCertificate::CountryName}) {
        const QStringList values = issuer ? certificate.issuerInfo(field) : certificate.subjectInfo(field);
        for (const QString &v : values)
            if (!v.trimmed().isEmpty() && !parts.contains(v.trimmed()))
                parts.append(v.trimmed());
    }
    return parts.isEmpty() ? QStringLiteral("(ohne Namen)") : parts.join(QStringLiteral(", "));
}

QStringList validNames(const QSslCertificate &certificate)
{
    QStringList names;
    const auto alternatives = certificate.subjectAlternativeNames();
    for (auto it = alternatives.cbegin(); it != alternatives.cend(); ++it)
        if (it.key() == QSsl::AlternativeNameEntryType::DnsEntry
            || it.key() == QSsl::AlternativeNameEntryType::IpAddressEntry)
            names.append(it.value());
    if (names.isEmpty())
        names = certificate.subjectInfo(QSslCertificate::CommonName);
    return names;
}

// The errors that trusting the one certificate stands in for: it vouches for the certificate in place of
// its issuers, and the user saw its dates before trusting it.
bool coveredByTrust(QSslError::SslError error)
{
    switch (error) {
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
    case QSslError::CertificateRejected:
    case QSslError::InvalidCaCertificate:
    case QSslError::PathLengthExceeded:
    case QSslError::InvalidPurpose:
    case QSslError::CertificateExpired:
    case QSslError::CertificateNotYetValid:
        return true;
    default:
        return false;
    }
}

bool allCoveredByTrust(const QList<QSslError> &errors)
{
    return std::all_of(errors.cbegin(), errors.cend(), [](const QSslError &e) { return coveredByTrust(e.error()); });
}

QString reasonOf(const QSslError &error, const QSslCertificate &serverCertificate, const QString &host)
{
    const QSslCertificate &c = error.certificate().isNull() ? serverCertificate : error.certificate();
    switch (error.error()) {
    case QSslError::SelfSignedCertificate:
        return QStringLiteral("es ist selbst signiert");
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
    case QSslError::InvalidCaCertificate:
        return QStringLiteral("sein Aussteller ist unbekannt oder nicht vertrauenswürdig");
    case QSslError::CertificateExpired:
        return QStringLiteral("es ist am %1 abgelaufen").arg(germanDate(c.expiryDate()));
    case QSslError::CertificateNotYetValid:
        return QStringLiteral("es ist erst ab dem %1 gültig").arg(germanDate(c.effectiveDate()));
    case QSslError::HostNameMismatch:
        return QStringLiteral("es gilt nicht für den Servernamen \"%1\", sondern für: %2")
            .arg(host, validNames(serverCertificate).join(QStringLiteral(", ")));
    case QSslError::CertificateRevoked:
    case QSslError::CertificateBlacklisted:
        return QStringLiteral("es wurde widerrufen");
    case QSslError::NoPeerCertificate:
        return QStringLiteral("der Server hat kein Zertifikat gesendet");
    default:
        return QStringLiteral("es ist ungültig (%1)").arg(error.errorString());
    }
}

} // namespace

QString certificateFingerprint(const QSslCertificate &certificate)
{
    if (certificate.isNull())
        return {};
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
}

QByteArray parseFingerprint(const QString &text)
{
    QByteArray hex = text.trimmed().toLatin1();
    hex.replace(':', QByteArray());
    if (hex.size() != 64)
        return {};
    if (!std::all_of(hex.cbegin(), hex.cend(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        }))
        return {};
    return QByteArray::fromHex(hex);
}

QString normalizedFingerprint(const QString &text)
{
    const QByteArray digest = parseFingerprint(text);
    return digest.isEmpty() ? QString() : QString::fromLatin1(digest.toHex(':').toUpper());
}

bool fingerprintMatches(const QString &trusted, const QSslCertificate &certificate)
{
    const QByteArray wanted = parseFingerprint(trusted);
    return !wanted.isEmpty() && !certificate.isNull()
        && wanted == certificate.digest(QCryptographicHash::Sha256);
}

QString CertificateDescription::Text() const
{
    QStringList lines{QStringLiteral("Ausgestellt für: ") + Subject, QStringLiteral("Ausgestellt von: ") + Issuer};
    if (!Names.isEmpty())
        lines << QStringLiteral("Gilt für: ") + Names.join(QStringLiteral(", "));
    lines << QStringLiteral("Gültig vom %1 bis zum %2").arg(ValidFrom, ValidUntil)
          << QStringLiteral("SHA-256-Fingerabdruck: ") + Fingerprint;
    return lines.join(QLatin1Char('\n'));
}

CertificateDescription describeCertificate(const QSslCertificate &certificate)
{
    CertificateDescription d;
    if (certificate.isNull())
        return d;
    d.Subject = readableName(certificate, false);
    d.Issuer = readableName(certificate, true);
    d.Names = validNames(certificate);
    d.ValidFrom = germanDate(certificate.effectiveDate());
    d.ValidUntil = germanDate(certificate.expiryDate());
    d.Fingerprint = certificateFingerprint(certificate);
    return d;
}

bool CertificateProblem::CanBeTrusted() const
{
    return !Certificate.isNull() && !Errors.isEmpty() && allCoveredByTrust(Errors);
}

QString CertificateProblem::Reasons() const
{
    QStringList reasons;
    for (const QSslError &e : Errors) {
        const QString reason = reasonOf(e, Certificate, Host);
        if (!reasons.contains(reason))
            reasons.append(reason);
    }
    return reasons.join(QStringLiteral("; "));
}

QString CertificateProblem::Text() const
{
    QString text = QStringLiteral("Das Zertifikat des Servers %1 wurde abgelehnt: %2.").arg(Host, Reasons());
    if (!Certificate.isNull())
        text += QStringLiteral(" SHA-256-Fingerabdruck: ") + certificateFingerprint(Certificate);
    return text;
}

bool trustCoversErrors(const QString &trusted, const QSslCertificate &certificate, const QList<QSslError> &errors)
{
    return fingerprintMatches(trusted, certificate) && allCoveredByTrust(errors);
}

// Fingerprints as users and the store give them, the description a user sees before trusting a
// certificate, and the German reasons for a refusal.
#include "QtPrinters.h"
#include "ServerCertificate.h"
#include "TestCertificates.h"

#include <gtest/gtest.h>

namespace {

class ServerCertificateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(certificates.selfSigned(QStringLiteral("pop.example.test"),
                                            {QStringLiteral("DNS:pop.example.test"), QStringLiteral("IP:127.0.0.1")},
                                            &cert, &error))
            << error.toStdString();
    }

    TestCertificates certificates;
    TestCertificate cert;
};

TEST_F(ServerCertificateTest, FingerprintIsOpensslsSha256AndReadInEveryUsualForm)
{
    EXPECT_EQ(certificateFingerprint(cert.Certificate), cert.Fingerprint);
    EXPECT_EQ(certificateFingerprint(QSslCertificate()), QString());

    const QString bare = QString(cert.Fingerprint).remove(u':');
    struct Case {
        const char *name;
        QString text;
        bool valid;
    } cases[] = {
        {"as shown", cert.Fingerprint, true},
        {"lower case", cert.Fingerprint.toLower(), true},
        {"without colons", bare, true},
        {"blanks around", QStringLiteral(" \t") + bare.toLower() + QStringLiteral("\n"), true},
        {"one digit short", bare.left(63), false},
        {"one digit more", bare + u'0', false},
        {"not hex", bare.left(63) + u'g', false},
        {"blank inside", bare.left(32) + u' ' + bare.mid(32), false},
        {"empty", QString(), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fingerprintMatches(c.text, cert.Certificate), c.valid);
        EXPECT_EQ(normalizedFingerprint(c.text), c.valid ? cert.Fingerprint : QString());
        EXPECT_EQ(parseFingerprint(c.text).size(), c.valid ? 32 : 0);
    }
    EXPECT_FALSE(fingerprintMatches(cert.Fingerprint, QSslCertificate()));
}

TEST_F(ServerCertificateTest, DescriptionNamesSubjectIssuerValidityAndFingerprint)
{
    const CertificateDescription d = describeCertificate(cert.Certificate);
    EXPECT_EQ(d.Subject, QStringLiteral("pop.example.test, Quarvel Test"));
    EXPECT_EQ(d.Issuer, d.Subject) << "self-signed";
    EXPECT_EQ(d.Names, QStringList({QStringLiteral("pop.example.test"), QStringLiteral("127.0.0.1")}));
    EXPECT_EQ(d.ValidFrom, cert.Certificate.effectiveDate().toLocalTime().toString(QStringLiteral("dd.MM.yyyy")));
    EXPECT_EQ(d.ValidUntil, cert.Certificate.expiryDate().toLocalTime().toString(QStringLiteral("dd.MM.yyyy")));
    EXPECT_EQ(d.Fingerprint, cert.Fingerprint);
    EXPECT_EQ(d.Text(), QStringLiteral("Ausgestellt für: pop.example.test, Quarvel Test\n"
                                       "Ausgestellt von: pop.example.test, Quarvel Test\n"
                                       "Gilt für: pop.example.test, 127.0.0.1\n"
                                       "Gültig vom %1 bis zum %2\n"
                                       "SHA-256-Fingerabdruck: %3")
                            .arg(d.ValidFrom, d.ValidUntil, cert.Fingerprint));
}

TEST_F(ServerCertificateTest, RefusalTextsNameTheReasonsAndOnlyChainErrorsCanBeTrusted)
{
    const QSslCertificate &c = cert.Certificate;
    const QString until = c.expiryDate().toLocalTime().toString(QStringLiteral("dd.MM.yyyy"));
    const QString from = c.effectiveDate().toLocalTime().toString(QStringLiteral("dd.MM.yyyy"));
    using E = QSslError;
    struct Case {
        const char *name;
        QList<E::SslError> errors;
        QString reasons;
        bool trustable;
    } cases[] = {
        {"self-signed", {E::SelfSignedCertificate}, QStringLiteral("es ist selbst signiert"), true},
        {"unknown issuer", {E::UnableToGetLocalIssuerCertificate, E::UnableToVerifyFirstCertificate},
         QStringLiteral("sein Aussteller ist unbekannt oder nicht vertrauenswürdig"), true},
        {"expired", {E::CertificateExpired}, QStringLiteral("es ist am %1 abgelaufen").arg(until), true},
        {"not yet valid", {E::CertificateNotYetValid}, QStringLiteral("es ist erst ab dem %1 gültig").arg(from), true},
        {"self-signed and expired", {E::SelfSignedCertificate, E::CertificateExpired},
         QStringLiteral("es ist selbst signiert; es ist am %1 abgelaufen").arg(until), true},
        {"wrong host", {E::HostNameMismatch},
         QStringLiteral("es gilt nicht für den Servernamen \"mail.example.test\", sondern für: pop.example.test, "
                        "127.0.0.1"),
         false},
        {"self-signed for the wrong host", {E::SelfSignedCertificate, E::HostNameMismatch},
         QStringLiteral("es ist selbst signiert; es gilt nicht für den Servernamen \"mail.example.test\", sondern "
                        "für: pop.example.test, 127.0.0.1"),
         false},
        {"revoked", {E::CertificateRevoked}, QStringLiteral("es wurde widerrufen"), false},
        {"bad signature", {E::CertificateSignatureFailed},
         QStringLiteral("es ist ungültig (%1)").arg(E(E::CertificateSignatureFailed, c).errorString()), false},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        CertificateProblem p;
        p.Host = QStringLiteral("mail.example.test");
        p.Port = 995;
        p.Certificate = c;
        for (const E::SslError e : k.errors)
            p.Errors.append(E(e, c));
        EXPECT_EQ(p.Reasons(), k.reasons);
        EXPECT_EQ(p.Text(), QStringLiteral("Das Zertifikat des Servers mail.example.test wurde abgelehnt: %1. "
                                           "SHA-256-Fingerabdruck: %2")
                                .arg(k.reasons, cert.Fingerprint));
        EXPECT_EQ(p.CanBeTrusted(), k.trustable);
        EXPECT_EQ(trustCoversErrors(cert.Fingerprint, c, p.Errors), k.trustable);
        EXPECT_FALSE(trustCoversErrors(QString(), c, p.Errors));
    }
    EXPECT_TRUE(CertificateProblem().IsNull());
    EXPECT_FALSE(CertificateProblem().CanBeTrusted());
}

} // namespace

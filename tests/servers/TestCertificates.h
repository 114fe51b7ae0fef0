#pragma once
// Server keys and certificates for tests, made by openssl (Debian package openssl) at test time in a
// temporary folder of their own: self-signed ones, and ones signed by a test authority that no system
// store knows. Elliptic-curve keys, so making one takes milliseconds.
#include <QSslCertificate>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

struct TestCertificate {
    QString CertificateFile; // PEM
    QString KeyFile;         // PEM, unencrypted
    QSslCertificate Certificate;
    QString Fingerprint;     // SHA-256 of the DER form as openssl prints it: "AB:CD:…"
};

class TestCertificates {
public:
    TestCertificates();

    // A self-signed certificate with this common name, valid for the alternative names (openssl's form:
    // "IP:127.0.0.1", "DNS:localhost"). Each call makes a new key: two certificates never match.
    bool selfSigned(const QString &commonName, const QStringList &altNames, TestCertificate *out,
                    QString *error = nullptr);
    // A certificate signed by the folder's test authority (made at the first call).
    bool authoritySigned(const QString &commonName, const QStringList &altNames, TestCertificate *out,
                         QString *error = nullptr);

private:
    bool run(const QStringList &args, QString *error, QByteArray *output = nullptr);
    bool makeAuthority(QString *error);
    bool load(const QString &base, TestCertificate *out, QString *error);
    QString nextBase();

    QTemporaryDir m_dir;
    int m_made = 0;
    bool m_haveAuthority = false;
};

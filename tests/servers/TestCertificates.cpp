#include "TestCertificates.h"

#include <QFile>
#include <QProcess>

namespace {

const QStringList kEcKey{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                         QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};

QString subject(const QString &commonName)
{
    return QStringLiteral("/CN=%1/O=Quarvel Test").arg(commonName);
}

} // namespace

TestCertificates::TestCertificates() = default;

QString TestCertificates::nextBase()
{
    return m_dir.filePath(QStringLiteral("cert%1").arg(++m_made));
}

bool TestCertificates::run(const QStringList &args, QString *error, QByteArray *output)
{
    QProcess openssl;
    openssl.setWorkingDirectory(m_dir.path());
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), args);
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("openssl %1: %2 %3")
                         .arg(args.join(u' '), openssl.errorString(), QString::fromLocal8Bit(openssl.readAll()));
        return false;
    }
    if (output)
        *output = openssl.readAll();
    return true;
}

bool TestCertificates::load(const QString &base, TestCertificate *out, QString *error)
{
    out->CertificateFile = base + QStringLiteral(".pem");
    out->KeyFile = base + QStringLiteral(".key");
    const QList<QSslCertificate> read = QSslCertificate::fromPath(out->CertificateFile);
    if (read.size() != 1) {
        if (error)
            *error = QStringLiteral("cannot read ") + out->CertificateFile;
        return false;
    }
    out->Certificate = read.first();
    // openssl's own reading ("sha256 Fingerprint=AB:CD:…"), independent of the code under test.
    QByteArray printed;
    if (!run({QStringLiteral("x509"), QStringLiteral("-in"), out->CertificateFile, QStringLiteral("-noout"),
              QStringLiteral("-fingerprint"), QStringLiteral("-sha256")},
             error, &printed))
        return false;
    out->Fingerprint = QString::fromLatin1(printed.mid(printed.indexOf('=') + 1).trimmed().toUpper());
    return true;
}

bool TestCertificates::selfSigned(const QString &commonName, const QStringList &altNames, TestCertificate *out,
                                  QString *error)
{
    if (!m_dir.isValid()) {
        if (error)
            *error = QStringLiteral("no temporary folder");
        return false;
    }
    const QString base = nextBase();
    QStringList args{QStringLiteral("req"), QStringLiteral("-x509")};
    args << kEcKey << QStringLiteral("-keyout") << base + QStringLiteral(".key") << QStringLiteral("-out")
         << base + QStringLiteral(".pem") << QStringLiteral("-days") << QStringLiteral("30") << QStringLiteral("-subj")
         << subject(commonName);
    if (!altNames.isEmpty())
        args << QStringLiteral("-addext") << QStringLiteral("subjectAltName=") + altNames.join(u',');
    return run(args, error) && load(base, out, error);
}

bool TestCertificates::makeAuthority(QString *error)
{
    if (m_haveAuthority)
        return true;
    QStringList args{QStringLiteral("req"), QStringLiteral("-x509")};
    args << kEcKey << QStringLiteral("-keyout") << m_dir.filePath(QStringLiteral("ca.key")) << QStringLiteral("-out")
         << m_dir.filePath(QStringLiteral("ca.pem")) << QStringLiteral("-days") << QStringLiteral("30")
         << QStringLiteral("-subj") << QStringLiteral("/CN=Quarvel Test CA/O=Quarvel Test")
         << QStringLiteral("-addext") << QStringLiteral("basicConstraints=critical,CA:TRUE") << QStringLiteral("-addext")
         << QStringLiteral("keyUsage=critical,keyCertSign,cRLSign");
    m_haveAuthority = run(args, error);
    return m_haveAuthority;
}

bool TestCertificates::authoritySigned(const QString &commonName, const QStringList &altNames,
                                       TestCertificate *out, QString *error)
{
    if (!m_dir.isValid() || !makeAuthority(error))
        return false;
    const QString base = nextBase();
    QStringList request{QStringLiteral("req"), QStringLiteral("-new")};
    request << kEcKey << QStringLiteral("-keyout") << base + QStringLiteral(".key") << QStringLiteral("-out")
            << base + QStringLiteral(".csr") << QStringLiteral("-subj") << subject(commonName);
    if (!run(request, error))
        return false;
    QFile extensions(base + QStringLiteral(".ext"));
    if (!extensions.open(QIODevice::WriteOnly)
        || extensions.write("subjectAltName=" + altNames.join(u',').toUtf8() + "\n") < 0) {
        if (error)
            *error = QStringLiteral("cannot write ") + extensions.fileName();
        return false;
    }
    extensions.close();
    const QStringList sign{QStringLiteral("x509"),
                           QStringLiteral("-req"),
                           QStringLiteral("-in"),
                           base + QStringLiteral(".csr"),
                           QStringLiteral("-CA"),
                           m_dir.filePath(QStringLiteral("ca.pem")),
                           QStringLiteral("-CAkey"),
                           m_dir.filePath(QStringLiteral("ca.key")),
                           QStringLiteral("-CAcreateserial"),
                           QStringLiteral("-days"),
                           QStringLiteral("30"),
                           QStringLiteral("-extfile"),
                           base + QStringLiteral(".ext"),
                           QStringLiteral("-out"),
                           base + QStringLiteral(".pem")};
    return run(sign, error) && load(base, out, error);
}

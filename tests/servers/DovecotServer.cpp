#include "DovecotServer.h"

#include "ImapParser.h"
#include "ServerProcess.h"
#include "TestCertificates.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <memory>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const kDovecot = "/usr/sbin/dovecot";

QString userName(uid_t uid)
{
    const passwd *pw = getpwuid(uid);
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString();
}

QString groupName(gid_t gid)
{
    const group *gr = getgrgid(gid);
    return gr ? QString::fromLocal8Bit(gr->gr_name) : QString();
}

// A temporary folder that Dovecot's own users can reach: when running as root they are other users, and
// TMPDIR may point into a private folder.
QString folderTemplate()
{
    const QString base = geteuid() == 0 ? QStringLiteral("/tmp") : QDir::tempPath();
    return base + QStringLiteral("/quarvel-dovecot-XXXXXX");
}

bool writeFile(const QString &path, const QByteArray &data, QFileDevice::Permissions permissions)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
        return false;
    file.close();
    return file.setPermissions(permissions);
}

} // namespace

QList<quint16> freeLoopbackPorts(int count)
{
    // All held at once, so that they differ.
    QList<std::shared_ptr<QTcpServer>> probes;
    QList<quint16> ports;
    for (int i = 0; i < count; ++i) {
        auto probe = std::make_shared<QTcpServer>();
        if (!probe->listen(QHostAddress::LocalHost, 0))
            return {};
        ports.append(probe->serverPort());
        probes.append(probe);
    }
    return ports;
}

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

DovecotServer::DovecotServer() : m_dir(folderTemplate())
{
    m_root = geteuid() == 0;
    if (m_root) {
        // Dovecot's own users; it refuses uid 0 for mail, so the mail belongs to "dovecot" too.
        const passwd *internal = getpwnam("dovecot");
        const passwd *login = getpwnam("dovenull");
        m_internalUser = internal ? QStringLiteral("dovecot") : QStringLiteral("nobody");
        m_loginUser = login ? QStringLiteral("dovenull") : m_internalUser;
        const passwd *mail = getpwnam(qPrintable(m_internalUser));
        m_mailUid = mail ? mail->pw_uid : 65534;
        m_mailGid = mail ? mail->pw_gid : 65534;
        m_internalGroup = groupName(m_mailGid);
    } else {
        m_internalUser = m_loginUser = userName(geteuid());
        m_internalGroup = groupName(getegid());
        m_mailUid = geteuid();
        m_mailGid = getegid();
    }
    if (m_dir.isValid()) {
        // Traversable for Dovecot's users, listable by nobody else.
        ::chmod(QFile::encodeName(m_dir.path()).constData(), 0711);
        QDir(m_dir.path()).mkpath(QStringLiteral("mail"));
        QDir(m_dir.path()).mkpath(QStringLiteral("state"));
        handOver(m_dir.filePath(QStringLiteral("mail")));
    }
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    endWithTestProcess(m_process);
}

DovecotServer::~DovecotServer()
{
    stop();
}

void DovecotServer::handOver(const QString &path) const
{
    if (m_root && ::chown(QFile::encodeName(path).constData(), m_mailUid, m_mailGid) != 0)
        qWarning("DovecotServer: cannot hand %s to the mail user", qPrintable(path));
}

QString DovecotServer::maildir(const QString &user, const QString &folder) const
{
    const QString root = m_dir.filePath(QStringLiteral("mail/") + user);
    if (folder.isEmpty() || folder.compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0)
        return root;
    // Maildir++: a folder is ".name" beside the inbox's new/ and cur/, its name in modified UTF-7.
    return root + QStringLiteral("/.") + QString::fromLatin1(EncodeMailboxName(folder));
}

bool DovecotServer::makeFolder(const QString &user, const QString &folder)
{
    if (!m_users.contains(user) && !makeMaildir(user))
        return false;
    const QString root = maildir(user, folder);
    for (const char *sub : {"", "/new", "/cur", "/tmp"}) {
        const QString path = root + QLatin1String(sub);
        if (!QDir().mkpath(path))
            return false;
        handOver(path);
    }
    // A folder with this file is one Dovecot lists.
    const QString marker = root + QStringLiteral("/maildirfolder");
    if (!writeFile(marker, {}, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup))
        return false;
    handOver(marker);
    return true;
}

bool DovecotServer::makeMaildir(const QString &user)
{
    const QString root = maildir(user);
    for (const char *sub : {"", "/new", "/cur", "/tmp"}) {
        const QString path = root + QLatin1String(sub);
        if (!QDir().mkpath(path))
            return false;
        handOver(path);
    }
    return true;
}

bool DovecotServer::addUser(const QString &name, const QString &password)
{
    const auto bad = [](const QString &s) {
        return s.contains(QLatin1Char(':')) || s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r'));
    };
    if (name.isEmpty() || bad(name) || bad(password) || name.contains(QLatin1Char('/')))
        return false;
    if (m_users.contains(name))
        return m_users.value(name) == password;
    m_users.insert(name, password);
    return makeMaildir(name) && writePasswd(name);
}

bool DovecotServer::writePasswd(const QString &name)
{
    // One file per user: Dovecot re-reads a changed password file at most once a second and may miss a
    // change made within the same second, but it opens a user's own file afresh at that user's first login.
    // Its auth process reads the file as Dovecot's own user.
    QDir(m_dir.path()).mkpath(QStringLiteral("users"));
    const QByteArray line = name.toUtf8() + ":{PLAIN}" + m_users.value(name).toUtf8() + "::::::\n";
    return writeFile(m_dir.filePath(QStringLiteral("users/") + name), line,
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                         | QFileDevice::ReadOther);
}

bool DovecotServer::setTls(const QString &certificateFile, const QString &keyFile)
{
    const auto copy = [this](const QString &from, const QString &name) {
        QFile source(from);
        return source.open(QIODevice::ReadOnly)
            && writeFile(m_dir.filePath(name), source.readAll(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    };
    m_tls = copy(certificateFile, QStringLiteral("tls-cert.pem")) && copy(keyFile, QStringLiteral("tls-key.pem"));
    return m_tls;
}

bool DovecotServer::setSelfSignedTls(TestCertificates &certificates, const QString &commonName,
                                     TestCertificate *made, QString *error)
{
    if (!certificates.selfSigned(commonName, {QStringLiteral("IP:127.0.0.1")}, made, error))
        return false;
    if (setTls(made->CertificateFile, made->KeyFile))
        return true;
    if (error)
        *error = QStringLiteral("cannot copy the certificate into ") + m_dir.path();
    return false;
}

QString DovecotServer::imapConfig() const
{
    QString config = QStringLiteral("namespace inbox {\n  inbox = yes\n");
    if (!m_junkFolder.isEmpty())
        config += QStringLiteral("  mailbox \"%1\" {\n    special_use = \\Junk\n  }\n").arg(m_junkFolder);
    config += QStringLiteral("}\n");
    if (!m_imapCapabilities.isEmpty())
        config += QStringLiteral("imap_capability = %1\n").arg(m_imapCapabilities);
    return config;
}

QString DovecotServer::oauth2Config() const
{
    if (m_oauth2Url.isEmpty())
        return {};
    const QString settings = QStringLiteral("introspection_mode = post\n"
                                            "introspection_url = %1\n"
                                            "force_introspection = yes\n"
                                            "username_attribute = username\n"
                                            "active_attribute = active\n"
                                            "active_value = true\n"
                                            "timeout_msecs = 20000\n")
                                 .arg(m_oauth2Url);
    if (!writeFile(m_dir.filePath(QStringLiteral("oauth2.conf.ext")), settings.toUtf8(),
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther))
        return {};
    // A later auth_mechanisms replaces the one above.
    return QStringLiteral("auth_mechanisms = plain apop %1\n"
                          "passdb {\n"
                          "  driver = oauth2\n"
                          "  mechanisms = %1\n"
                          "  args = %2/oauth2.conf.ext\n"
                          "}\n")
        .arg(m_oauth2Mechanisms, m_dir.path());
}

bool DovecotServer::writeConfig(QString *error)
{
    const QString dir = m_dir.path();
    const QString tls = m_tls ? QStringLiteral("ssl = required\n"
                                               "ssl_cert = <%1/tls-cert.pem\n"
                                               "ssl_key = <%1/tls-key.pem\n"
                                               "ssl_min_protocol = TLSv1.2\n"
                                               "disable_plaintext_auth = yes\n")
                                    .arg(dir)
                              : QStringLiteral("ssl = no\n"
                                               "disable_plaintext_auth = no\n");
    const QString config = QStringLiteral(R"(# Private test instance, written by DovecotServer.
base_dir = %1/run
state_dir = %1/state
instance_name = quarvel-test-%2
log_path = %1/dovecot.log
listen = 127.0.0.1
protocols = pop3 imap
%9auth_mechanisms = plain apop
auth_failure_delay = 0
auth_verbose = yes
default_internal_user = %3
default_internal_group = %4
default_login_user = %5
first_valid_uid = %6
first_valid_gid = %7
mail_location = maildir:%1/mail/%u
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u %1/users/%u
}
userdb {
  driver = static
  args = uid=%6 gid=%7 home=%1/mail/%u
}
service pop3-login {
  chroot =
  inet_listener pop3 {
    address = 127.0.0.1
    port = %2
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = %10
  }
}
service imap-login {
  chroot =
  inet_listener imap {
    address = 127.0.0.1
    port = %11
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = %12
  }
}
%13service anvil {
  chroot =
  # No growing login delay for 127.0.0.1 after the tests' deliberate failed logins.
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
service auth-worker {
  user = %8
}
)")
                               .arg(dir)
                               .arg(m_port)
                               .arg(m_internalUser, m_internalGroup, m_loginUser)
                               .arg(m_mailUid)
                               .arg(m_mailGid)
                               .arg(m_root ? QStringLiteral("root") : m_internalUser, tls)
                               .arg(m_tlsPort)
                               .arg(m_imapPort)
                               .arg(m_imapsPort)
                               .arg(imapConfig())
                               + oauth2Config();
    if (!writeFile(m_dir.filePath(QStringLiteral("dovecot.conf")), config.toUtf8(),
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                       | QFileDevice::ReadOther)) {
        if (error)
            *error = QStringLiteral("cannot write dovecot.conf in ") + dir;
        return false;
    }
    return true;
}

QString DovecotServer::log() const
{
    QFile file(m_dir.filePath(QStringLiteral("dovecot.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool DovecotServer::start(QString *error)
{
    QString why;
    if (!m_dir.isValid())
        why = QStringLiteral("no temporary folder");
    else if (!QFile::exists(QString::fromLatin1(kDovecot)))
        why = QStringLiteral("%1 is missing (Debian packages dovecot-core, dovecot-pop3d and dovecot-imapd)")
                  .arg(kDovecot);
    // The free port may be taken by someone else before Dovecot binds it: then try another one.
    for (int attempt = 0; why.isEmpty() && attempt < 3; ++attempt) {
        stop();
        const QList<quint16> ports = freeLoopbackPorts(m_tls ? 4 : 2);
        if (ports.isEmpty()) {
            why = QStringLiteral("no free port");
            break;
        }
        m_port = ports.at(0);
        m_imapPort = ports.at(1);
        m_tlsPort = m_tls ? ports.at(2) : 0;
        m_imapsPort = m_tls ? ports.at(3) : 0;
        if (!writeConfig(&why))
            break;
        m_process.start(QString::fromLatin1(kDovecot),
                        {QStringLiteral("-F"), QStringLiteral("-c"), m_dir.filePath(QStringLiteral("dovecot.conf"))});
        if (!m_process.waitForStarted(10000)) {
            why = QStringLiteral("dovecot does not start: ") + m_process.errorString();
            break;
        }
        // Ready once the login processes greet on their ports.
        const QDeadlineTimer deadline(20000);
        const auto greets = [](quint16 port, const QByteArray &greeting) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (!probe.waitForConnected(500))
                return false;
            while (!probe.canReadLine() && probe.waitForReadyRead(2000)) {
            }
            return probe.readLine().startsWith(greeting);
        };
        bool pop3 = false;
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            pop3 = pop3 || greets(m_port, "+OK");
            if (pop3 && greets(m_imapPort, "* OK"))
                return true;
            QThread::msleep(50);
        }
        if (m_process.state() == QProcess::Running) {
            why = QStringLiteral("dovecot does not answer on port %1").arg(m_port);
            break;
        }
        why = QStringLiteral("dovecot ended: ") + QString::fromLocal8Bit(m_process.readAll());
    }
    stop();
    if (error)
        *error = why + QStringLiteral("\n") + log();
    return false;
}

void DovecotServer::stop()
{
    stopServerProcess(m_process);
}

QString DovecotServer::deliver(const QString &user, const QByteArray &message, const QString &folder,
                               const QString &flags)
{
    if (!m_users.contains(user) && !makeMaildir(user))
        return {};
    if (!QFileInfo(maildir(user, folder)).isDir() && !makeFolder(user, folder))
        return {};
    QByteArray data = message;
    data.replace("\r\n", "\n");
    // Dovecot numbers new mail in the order of the names' leading time stamps.
    ++m_delivered;
    const QString id = QStringLiteral("%1.M%2P%3.quarvel").arg(1000000000 + m_delivered).arg(m_delivered).arg(getpid());
    const QString temporary = maildir(user, folder) + QStringLiteral("/tmp/") + id;
    if (!writeFile(temporary, data, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup))
        return {};
    handOver(temporary);
    const QString target = flags.isEmpty() ? QStringLiteral("/new/") + id : QStringLiteral("/cur/") + id + QStringLiteral(":2,") + flags;
    if (!QFile::rename(temporary, maildir(user, folder) + target))
        return {};
    return id;
}

QString DovecotServer::messagePath(const QString &user, const QString &id, const QString &folder) const
{
    for (const char *sub : {"/new", "/cur"}) {
        const QDir dir(maildir(user, folder) + QLatin1String(sub));
        for (const QString &name : dir.entryList(QDir::Files)) {
            // Dovecot appends ":2,<flags>" when it moves a message to cur/.
            if (name == id || name.startsWith(id + QLatin1Char(':')) || name.startsWith(id + QLatin1Char(',')))
                return dir.filePath(name);
        }
    }
    return {};
}

bool DovecotServer::remove(const QString &user, const QString &id)
{
    const QString path = messagePath(user, id);
    return !path.isEmpty() && QFile::remove(path);
}

QByteArray DovecotServer::messageFile(const QString &user, const QString &id) const
{
    QFile file(messagePath(user, id));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList DovecotServer::messageIds(const QString &user, const QString &folder) const
{
    QStringList ids;
    for (const char *sub : {"/new", "/cur"}) {
        for (QString name : QDir(maildir(user, folder) + QLatin1String(sub)).entryList(QDir::Files)) {
            const qsizetype info = name.indexOf(QLatin1Char(':'));
            ids.append(info < 0 ? name : name.left(info));
        }
    }
    ids.sort();
    return ids;
}

QString DovecotServer::messageFlags(const QString &user, const QString &id, const QString &folder) const
{
    const QString name = QFileInfo(messagePath(user, id, folder)).fileName();
    const qsizetype info = name.indexOf(QLatin1String(":2,"));
    QString flags = info < 0 ? QString() : name.mid(info + 3);
    std::sort(flags.begin(), flags.end());
    return flags;
}

bool DovecotServer::renumberInbox(const QString &user)
{
    // Without its UID list and index Dovecot numbers the folder afresh, with the next UIDVALIDITY it
    // hands out.
    QDir root(maildir(user));
    bool removed = false;
    for (const QString &name : root.entryList({QStringLiteral("dovecot-uidlist"), QStringLiteral("dovecot.index*")},
                                              QDir::Files))
        removed = root.remove(name) || removed;
    return removed;
}

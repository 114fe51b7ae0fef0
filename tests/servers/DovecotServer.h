#pragma once
// A private Dovecot POP3 server for integration tests: its own configuration, users, maildirs, runtime
// and state folders in a temporary folder, listening on 127.0.0.1 at a free port, stopped (and its folder
// removed) when the object goes.
//
// What Dovecot needs to run this way (Dovecot 2.3, Debian's dovecot-core and dovecot-pop3d):
// - base_dir and state_dir of its own, or it would share /run/dovecot and /var/lib/dovecot with the system
//   instance; instance_name to tell the processes apart.
// - A passwd-file passdb with {PLAIN} passwords (one file per user): APOP needs the plain secret on the
//   server side.
//   auth_mechanisms "plain apop" makes the login process send a timestamp in its greeting.
//   disable_plaintext_auth = no and ssl = no allow USER/PASS without TLS.
// - A static userdb: every user gets the same uid/gid and the maildir <folder>/mail/<user>.
// - Unprivileged (not root): every Dovecot service runs as the current user (default_internal_user,
//   default_login_user, the userdb uid), login processes and anvil without chroot (chroot needs root).
// - As root (CI): the login processes run as dovenull and the auth process as dovecot, as Dovecot wants;
//   the mail processes run as the dovecot user too, because Dovecot refuses uid 0 for mail access, so the
//   maildirs are handed to that user. Those users must traverse the temporary folder (mode 0711, which
//   lists nothing) and read the password files.
// - Login and anvil processes are not chrooted, auth failures are not delayed (auth_failure_delay, and the
//   anvil-auth-penalty socket switched off).
// - Without setTls() there is no TLS at all (ssl = no, the pop3s listener off). With it: ssl = required
//   and disable_plaintext_auth = yes; the POP3 port offers STLS and a second port (tlsPort()) speaks TLS
//   from the first byte. Dovecot counts a connection from its own address as secured, so on loopback it
//   still takes a login in the clear; its log says for each login whether it came over TLS.
#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class TestCertificates;
struct TestCertificate;
// A loopback port that nothing listens on at this moment.
quint16 freeLoopbackPort();

class DovecotServer {
public:
    DovecotServer();
    ~DovecotServer();
    DovecotServer(const DovecotServer &) = delete;
    DovecotServer &operator=(const DovecotServer &) = delete;

    // A user with a plain password (no ':' or line break in either, no '/' in the name). Works before and
    // after start(); a user's password cannot be changed later.
    bool addUser(const QString &name, const QString &password);

    // TLS with this certificate and key (PEM files, copied into the server's folder) from the next start()
    // on. A running server takes a new certificate when it is stopped and started again.
    bool setTls(const QString &certificateFile, const QString &keyFile);
    // The same with a new self-signed certificate for 127.0.0.1, made in certificates; *made tells which.
    bool setSelfSignedTls(TestCertificates &certificates, const QString &commonName, TestCertificate *made,
                          QString *error = nullptr);

    // Writes the configuration, starts Dovecot in the foreground and waits until it greets on its port.
    // On failure *error says why (with Dovecot's log).
    bool start(QString *error = nullptr);
    void stop();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    // The port of TLS from the first byte; 0 without setTls().
    quint16 tlsPort() const { return m_tlsPort; }
    QString folder() const { return m_dir.path(); }
    QString log() const;

    // Puts a message into the user's maildir (new/), with LF line ends as maildirs keep them. Messages are
    // numbered in the order they were put. Returns the message's maildir name, empty on failure.
    QString deliver(const QString &user, const QByteArray &message);
    // Removes that message from the maildir, as another mail client would. False when it is not there.
    bool remove(const QString &user, const QString &id);
    // Names of the messages now in the user's maildir (new/ and cur/), sorted.
    QStringList messageIds(const QString &user) const;
    // The file of a message as the maildir keeps it (deliver's name, wherever Dovecot has moved it since);
    // empty when it is not there.
    QByteArray messageFile(const QString &user, const QString &id) const;

private:
    bool writeConfig(QString *error);
    bool writePasswd(const QString &name);
    bool makeMaildir(const QString &user);
    void handOver(const QString &path) const; // to the mail user, when running as root
    QString maildir(const QString &user) const;

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
    bool m_tls = false;
    QMap<QString, QString> m_users;
    int m_delivered = 0;
    bool m_root = false;
    uint m_mailUid = 0;
    uint m_mailGid = 0;
    QString m_internalUser;
    QString m_internalGroup;
    QString m_loginUser;
};

#pragma once
// A private Dovecot POP3 and IMAP server for integration tests: its own configuration, users, maildirs,
// runtime and state folders in a temporary folder, listening on 127.0.0.1 at free ports, stopped (and its
// folder removed) when the object goes.
//
// What Dovecot needs to run this way (Dovecot 2.3, Debian's dovecot-core, dovecot-pop3d and
// dovecot-imapd):
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
// - Without setTls() there is no TLS at all (ssl = no, the pop3s and imaps listeners off). With it:
//   ssl = required and disable_plaintext_auth = yes; the POP3 port offers STLS and the IMAP port STARTTLS,
//   and a port of each (tlsPort(), imapsPort()) speaks TLS from the first byte. Dovecot counts a
//   connection from its own address as secured, so on loopback it still takes a login in the clear; its
//   log says for each login whether it came over TLS.
// - IMAP folders are maildir++ folders (".Name" beside new/ and cur/, names in modified UTF-7). The
//   folder named by setJunkFolder() carries the special-use flag \Junk where a user has it.
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class TestCertificates;
struct TestCertificate;
// A loopback port that nothing listens on at this moment.
quint16 freeLoopbackPort();
// count such ports, all different; empty when there are not so many.
QList<quint16> freeLoopbackPorts(int count);

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

    // The capabilities the IMAP server announces from the next start() on (Dovecot's imap_capability,
    // e.g. without MOVE or UIDPLUS); empty: Dovecot's own.
    void setImapCapabilities(const QString &capabilities) { m_imapCapabilities = capabilities; }
    // Logins with an access token from the next start() on: the SASL mechanisms (of "xoauth2
    // oauthbearer") offered besides the password ones, and the oauth2 passdb asking introspectionUrl
    // (POST token=...) whether a token is active and whose it is.
    void setOAuth2(const QString &introspectionUrl, const QString &mechanisms = QStringLiteral("xoauth2 oauthbearer"))
    {
        m_oauth2Url = introspectionUrl;
        m_oauth2Mechanisms = mechanisms;
    }
    // The folder that carries the special-use flag \Junk from the next start() on; empty: none.
    void setJunkFolder(const QString &folder) { m_junkFolder = folder; }

    // Writes the configuration, starts Dovecot in the foreground and waits until it greets on its port.
    // On failure *error says why (with Dovecot's log).
    bool start(QString *error = nullptr);
    void stop();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    // The port of TLS from the first byte; 0 without setTls().
    quint16 tlsPort() const { return m_tlsPort; }
    // The IMAP ports: plain (STARTTLS with setTls()), and TLS from the first byte (0 without setTls()).
    quint16 imapPort() const { return m_imapPort; }
    quint16 imapsPort() const { return m_imapsPort; }
    QString folder() const { return m_dir.path(); }
    QString log() const;

    // Puts a message into the user's maildir (new/; with flags, such as "S" or "T", into cur/ with those
    // maildir flags), or into one of its folders, with LF line ends as maildirs keep them. Messages are
    // numbered in the order they were put. Returns the message's maildir name, empty on failure.
    QString deliver(const QString &user, const QByteArray &message, const QString &folder = QString(),
                    const QString &flags = QString());
    // Makes an empty folder of the user's mailbox, as another mail client would.
    bool makeFolder(const QString &user, const QString &folder);
    // Removes that message from the maildir, as another mail client would. False when it is not there.
    bool remove(const QString &user, const QString &id);
    // Names of the messages now in the user's maildir (new/ and cur/) or one of its folders, sorted.
    QStringList messageIds(const QString &user, const QString &folder = QString()) const;
    // The maildir flags of a message ("S" seen, "T" deleted, ...), sorted; empty for none or when it is
    // not there.
    QString messageFlags(const QString &user, const QString &id, const QString &folder = QString()) const;
    // Makes Dovecot give the user's inbox a new UIDVALIDITY at its next access, as after a rebuild of
    // its index: the messages stay, their UIDs are new.
    bool renumberInbox(const QString &user);
    // The file of a message as the maildir keeps it (deliver's name, wherever Dovecot has moved it since);
    // empty when it is not there.
    QByteArray messageFile(const QString &user, const QString &id) const;

private:
    bool writeConfig(QString *error);
    QString imapConfig() const;
    QString oauth2Config() const;
    bool writePasswd(const QString &name);
    bool makeMaildir(const QString &user);
    void handOver(const QString &path) const; // to the mail user, when running as root
    QString maildir(const QString &user, const QString &folder = QString()) const;
    // The path of deliver's message id in new/ or cur/ of the folder; empty when it is not there.
    QString messagePath(const QString &user, const QString &id, const QString &folder = QString()) const;

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
    quint16 m_imapPort = 0;
    quint16 m_imapsPort = 0;
    bool m_tls = false;
    QString m_imapCapabilities;
    QString m_junkFolder;
    QString m_oauth2Url;
    QString m_oauth2Mechanisms;
    QMap<QString, QString> m_users;
    int m_delivered = 0;
    bool m_root = false;
    uint m_mailUid = 0;
    uint m_mailGid = 0;
    QString m_internalUser;
    QString m_internalGroup;
    QString m_loginUser;
};

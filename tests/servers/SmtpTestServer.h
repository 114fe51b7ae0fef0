#pragma once
// A real SMTP receiver for integration tests: Debian's aiosmtpd (tests/servers/smtp_receiver.py) on
// 127.0.0.1 at a free port, stopped when the object goes. It records every command, login and accepted
// message, and can refuse EHLO, refuse recipients and offer AUTH PLAIN, LOGIN, both or none. With a
// certificate it speaks TLS: STARTTLS required before anything else, or TLS from the first byte.
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class SmtpTestServer {
public:
    struct Options {
        QString auth = QStringLiteral("none"); // "none", "plain", "login" or "both"
        QString user;                          // the one login it accepts
        QString password;
        bool refuseEhlo = false;               // EHLO gets 502, HELO works
        QStringList rejectRecipients;          // RCPT TO these gets 550
        QString tls = QStringLiteral("none");  // "none", "starttls" (required), "starttls-optional", "implicit"
        QString certificateFile;               // PEM, for tls other than "none"
        QString keyFile;
        QString oauthIntrospection; // offer XOAUTH2, asking this endpoint whether a token is good
    };
    struct Message {
        QString from;
        QStringList recipients;
        QByteArray data; // as received, dot-stuffing removed
        bool encrypted = false;
    };

    explicit SmtpTestServer(const Options &options);
    SmtpTestServer() : SmtpTestServer(Options()) {}
    ~SmtpTestServer();
    SmtpTestServer(const SmtpTestServer &) = delete;
    SmtpTestServer &operator=(const SmtpTestServer &) = delete;

    // Starts the receiver and waits until it listens. On failure *error says why.
    bool start(QString *error = nullptr);
    void stop();

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }

    // What it has seen so far, in order.
    QList<QJsonObject> records() const;
    // Every command as "VERB argument" ("EHLO name", "RCPT TO:<a@b>", "DATA").
    QStringList commands() const;
    QList<Message> messages() const;
    // The logins tried: {"auth": mechanism, "login": ..., "password": ..., "tls": encrypted}.
    QList<QJsonObject> logins() const;

private:
    Options m_options;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};

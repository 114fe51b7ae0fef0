#pragma once
// Why a conversation with a mail server failed, as far as the user can act on it, and the German
// explanation that goes ahead of the server's (or the network's) own words. The clients tell the kind of
// their last failure (Pop3Client::failureKind, SmtpClient::failureKind); the texts live only here, so the
// login test, a check's progress lines and the server search explain a failure alike.
#include <QAbstractSocket>
#include <QString>

enum class TFailureKind {
    Other,             // nothing to add to the text itself
    LoginRefused,      // the server refused the login name or the password
    ConnectionRefused, // nothing takes connections on that port
    HostNotFound,      // the server's name is not known
    TimedOut,          // the server did not answer in time
    NoTlsOnPort,       // TLS was asked for on a port where the server speaks plain text
};

// Whose usual ports an explanation names.
enum class TServerRole { Incoming, Outgoing, IncomingImap };

// The explanation of a kind; empty for Other.
QString FailureExplanation(TFailureKind kind, TServerRole role = TServerRole::Incoming);

// The explanation, then the text as it came ("… Meldung: <text>"); the text alone for Other or when the
// text already starts with the explanation.
QString ExplainedFailureText(TFailureKind kind, const QString &text, TServerRole role = TServerRole::Incoming);

// The kind of a failed connect, from the socket's own error.
TFailureKind FailureKindOfSocketError(QAbstractSocket::SocketError error);

// True when a failed TLS handshake's text says that the server answered with something that is not TLS
// (OpenSSL's "wrong version number" for a greeting in plain text).
bool HandshakeMetPlainText(const QString &handshakeError);

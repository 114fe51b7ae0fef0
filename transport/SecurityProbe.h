#pragma once
// The server search of the new-account assistant: which port and security a mail server answers with,
// found before anything of a login is sent. The candidates are tried in order, and the first where a TLS
// handshake completes wins. A certificate that does not verify still counts as found: the server speaks
// TLS there, and whether to trust that certificate is asked at the first real connection, as always.
// The protocol's own attempt (POP3's greeting and STLS, IMAP's greeting and STARTTLS, SMTP's EHLO and
// STARTTLS) is passed in.
#include "ConnectionFailure.h"

#include <QList>
#include <QString>

#include <functional>

// One place to try: a port, with TLS from the first byte or an upgrade of a plain connection.
struct TProbeCandidate {
    quint16 Port = 0;
    bool ImplicitTls = true;
    bool operator==(const TProbeCandidate &) const = default;
};

// What one attempt found.
struct TProbeAttempt {
    bool Encrypted = false; // a TLS handshake completed, or reached a certificate not trusted yet
    bool PlainText = false; // the server answered there, but not with TLS
    TFailureKind Failure = TFailureKind::Other;
    QString ErrorText;
};

// What the search found.
struct TProbeResult {
    bool Found = false;
    TProbeCandidate Where;  // when found
    bool PlainText = false; // not found, but a server answered in plain text
    bool Cancelled = false;
    QString ErrorText;      // not found: the last attempt's failure, explained
};

// The usual places, in the order they are tried: POP3 over TLS on 995, STLS on 110; IMAP over TLS on 993,
// STARTTLS on 143; SMTP over TLS on 465, STARTTLS on 587.
inline const QList<TProbeCandidate> kIncomingProbeOrder = {{995, true}, {110, false}};
inline const QList<TProbeCandidate> kImapProbeOrder = {{993, true}, {143, false}};
inline const QList<TProbeCandidate> kOutgoingProbeOrder = {{465, true}, {587, false}};
// The longest one attempt may take, from connect to the end of its handshake.
inline constexpr int kProbeLimitMs = 10000;

// Tries order in turn with attempt until one is encrypted; cancelled() is asked before each attempt and
// after it (an attempt the user gave up tells nothing).
TProbeResult ProbeInOrder(const QList<TProbeCandidate> &order,
                          const std::function<TProbeAttempt(const TProbeCandidate &)> &attempt,
                          const std::function<bool()> &cancelled, TServerRole role);

#pragma once
// The pieces of IMAP4rev1 (RFC 3501) that need no connection: reading one server response, quoting
// what a command sends, mailbox names in modified UTF-7, and UID sets. Pure functions over bytes.
//
// A response arrives as pieces: its line, cut after each "{n}" that announces a literal, with the n
// octets of each literal as a piece of its own in between (line, literal, rest of the line, literal, ...,
// last rest). The client collects the pieces as data arrives; ParseImapResponse takes them apart.
#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// One value of a response: an atom (flags, keywords, numbers, "BODY[HEADER]"), a string (quoted or a
// literal, its octets), NIL, or a parenthesized list.
struct ImapValue {
    enum Kind { Atom, String, Nil, List };
    Kind kind = Atom;
    QByteArray text;        // the atom's or the string's octets
    QList<ImapValue> items; // the list's values

    bool isAtom(const char *name) const;        // an atom of that name, without regard to case
    // An atom that is a whole number up to 2^63-1; nothing otherwise.
    std::optional<qint64> number() const;
};

struct ImapResponse {
    enum Kind { Untagged, Tagged, Continuation };
    Kind kind = Untagged;
    QByteArray line;        // the first line as it came (for error texts)
    QByteArray tag;         // Tagged only
    // The status (OK, NO, BAD, BYE, PREAUTH) or the data keyword (CAPABILITY, FETCH, EXISTS, LIST, ...),
    // in upper case.
    QByteArray name;
    qint64 number = -1;     // "* 23 EXISTS": 23; -1 without a number
    // Status responses: the response code ("UIDVALIDITY", "CAPABILITY", "TRYCREATE", ...), in upper
    // case, with its arguments, and the text after it.
    QByteArray code;
    QList<ImapValue> codeArgs;
    QByteArray text;
    QByteArray fullText; // all of the status text, the response code in its brackets included
    // Data responses: the values after the keyword (for FETCH its one list).
    QList<ImapValue> values;

    bool isStatus() const; // OK, NO, BAD, BYE or PREAUTH
};

// Reads one response from its pieces. False (with *error saying where) when it is not a response.
bool ParseImapResponse(const QByteArrayList &pieces, ImapResponse *response, QString *error = nullptr);

// The length a line piece announces for the literal after it ("... {123}" or "{123+}"); nothing when it
// announces none; -1 for an announcement that is no length (not a number, or beyond 2^53).
std::optional<qint64> AnnouncedLiteral(const QByteArray &linePiece);

// An argument of a command: as an atom when it is one, otherwise as a quoted string; nothing when only a
// literal can carry it (line breaks, NUL, octets beyond 7 bits, or longer than 1000 octets).
std::optional<QByteArray> ImapQuoted(const QByteArray &text);

// Mailbox names on the wire are modified UTF-7 (RFC 3501 5.1.3).
QByteArray EncodeMailboxName(const QString &name);
// Octets that are no valid modified UTF-7 are read as Latin-1, as servers that do not encode send them.
QString DecodeMailboxName(const QByteArray &wire);

// A UID set in its shortest form ("1:5,7,9:12") for ascending, distinct UIDs. Sets of many UIDs are cut
// into several of at most maxOctets each.
QByteArrayList UidSets(const QList<uint32_t> &ascendingUids, int maxOctets = 4000);
// The UIDs of a set as a server writes it (ESEARCH "ALL", COPYUID): ascending, distinct, at most max of
// them; nothing when the set cannot be read or holds more.
std::optional<QList<uint32_t>> ParseUidSet(const QByteArray &set, qsizetype max);

// The value after the key in a list of alternating keys and values (FETCH's list), the key compared
// without regard to case; null when absent.
const ImapValue *FetchItem(const QList<ImapValue> &items, const char *key);

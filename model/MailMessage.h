#pragma once
// A parsed Internet message (RFC 2822 header block, MIME body per RFC 2045-2047), parsed by GMime.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

struct TMailAddress {
    QString Name;
    QString Address;
    bool operator==(const TMailAddress &) const = default;
};

struct TMailPart {
    QString ContentType;   // e.g. "text/plain; charset=utf-8"
    QStringList Headers;   // the part's own header lines, "Name: value"
    QStringList Body;      // decoded text lines (empty for an attachment)
    bool IsText = false;   // false: an attachment
    QString FileName;      // attachment file name, when it has one
    bool operator==(const TMailPart &) const = default;
};

// Filled from bytes by GMime and turned into plain Qt data at once: no GMime object outlives a call, so
// copies are cheap value copies and an object may move between threads (one thread at a time).
class MailMessage {
public:
    MailMessage();
    ~MailMessage();
    MailMessage(const MailMessage &) = default;
    MailMessage &operator=(const MailMessage &) = default;
    MailMessage(MailMessage &&) noexcept = default;
    MailMessage &operator=(MailMessage &&) noexcept = default;

    // Empties every field, UID included; NoDecode stays as it is.
    void Clear();
    // The Fill functions replace the message's content; UID and NoDecode are left alone.
    // A header block as TOP n 0 delivers it (CR LF or LF line ends, dot-unstuffed, with or without the
    // empty line at its end). False when no header line could be read.
    bool FillFromHeader(const QByteArray &headerBlock);
    // A complete raw message. False when it cannot be parsed at all.
    bool FillFromRaw(const QByteArray &raw);
    // The message as raw text with CR LF line ends (the header block, an empty line, the body). While the
    // fields still hold what the last Fill gave them, that is the text as received; after a change (or
    // for a message built from its fields) GMime composes the message from the fields. Attachments of
    // a parsed message survive only as long as its body fields (Body, Parts, ContentType) are unchanged:
    // their data is not kept in the fields.
    QByteArray WriteRaw() const;

    // Value of the first header field of that name (case-blind), unfolded and decoded; empty if absent.
    QString HeaderValue(const QString &name) const;
    // Every value of that field, in order.
    QStringList HeaderValues(const QString &name) const;
    // The whole header block as text with CR LF line ends.
    QString HeaderText() const;
    bool HasText() const { return !Body.isEmpty() || !Parts.isEmpty(); }

    bool NoDecode = false;

    TMailAddress From;
    QList<TMailAddress> Recipients;
    QList<TMailAddress> Cc;
    QString Subject;
    QDateTime Date;        // local time; invalid when the message has no readable Date header
    QString MsgId;         // the Message-ID value trimmed, angle brackets kept: "<id@host>"
    QStringList Headers;   // "Name: value" as received (unfolded), in order
    QStringList Body;      // text lines of a single-part body
    QList<TMailPart> Parts;
    QString ContentType;
    QString UID;

private:
    // The fields as the last Fill left them; WriteRaw compares against them to know whether the raw
    // text still says the same.
    struct Snapshot {
        TMailAddress From;
        QList<TMailAddress> Recipients;
        QList<TMailAddress> Cc;
        QString Subject;
        QDateTime Date;
        QString MsgId;
        QStringList Headers;
        QStringList Body;
        QList<TMailPart> Parts;
        QString ContentType;
    };
    Snapshot snapshot() const;
    bool headerUnchanged() const;
    bool bodyUnchanged() const;
    void clearContent();

    QByteArray m_rawHeader; // the header block as received, without the empty line after it
    QByteArray m_rawBody;   // the body as received (only after FillFromRaw)
    Snapshot m_filled;
};

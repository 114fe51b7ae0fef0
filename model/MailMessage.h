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

// The addresses of an address-list text as a header holds it ("Name <a@b.de>, c@d.de"), in order.
// Empty when the text holds none.
QList<TMailAddress> ParseAddressList(const QString &text);

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
    // fields still hold what the last Fill gave them, that is the text as received. Otherwise GMime
    // composes the header from the fields (other header lines of a parsed message travel on); the body
    // stays as received while Body, Parts and ContentType are unchanged, else it is composed from them,
    // text parts only: the fields keep no attachment data.
    QByteArray WriteRaw() const;

    // Value of the first header field of that name (case-blind), unfolded and decoded; empty if absent.
    QString HeaderValue(const QString &name) const;
    // Every value of that field, in order.
    QStringList HeaderValues(const QString &name) const;
    // The whole header block as text: the Headers lines, each ended by CR LF.
    QString HeaderText() const;
    bool HasText() const { return !Body.isEmpty() || !Parts.isEmpty(); }

    // Set before a Fill: bodies are kept as transmitted (no transfer decoding, no charset conversion).
    bool NoDecode = false;

    TMailAddress From;
    QList<TMailAddress> Recipients;
    QList<TMailAddress> Cc;
    QString Subject;
    QDateTime Date;        // local time; invalid when the message has no readable Date header
    QString MsgId;         // the Message-ID value trimmed, angle brackets kept: "<id@host>"
    // "Name: value" as received, in order: not decoded, each fold joined with one blank. A line without
    // a colon is not a header line and is dropped.
    QStringList Headers;
    QStringList Body;      // text lines of a single-part text body
    // The leaves of a multipart body in document order, nested multiparts flattened. A message whose
    // whole body is one non-text part (an image, an enclosed message) has it here as one attachment.
    QList<TMailPart> Parts;
    QString ContentType;   // "type/subtype; name=value" (lower-case type; text/plain when not declared)
    QString UID;

private:
    // Headers and the fields read from them: From, Recipients, Cc, Subject, Date, MsgId.
    void takeHeaderFields(const QStringList &headers);
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

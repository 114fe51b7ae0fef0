#include "MailMessage.h"

#include "TextCodec.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <gmime/gmime.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// ---- GMime plumbing --------------------------------------------------------------------------------

struct GObjectUnref {
    void operator()(gpointer p) const
    {
        if (p)
            g_object_unref(p);
    }
};
template <class T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

struct GFreeDeleter {
    void operator()(gpointer p) const { g_free(p); }
};
using CharPtr = std::unique_ptr<char, GFreeDeleter>;

struct DateTimeUnref {
    void operator()(GDateTime *d) const
    {
        if (d)
            g_date_time_unref(d);
    }
};
using DatePtr = std::unique_ptr<GDateTime, DateTimeUnref>;

// GMime is initialised once for the process and never shut down: messages are parsed on the POP3
// worker and on the main thread, and a shutdown while the other thread parses would pull the charset
// tables from under it. The parser options are read-only after this and GMime copies them into every
// header list, so all threads can share them.
GMimeParserOptions *parserOptions()
{
    static GMimeParserOptions *options = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        g_mime_init();
        options = g_mime_parser_options_new();
        // 8-bit header text without a declared charset: UTF-8 when it is valid UTF-8, else Windows-1252,
        // the rule used for all stored 8-bit text.
        static const char *fallback[] = {"UTF-8", "windows-1252", nullptr};
        g_mime_parser_options_set_fallback_charsets(options, fallback);
        // Real mail breaks the rules; decode what can be decoded rather than show raw encoded words.
        g_mime_parser_options_set_rfc2047_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_address_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_parameter_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_allow_addresses_without_domain(options, TRUE);
    });
    return options;
}

GPtr<GMimeMessage> parseMessage(const QByteArray &bytes)
{
    GMimeParserOptions *options = parserOptions();
    if (bytes.isEmpty())
        return nullptr;
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size())));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    return GPtr<GMimeMessage>(g_mime_parser_construct_message(parser.get(), options));
}

QByteArray streamBytes(GMimeStream *mem)
{
    GByteArray *array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    if (!array || array->len == 0)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(array->data), qsizetype(array->len));
}

QString fromGChars(const char *text)
{
    return text ? platform::decode8bit(QByteArray(text)) : QString();
}

// ---- Text helpers ---------------------------------------------------------------------------------

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// A folded raw header value as one line: every line break with the blanks around it becomes one blank,
// so that continuation lines never run into the words before them.
QByteArray unfold(const QByteArray &raw)
{
    QByteArray out;
    out.reserve(raw.size());
    bool pendingBreak = false;
    for (const char c : raw) {
        if (c == '\r' || c == '\n') {
            while (!out.isEmpty() && isBlank(out.back()))
                out.chop(1);
            pendingBreak = true;
            continue;
        }
        if (pendingBreak) {
            if (isBlank(c))
                continue;
            if (!out.isEmpty())
                out.append(' ');
            pendingBreak = false;
        }
        out.append(c);
    }
    return out.trimmed();
}

QString headerLine(GMimeHeader *header)
{
    const char *raw = g_mime_header_get_raw_value(header);
    const char *value = raw ? raw : g_mime_header_get_value(header);
    return fromGChars(g_mime_header_get_name(header)) + QStringLiteral(": ")
           + platform::decode8bit(unfold(QByteArray(value ? value : "")));
}

// The header lines of one or more header lists, in the order they stood in the text.
QStringList headerLines(std::initializer_list<GMimeObject *> objects)
{
    struct Line {
        gint64 offset;
        QString text;
    };
    std::vector<Line> lines;
    for (GMimeObject *object : objects) {
        if (!object)
            continue;
        GMimeHeaderList *list = g_mime_object_get_header_list(object);
        const int count = list ? g_mime_header_list_get_count(list) : 0;
        for (int i = 0; i < count; ++i) {
            GMimeHeader *header = g_mime_header_list_get_header_at(list, i);
            if (header)
                lines.push_back({g_mime_header_get_offset(header), headerLine(header)});
        }
    }
    // GMime keeps a message's Content-* fields with its body part; merge them back by their offsets.
    std::stable_sort(lines.begin(), lines.end(), [](const Line &a, const Line &b) {
        const gint64 ka = a.offset < 0 ? G_MAXINT64 : a.offset;
        const gint64 kb = b.offset < 0 ? G_MAXINT64 : b.offset;
        return ka < kb;
    });
    QStringList out;
    out.reserve(qsizetype(lines.size()));
    for (Line &line : lines)
        out.append(std::move(line.text));
    return out;
}

// Name and value of a "Name: value" line; false for a line without a colon.
bool splitHeaderLine(const QString &line, QStringView *name, QStringView *value)
{
    const qsizetype colon = line.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    *name = QStringView(line).left(colon).trimmed();
    *value = QStringView(line).mid(colon + 1).trimmed();
    return true;
}

QStringList rawHeaderValues(const QStringList &headers, const QString &name, bool firstOnly)
{
    QStringList values;
    const QString wanted = name.trimmed();
    for (const QString &line : headers) {
        QStringView lineName, value;
        if (!splitHeaderLine(line, &lineName, &value))
            continue;
        if (lineName.compare(wanted, Qt::CaseInsensitive) != 0)
            continue;
        values.append(value.toString());
        if (firstOnly)
            break;
    }
    return values;
}

// NUL bytes dropped: GMime hands header text over as C strings, which would end at the first of them and
// lose the rest of the field.
QByteArray withoutNul(QByteArray bytes)
{
    if (bytes.contains('\0'))
        bytes.removeIf([](char c) { return c == '\0'; });
    return bytes;
}

bool startsWithOneOf(const QByteArray &name, std::initializer_list<const char *> prefixes)
{
    for (const char *prefix : prefixes)
        if (name.startsWith(prefix))
            return true;
    return false;
}

// The decoder for text in a charset in which a NUL character is not the byte 0 (UTF-16, UTF-32, UTF-7);
// an invalid one for every other charset. Without a byte order mark, UTF-16 and UTF-32 are big-endian
// (RFC 2781), not the host's order Qt would take.
QStringDecoder wideDecoder(const QByteArray &name, const QByteArray &bytes)
{
    const bool endianNamed = name.endsWith("le") || name.endsWith("be");
    if (startsWithOneOf(name, {"utf-16", "utf16", "ucs-2", "ucs2"}))
        return QStringDecoder(endianNamed ? name.constData()
                              : bytes.startsWith("\xFF\xFE") ? "utf-16le"
                                                               : "utf-16be");
    if (startsWithOneOf(name, {"utf-32", "utf32", "ucs-4", "ucs4"}))
        return QStringDecoder(endianNamed ? name.constData()
                              : bytes.startsWith(QByteArray("\xFF\xFE\0\0", 4)) ? "utf-32le"
                                                                                  : "utf-32be");
    if (startsWithOneOf(name, {"utf-7", "utf7", "unicode-1-1-utf-7"}))
        return QStringDecoder(name.constData());
    return QStringDecoder();
}

// The bytes of a Q-encoded word: "_" is a blank, "=XX" a byte, anything else itself (so a broken "=ZZ"
// stays as it stands, as GMime shows it).
QByteArray decodeQ(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '_') {
            out.append(' ');
        } else if (c == '=' && i + 2 < text.size() && std::isxdigit(uchar(text.at(i + 1)))
                   && std::isxdigit(uchar(text.at(i + 2)))) {
            out.append(QByteArray::fromHex(text.mid(i + 1, 2)));
            i += 2;
        } else {
            out.append(c);
        }
    }
    return out;
}

QString encodedWordQ(const QByteArray &charset, const QByteArray &bytes)
{
    QString out = QStringLiteral("=?") + QString::fromLatin1(charset) + QStringLiteral("?Q?");
    for (const char c : bytes) {
        const uchar u = uchar(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9'))
            out += QLatin1Char(c);
        else
            out += QString::asprintf("=%02X", unsigned(u));
    }
    return out + QStringLiteral("?=");
}

// Encoded words rewritten so that GMime decodes them whole:
// - every run of adjacent words of one charset becomes one Q word with the run's bytes, as RFC 2047 reads
//   them: a character split across two words stays whole, and GMime 3.2.13's joining of base64 words, whose
//   padding then swallows the rest of the text (GMime issue 133), never happens;
// - NUL characters are dropped: GMime hands its result over as a C string, which would end at the first of
//   them and lose everything after it. In UTF-16, UTF-32 and UTF-7 a NUL is not a 0 byte, so runs in those
//   are decoded here and passed on as UTF-8.
// A word that does not decode (bad base64) is left as it is.
QString normalizeEncodedWords(const QString &raw)
{
    if (!raw.contains(QLatin1String("=?")))
        return raw;
    static const QRegularExpression word(QStringLiteral(R"(=\?([^?\s]+)\?([bBqQ])\?([^?\s]*)\?=)"));
    struct Run {
        qsizetype start;
        qsizetype end;
        QByteArray charset; // as written, with any "*language"
        QByteArray bytes;
    };
    QList<Run> runs;
    for (QRegularExpressionMatchIterator it = word.globalMatch(raw); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QByteArray text = m.captured(3).toLatin1();
        QByteArray bytes;
        if (m.captured(2).compare(QLatin1String("b"), Qt::CaseInsensitive) == 0) {
            const QByteArray::FromBase64Result decoded =
                QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded)
                continue;
            bytes = *decoded;
        } else {
            bytes = decodeQ(text);
        }
        const QByteArray charset = m.captured(1).toLatin1();
        const bool joins = !runs.isEmpty() && runs.last().charset.compare(charset, Qt::CaseInsensitive) == 0
                           && QStringView(raw).mid(runs.last().end, m.capturedStart() - runs.last().end).trimmed().isEmpty();
        if (joins) {
            runs.last().end = m.capturedEnd();
            runs.last().bytes += bytes;
        } else {
            runs.append({m.capturedStart(), m.capturedEnd(), charset, bytes});
        }
    }
    QString out;
    qsizetype last = 0;
    for (const Run &run : std::as_const(runs)) {
        out += QStringView(raw).mid(last, run.start - last);
        last = run.end;
        const qsizetype star = run.charset.indexOf('*'); // a "*language" suffix (RFC 2231)
        const QByteArray name = (star < 0 ? run.charset : run.charset.first(star)).toLower();
        QStringDecoder wide = wideDecoder(name, run.bytes);
        if (wide.isValid()) {
            QString text = wide.decode(run.bytes);
            text.remove(QChar(0));
            out += encodedWordQ("UTF-8", text.toUtf8());
        } else {
            out += encodedWordQ(run.charset, withoutNul(run.bytes));
        }
    }
    out += QStringView(raw).mid(last);
    return out;
}

QString decodeHeaderText(const QString &raw)
{
    if (raw.isEmpty())
        return QString();
    const QByteArray utf8 = normalizeEncodedWords(raw).toUtf8();
    CharPtr decoded(g_mime_utils_header_decode_text(parserOptions(), utf8.constData()));
    return decoded ? QString::fromUtf8(decoded.get()).trimmed() : raw;
}

QStringList splitLines(const QString &text)
{
    if (text.isEmpty())
        return QStringList();
    QStringList lines;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype nl = text.indexOf(QLatin1Char('\n'), start);
        if (nl < 0) {
            lines.append(text.mid(start));
            break;
        }
        qsizetype end = nl;
        if (end > start && text.at(end - 1) == QLatin1Char('\r'))
            --end;
        lines.append(text.mid(start, end - start));
        start = nl + 1;
    }
    return lines;
}

QByteArray toCrlf(const QByteArray &in)
{
    QByteArray out;
    out.reserve(in.size() + in.size() / 32 + 2);
    char previous = 0;
    for (const char c : in) {
        if (c == '\n' && previous != '\r')
            out.append('\r');
        out.append(c);
        previous = c;
    }
    return out;
}

// The header block (up to and with the line end of its last line) and the body after the empty line.
void splitAtEmptyLine(const QByteArray &raw, QByteArray *header, QByteArray *body)
{
    qsizetype pos = 0;
    while (pos < raw.size()) {
        const qsizetype nl = raw.indexOf('\n', pos);
        qsizetype end = nl < 0 ? raw.size() : nl;
        if (end > pos && raw.at(end - 1) == '\r')
            --end;
        if (end == pos) {
            *header = raw.left(pos);
            *body = nl < 0 ? QByteArray() : raw.mid(nl + 1);
            return;
        }
        if (nl < 0)
            break;
        pos = nl + 1;
    }
    *header = raw;
    body->clear();
}

// A raw message with the NUL bytes of its header block dropped; the body stays as it is.
QByteArray headerWithoutNul(const QByteArray &raw)
{
    QByteArray header, body;
    splitAtEmptyLine(raw, &header, &body);
    if (!header.contains('\0'))
        return raw;
    return withoutNul(header) + raw.mid(header.size());
}

// ---- Addresses, dates, content types --------------------------------------------------------------

void appendAddresses(InternetAddressList *list, QList<TMailAddress> *out, int depth = 0)
{
    const int count = list ? internet_address_list_length(list) : 0;
    for (int i = 0; i < count; ++i) {
        InternetAddress *address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
            TMailAddress a;
            a.Name = QString::fromUtf8(internet_address_get_name(address)).trimmed();
            a.Address = fromGChars(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
            if (!a.Name.isEmpty() || !a.Address.isEmpty())
                out->append(a);
        } else if (INTERNET_ADDRESS_IS_GROUP(address) && depth < 4) {
            appendAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), out,
                            depth + 1);
        }
    }
}

QList<TMailAddress> parseAddresses(const QStringList &rawValues)
{
    QList<TMailAddress> out;
    for (const QString &raw : rawValues) {
        const QByteArray utf8 = normalizeEncodedWords(raw).toUtf8();
        GPtr<InternetAddressList> list(internet_address_list_parse(parserOptions(), utf8.constData()));
        appendAddresses(list.get(), &out);
    }
    return out;
}

QDateTime parseDate(const QString &raw)
{
    if (raw.isEmpty())
        return QDateTime();
    const QByteArray utf8 = raw.toUtf8();
    DatePtr date(g_mime_utils_header_decode_date(utf8.constData()));
    if (!date)
        return QDateTime();
    const qint64 msecs =
        qint64(g_date_time_to_unix(date.get())) * 1000 + g_date_time_get_microsecond(date.get()) / 1000;
    return QDateTime::fromMSecsSinceEpoch(msecs).toLocalTime();
}

bool needsQuoting(const QString &value)
{
    if (value.isEmpty())
        return true;
    for (const QChar c : value)
        if (c.unicode() <= ' ' || QStringLiteral("()<>@,;:\\\"/[]?=").contains(c))
            return true;
    return false;
}

// "type/subtype; name=value; ..." with the parameters decoded.
QString contentTypeText(GMimeContentType *type)
{
    if (!type)
        return QString();
    CharPtr mime(g_mime_content_type_get_mime_type(type));
    QString text = QString::fromUtf8(mime ? mime.get() : "").toLower();
    GMimeParamList *params = g_mime_content_type_get_parameters(type);
    const int count = params ? g_mime_param_list_length(params) : 0;
    for (int i = 0; i < count; ++i) {
        GMimeParam *param = g_mime_param_list_get_parameter_at(params, i);
        if (!param || !g_mime_param_get_name(param))
            continue;
        QString value = QString::fromUtf8(g_mime_param_get_value(param));
        if (needsQuoting(value))
            value = QLatin1Char('"')
                    + QString(value).replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
                              .replace(QLatin1Char('"'), QStringLiteral("\\\""))
                    + QLatin1Char('"');
        text += QStringLiteral("; ") + QString::fromUtf8(g_mime_param_get_name(param)) + QLatin1Char('=')
                + value;
    }
    return text;
}

// ---- Bodies ----------------------------------------------------------------------------------------

// The content of a leaf part: transfer encoding removed, or as transmitted.
QByteArray partContent(GMimePart *part, bool decode)
{
    GMimeDataWrapper *wrapper = g_mime_part_get_content(part);
    if (!wrapper)
        return QByteArray();
    GPtr<GMimeStream> out(g_mime_stream_mem_new());
    if (decode) {
        g_mime_data_wrapper_write_to_stream(wrapper, out.get());
    } else {
        GMimeStream *source = g_mime_data_wrapper_get_stream(wrapper);
        if (!source)
            return QByteArray();
        g_mime_stream_reset(source);
        g_mime_stream_write_to_stream(source, out.get());
        g_mime_stream_reset(source);
    }
    return streamBytes(out.get());
}

bool isOneOf(const QByteArray &name, std::initializer_list<const char *> names)
{
    for (const char *n : names)
        if (name == n)
            return true;
    return false;
}

// Text bytes in the declared charset as Unicode.
QString charsetText(const QByteArray &bytes, const char *charset)
{
    const QByteArray name = QByteArray(charset ? charset : "").trimmed().toLower();
    // No charset, or one that mail programs routinely put on text that is not: the 8-bit rule decides.
    if (name.isEmpty() || isOneOf(name, {"us-ascii", "ascii", "utf-8", "utf8", "x-unknown", "unknown-8bit"}))
        return platform::decode8bit(bytes);
    // Text labelled Latin-1 is in practice Windows-1252 (its superset); read it so, as browsers do.
    if (isOneOf(name, {"iso-8859-1", "iso8859-1", "latin1", "latin-1", "windows-1252", "cp1252"})) {
        QStringDecoder cp1252("windows-1252");
        if (cp1252.isValid())
            return cp1252.decode(bytes);
    }
    GPtr<GMimeFilter> filter(g_mime_filter_charset_new(name.constData(), "UTF-8"));
    if (!filter)
        return platform::decode8bit(bytes); // a charset nobody knows
    GPtr<GMimeStream> out(g_mime_stream_mem_new());
    {
        GPtr<GMimeStream> filtered(g_mime_stream_filter_new(out.get()));
        g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), filter.get());
        g_mime_stream_write(filtered.get(), bytes.constData(), size_t(bytes.size()));
        g_mime_stream_flush(filtered.get());
    }
    return platform::decode8bit(streamBytes(out.get()));
}

QStringList textLines(GMimePart *part, bool noDecode)
{
    const QByteArray bytes = partContent(part, !noDecode);
    if (noDecode)
        return splitLines(platform::decode8bit(bytes));
    const char *charset = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
    return splitLines(charsetText(bytes, charset));
}

bool isTextType(GMimeObject *object)
{
    GMimeContentType *type = g_mime_object_get_content_type(object);
    return !type || g_mime_content_type_is_type(type, "text", "*");
}

QString fileNameOf(GMimeObject *object)
{
    if (GMIME_IS_PART(object))
        return QString::fromUtf8(g_mime_part_get_filename(GMIME_PART(object)));
    const char *name = g_mime_object_get_content_disposition_parameter(object, "filename");
    if (!name)
        name = g_mime_object_get_content_type_parameter(object, "name");
    return QString::fromUtf8(name);
}

TMailPart makePart(GMimeObject *object, bool noDecode)
{
    TMailPart part;
    part.ContentType = contentTypeText(g_mime_object_get_content_type(object));
    part.Headers = headerLines({object});
    part.FileName = fileNameOf(object);
    if (GMIME_IS_PART(object) && isTextType(object)) {
        part.IsText = true;
        part.Body = textLines(GMIME_PART(object), noDecode);
    }
    return part;
}

// The leaves of a multipart tree in document order; nested multiparts are flattened. Iterative, so
// that no nesting depth can exhaust the stack.
QList<TMailPart> flattenParts(GMimeMultipart *root, bool noDecode)
{
    QList<TMailPart> parts;
    std::vector<GMimeObject *> pending;
    auto pushChildren = [&pending](GMimeMultipart *multipart) {
        for (int i = g_mime_multipart_get_count(multipart) - 1; i >= 0; --i)
            if (GMimeObject *child = g_mime_multipart_get_part(multipart, i))
                pending.push_back(child);
    };
    pushChildren(root);
    while (!pending.empty()) {
        GMimeObject *object = pending.back();
        pending.pop_back();
        if (GMIME_IS_MULTIPART(object))
            pushChildren(GMIME_MULTIPART(object));
        else
            parts.append(makePart(object, noDecode));
    }
    return parts;
}

// ---- Composing -------------------------------------------------------------------------------------

// One header line, folded before blanks so that its lines stay within 78 octets where the words allow.
QByteArray foldedLine(const QByteArray &line)
{
    constexpr qsizetype kWidth = 78;
    QByteArray out;
    qsizetype start = 0;
    while (line.size() - start > kWidth) {
        qsizetype cut = line.lastIndexOf(' ', start + kWidth);
        if (cut <= start)
            cut = line.indexOf(' ', start + kWidth); // one long word: the line is as long as it must be
        if (cut < 0)
            break;
        out += line.mid(start, cut - start) + "\r\n";
        start = cut; // the blank begins the continuation line
    }
    return out + line.mid(start) + "\r\n";
}

bool isFieldHeader(QStringView name)
{
    static const char *const fields[] = {"From", "To", "Cc", "Subject", "Date", "Message-ID"};
    for (const char *field : fields)
        if (name.compare(QLatin1String(field), Qt::CaseInsensitive) == 0)
            return true;
    return name.startsWith(QLatin1String("Content-"), Qt::CaseInsensitive);
}

void addMailboxes(GMimeMessage *message, GMimeAddressType type, const QList<TMailAddress> &addresses)
{
    for (const TMailAddress &a : addresses) {
        const QByteArray name = a.Name.toUtf8();
        const QByteArray address = a.Address.trimmed().toUtf8();
        g_mime_message_add_mailbox(message, type, a.Name.isEmpty() ? nullptr : name.constData(),
                                   address.constData());
    }
}

GMimeObject *newTextPart(const QString &contentType, const QStringList &lines)
{
    QByteArray subtype = "plain";
    const QString mime = contentType.section(QLatin1Char(';'), 0, 0).trimmed().toLower();
    if (mime.startsWith(QLatin1String("text/")) && mime.size() > 5)
        subtype = mime.mid(5).toUtf8();
    GMimeTextPart *part = g_mime_text_part_new_with_subtype(subtype.constData());
    QString text = lines.join(QStringLiteral("\r\n"));
    if (!lines.isEmpty())
        text += QStringLiteral("\r\n");
    const QByteArray utf8 = text.toUtf8();
    g_mime_text_part_set_text(part, utf8.constData());
    return GMIME_OBJECT(part);
}

} // namespace

// ---- MailMessage -----------------------------------------------------------------------------------

QList<TMailAddress> ParseAddressList(const QString &text)
{
    return parseAddresses({text});
}

MailMessage::MailMessage() = default;
MailMessage::~MailMessage() = default;

void MailMessage::clearContent()
{
    From = TMailAddress();
    Recipients.clear();
    Cc.clear();
    Subject.clear();
    Date = QDateTime();
    MsgId.clear();
    Headers.clear();
    Body.clear();
    Parts.clear();
    ContentType.clear();
    m_rawHeader.clear();
    m_rawBody.clear();
    m_filled = Snapshot();
}

void MailMessage::Clear()
{
    clearContent();
    UID.clear();
}

MailMessage::Snapshot MailMessage::snapshot() const
{
    return Snapshot{From, Recipients, Cc, Subject, Date, MsgId, Headers, Body, Parts, ContentType};
}

bool MailMessage::headerUnchanged() const
{
    return From == m_filled.From && Recipients == m_filled.Recipients && Cc == m_filled.Cc
           && Subject == m_filled.Subject && Date == m_filled.Date && MsgId == m_filled.MsgId
           && Headers == m_filled.Headers;
}

bool MailMessage::bodyUnchanged() const
{
    return Body == m_filled.Body && Parts == m_filled.Parts && ContentType == m_filled.ContentType;
}

void MailMessage::takeHeaderFields(const QStringList &headers)
{
    Headers = headers;
    const QList<TMailAddress> from = parseAddresses(rawHeaderValues(headers, QStringLiteral("From"), true));
    From = from.isEmpty() ? TMailAddress() : from.first();
    Recipients = parseAddresses(rawHeaderValues(headers, QStringLiteral("To"), false));
    Cc = parseAddresses(rawHeaderValues(headers, QStringLiteral("Cc"), false));
    const QStringList subject = rawHeaderValues(headers, QStringLiteral("Subject"), true);
    Subject = subject.isEmpty() ? QString() : decodeHeaderText(subject.first());
    const QStringList date = rawHeaderValues(headers, QStringLiteral("Date"), true);
    Date = date.isEmpty() ? QDateTime() : parseDate(date.first());
    // Kept as it stands, "<...>" included: it only identifies the message, nothing takes it apart.
    const QStringList id = rawHeaderValues(headers, QStringLiteral("Message-ID"), true);
    MsgId = id.isEmpty() ? QString() : id.first();
}

bool MailMessage::FillFromHeader(const QByteArray &headerBlock)
{
    clearContent();
    QByteArray header, ignoredBody;
    splitAtEmptyLine(headerBlock, &header, &ignoredBody);
    header = withoutNul(header);
    if (header.trimmed().isEmpty())
        return false;
    QByteArray text = header;
    if (!text.endsWith('\n'))
        text.append("\r\n");
    text.append("\r\n");
    GPtr<GMimeMessage> message = parseMessage(text);
    if (!message)
        return false;
    const QStringList headers =
        headerLines({GMIME_OBJECT(message.get()), g_mime_message_get_mime_part(message.get())});
    if (headers.isEmpty())
        return false;

    takeHeaderFields(headers);
    GMimeObject *body = g_mime_message_get_mime_part(message.get());
    ContentType = body ? contentTypeText(g_mime_object_get_content_type(body)) : QString();
    m_rawHeader = header;
    m_filled = snapshot();
    return true;
}

bool MailMessage::FillFromRaw(const QByteArray &received)
{
    clearContent();
    const QByteArray raw = headerWithoutNul(received);
    GPtr<GMimeMessage> message = parseMessage(raw);
    if (!message)
        return false;
    GMimeObject *body = g_mime_message_get_mime_part(message.get());
    const QStringList headers = headerLines({GMIME_OBJECT(message.get()), body});
    if (headers.isEmpty())
        return false;

    takeHeaderFields(headers);
    if (body) {
        ContentType = contentTypeText(g_mime_object_get_content_type(body));
        if (GMIME_IS_MULTIPART(body)) {
            Parts = flattenParts(GMIME_MULTIPART(body), NoDecode);
            if (Parts.isEmpty()) {
                // A multipart whose boundary never shows (or is missing): its text is all there is.
                const char *prologue = g_mime_multipart_get_prologue(GMIME_MULTIPART(body));
                Body = splitLines(platform::decode8bit(QByteArray(prologue ? prologue : "")));
            }
        } else if (GMIME_IS_PART(body) && isTextType(body)) {
            Body = textLines(GMIME_PART(body), NoDecode);
        } else {
            // A message that is one attachment (or an enclosed message): it is not text to show, but it
            // is content, so the message counts as fetched.
            Parts.append(makePart(body, NoDecode));
        }
    }
    splitAtEmptyLine(raw, &m_rawHeader, &m_rawBody);
    m_filled = snapshot();
    return true;
}

QByteArray MailMessage::WriteRaw() const
{
    const bool haveRaw = !m_rawHeader.isEmpty();
    const bool sameBody = haveRaw && bodyUnchanged();
    if (haveRaw && sameBody && headerUnchanged()) {
        QByteArray out = toCrlf(m_rawHeader);
        if (!out.endsWith("\r\n"))
            out.append("\r\n");
        out.append("\r\n");
        out.append(toCrlf(m_rawBody));
        return out;
    }

    parserOptions();
    GPtr<GMimeMessage> message(g_mime_message_new(TRUE));
    GMimeObject *object = GMIME_OBJECT(message.get());
    if (!From.Address.isEmpty() || !From.Name.isEmpty())
        addMailboxes(message.get(), GMIME_ADDRESS_TYPE_FROM, {From});
    addMailboxes(message.get(), GMIME_ADDRESS_TYPE_TO, Recipients);
    addMailboxes(message.get(), GMIME_ADDRESS_TYPE_CC, Cc);
    const QByteArray subject = Subject.toUtf8();
    g_mime_message_set_subject(message.get(), subject.constData(), "utf-8");

    const QDateTime when = Date.isValid() ? Date : QDateTime::currentDateTime();
    {
        DatePtr utc(g_date_time_new_from_unix_utc(when.toSecsSinceEpoch()));
        GTimeZone *zone = g_time_zone_new_offset(when.offsetFromUtc());
        DatePtr local(utc && zone ? g_date_time_to_timezone(utc.get(), zone) : nullptr);
        if (zone)
            g_time_zone_unref(zone);
        if (local || utc)
            g_mime_message_set_date(message.get(), local ? local.get() : utc.get());
    }

    QString id = MsgId.trimmed();
    if (id.startsWith(QLatin1Char('<')) && id.endsWith(QLatin1Char('>')) && id.size() >= 2)
        id = id.mid(1, id.size() - 2);
    if (id.isEmpty()) {
        const qsizetype at = From.Address.lastIndexOf(QLatin1Char('@'));
        const QByteArray domain = at >= 0 ? From.Address.mid(at + 1).trimmed().toUtf8() : QByteArray();
        CharPtr generated(
            g_mime_utils_generate_message_id(domain.isEmpty() ? "localhost" : domain.constData()));
        if (generated)
            id = QString::fromUtf8(generated.get());
    }
    if (!id.isEmpty()) {
        const QByteArray idBytes = id.toUtf8();
        g_mime_message_set_message_id(message.get(), idBytes.constData());
    }

    // Every other header line of a parsed message travels on (Received, Reply-To, X-...) as it came,
    // beside GMime rather than through it: GMime's formatter for some fields (Received) never returns on
    // a value as small as "from [a (b". Long lines are folded, as they were when they arrived.
    QByteArray passedOn;
    QByteArray trace; // Received and Return-Path lines stay on top, where trace fields stand
    for (const QString &line : Headers) {
        QStringView name, value;
        if (!splitHeaderLine(line, &name, &value) || name.isEmpty() || isFieldHeader(name))
            continue;
        QByteArray text = name.toUtf8() + ": " + value.toUtf8();
        std::replace_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; }, ' ');
        const bool traceField = name.compare(QLatin1String("Received"), Qt::CaseInsensitive) == 0
                                || name.compare(QLatin1String("Return-Path"), Qt::CaseInsensitive) == 0;
        (traceField ? trace : passedOn) += foldedLine(text);
    }

    GMimeFormatOptions *format = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(format, GMIME_NEWLINE_FORMAT_DOS);
    QByteArray out;
    if (sameBody) {
        // Only the header is new: the body goes out byte for byte as received, after the Content-*
        // lines it came with.
        CharPtr header(g_mime_object_get_headers(object, format));
        out = header ? QByteArray(header.get()) : QByteArray();
        out += passedOn;
        const QByteArray headerOnly = m_rawHeader + (m_rawHeader.endsWith('\n') ? "" : "\r\n") + "\r\n";
        GPtr<GMimeMessage> original = parseMessage(headerOnly);
        if (GMimeObject *part = original ? g_mime_message_get_mime_part(original.get()) : nullptr) {
            CharPtr contentHeader(g_mime_object_get_headers(part, format));
            if (contentHeader)
                out.append(contentHeader.get());
        }
        g_mime_format_options_free(format);
        out = toCrlf(out);
        if (!out.endsWith("\r\n"))
            out.append("\r\n");
        return trace + out + "\r\n" + toCrlf(m_rawBody);
    }

    if (Parts.isEmpty()) {
        GPtr<GMimeObject> part(newTextPart(ContentType, Body));
        g_mime_message_set_mime_part(message.get(), part.get());
    } else {
        GPtr<GMimeMultipart> multipart(g_mime_multipart_new_with_subtype("mixed"));
        for (const TMailPart &p : Parts) {
            if (!p.IsText)
                continue; // no data kept for attachments
            GPtr<GMimeObject> part(newTextPart(p.ContentType, p.Body));
            g_mime_multipart_add(multipart.get(), part.get());
        }
        g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(multipart.get()));
    }
    // 8-bit text goes out as quoted-printable so that every relay passes it unchanged.
    g_mime_object_encode(object, GMIME_ENCODING_CONSTRAINT_7BIT);

    // The message's own header lines, the passed-on ones, then the body part with its Content-* lines.
    CharPtr header(g_mime_object_get_headers(object, format));
    out = header ? QByteArray(header.get()) : QByteArray();
    out += passedOn;
    GPtr<GMimeStream> stream(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(g_mime_message_get_mime_part(message.get()), format, stream.get());
    g_mime_format_options_free(format);
    out += streamBytes(stream.get());
    return trace + toCrlf(out);
}

QString MailMessage::HeaderValue(const QString &name) const
{
    const QStringList raw = rawHeaderValues(Headers, name, true);
    return raw.isEmpty() ? QString() : decodeHeaderText(raw.first());
}

QStringList MailMessage::HeaderValues(const QString &name) const
{
    QStringList values = rawHeaderValues(Headers, name, false);
    for (QString &value : values)
        value = decodeHeaderText(value);
    return values;
}

QString MailMessage::HeaderText() const
{
    QString text;
    for (const QString &line : Headers) {
        text += line;
        text += QStringLiteral("\r\n");
    }
    return text;
}

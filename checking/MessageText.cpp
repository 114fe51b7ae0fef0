#include "MessageText.h"

#include "SpamDetectorUnit.h"
#include "TextCodec.h"

#include <QStringView>

#include <algorithm>
#include <array>
#include <string_view>

namespace {

// ---- Character tables ------------------------------------------------------------------------------

// Windows-1252 read of the bytes 0x80 to 0xFF, made once from the platform's own rule.
const std::array<char16_t, 128> &cp1252High()
{
    static const std::array<char16_t, 128> table = [] {
        std::array<char16_t, 128> t{};
        QByteArray bytes(128, '\0');
        for (int i = 0; i < 128; ++i)
            bytes[i] = char(0x80 + i);
        const QString decoded = platform::decode8bit(bytes); // never valid UTF-8: read as Windows-1252
        for (int i = 0; i < 128; ++i)
            t[size_t(i)] = decoded.size() == 128 ? decoded.at(i).unicode() : char16_t(0x80 + i);
        return t;
    }();
    return table;
}

struct Entity {
    std::u16string_view name;
    char16_t ch;
};

// The HTML 4 Latin-1 entities (U+00A0 to U+00FF in order) and the four markup characters, sorted by
// name for a binary search.
const std::array<Entity, 100> &entityTable()
{
    static const std::array<Entity, 100> table = [] {
        static constexpr std::u16string_view latin1[96] = {
            u"nbsp",   u"iexcl",  u"cent",   u"pound",  u"curren", u"yen",    u"brvbar", u"sect",
            u"uml",    u"copy",   u"ordf",   u"laquo",  u"not",    u"shy",    u"reg",    u"macr",
            u"deg",    u"plusmn", u"sup2",   u"sup3",   u"acute",  u"micro",  u"para",   u"middot",
            u"cedil",  u"sup1",   u"ordm",   u"raquo",  u"frac14", u"frac12", u"frac34", u"iquest",
            u"Agrave", u"Aacute", u"Acirc",  u"Atilde", u"Auml",   u"Aring",  u"AElig",  u"Ccedil",
            u"Egrave", u"Eacute", u"Ecirc",  u"Euml",   u"Igrave", u"Iacute", u"Icirc",  u"Iuml",
            u"ETH",    u"Ntilde", u"Ograve", u"Oacute", u"Ocirc",  u"Otilde", u"Ouml",   u"times",
            u"Oslash", u"Ugrave", u"Uacute", u"Ucirc",  u"Uuml",   u"Yacute", u"THORN",  u"szlig",
            u"agrave", u"aacute", u"acirc",  u"atilde", u"auml",   u"aring",  u"aelig",  u"ccedil",
            u"egrave", u"eacute", u"ecirc",  u"euml",   u"igrave", u"iacute", u"icirc",  u"iuml",
            u"eth",    u"ntilde", u"ograve", u"oacute", u"ocirc",  u"otilde", u"ouml",   u"divide",
            u"oslash", u"ugrave", u"uacute", u"ucirc",  u"uuml",   u"yacute", u"thorn",  u"yuml"};
        std::array<Entity, 100> t{};
        for (size_t i = 0; i < 96; ++i)
            t[i] = {latin1[i], char16_t(0xA0 + i)};
        t[96] = {u"quot", u'"'};
        t[97] = {u"amp", u'&'};
        t[98] = {u"lt", u'<'};
        t[99] = {u"gt", u'>'};
        std::sort(t.begin(), t.end(), [](const Entity &a, const Entity &b) { return a.name < b.name; });
        return t;
    }();
    return table;
}

constexpr qsizetype kLongestEntityName = 6;

bool isAsciiAlnum(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

int hexValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// ---- HTML to text ----------------------------------------------------------------------------------

// Tags dropped: each "<" that meets a ">" before the next "<" opens a tag, which ends at that ">".
QString dropTags(const QString &html)
{
    const QStringView text(html);
    qsizetype lt = text.indexOf(u'<');
    if (lt < 0)
        return html;
    QString out;
    out.reserve(html.size());
    out += text.left(lt);
    while (lt >= 0) {
        const qsizetype next = text.indexOf(u'<', lt + 1);
        const qsizetype pieceEnd = next < 0 ? text.size() : next;
        const qsizetype gt = text.mid(lt + 1, pieceEnd - lt - 1).indexOf(u'>');
        if (gt >= 0)
            out += text.mid(lt + 1 + gt + 1, pieceEnd - (lt + 1 + gt + 1));
        else
            out += text.mid(lt, pieceEnd - lt); // no tag: the "<" stays with its text
        lt = next;
    }
    return out;
}

// A named reference "&name;" at text[amp]: its character and the position after the ";".
bool namedReference(QStringView text, qsizetype amp, char16_t *ch, qsizetype *end)
{
    qsizetype j = amp + 1;
    while (j < text.size() && j - amp - 1 < kLongestEntityName && isAsciiAlnum(text[j].unicode()))
        ++j;
    if (j == amp + 1 || j >= text.size() || text[j] != u';')
        return false;
    const QStringView name = text.mid(amp + 1, j - amp - 1);
    if (name.compare(u"nbsp", Qt::CaseInsensitive) == 0) {
        *ch = u' ';
        *end = j + 1;
        return true;
    }
    const std::u16string_view key(reinterpret_cast<const char16_t *>(name.utf16()), size_t(name.size()));
    const auto &table = entityTable();
    const auto it = std::lower_bound(table.begin(), table.end(), key,
                                     [](const Entity &e, std::u16string_view k) { return e.name < k; });
    if (it == table.end() || it->name != key)
        return false;
    *ch = it->ch;
    *end = j + 1;
    return true;
}

// A numeric reference "&#65;" or "&#x41;" at text[amp]: its code point and the position after the ";".
bool numericReference(QStringView text, qsizetype amp, char32_t *code, qsizetype *end)
{
    qsizetype j = amp + 1;
    if (j >= text.size() || text[j] != u'#')
        return false;
    ++j;
    const bool hex = j < text.size() && (text[j] == u'x' || text[j] == u'X');
    if (hex)
        ++j;
    const int base = hex ? 16 : 10;
    const qsizetype digitsStart = j;
    char32_t value = 0;
    while (j < text.size()) {
        const int d = hexValue(text[j].unicode());
        if (d < 0 || d >= base)
            break;
        value = value * char32_t(base) + char32_t(d);
        if (value > 0x10FFFF)
            return false; // no such character; stopping here also bounds the scan
        ++j;
    }
    if (j == digitsStart || j >= text.size() || text[j] != u';')
        return false;
    if (value == 0 || (value >= 0xD800 && value <= 0xDFFF))
        return false;
    if (value >= 0x80 && value <= 0x9F) {
        const char16_t mapped = cp1252High()[value - 0x80];
        if (mapped != QChar::ReplacementCharacter)
            value = mapped;
    }
    *code = value;
    *end = j + 1;
    return true;
}

// A percent escape at text[pct]: its byte and the position after it.
bool percentEscape(QStringView text, qsizetype pct, char *byte, qsizetype *end)
{
    if (pct + 1 >= text.size())
        return false;
    const int high = hexValue(text[pct + 1].unicode());
    if (high < 0)
        return false;
    const int low = pct + 2 < text.size() ? hexValue(text[pct + 2].unicode()) : -1;
    if (low >= 0) {
        *byte = char(high * 16 + low);
        *end = pct + 3;
    } else {
        *byte = char(high);
        *end = pct + 2;
    }
    return true;
}

void appendBytes(QString *out, const QByteArray &bytes)
{
    if (platform::isValidUtf8(bytes)) {
        *out += QString::fromUtf8(bytes);
        return;
    }
    const auto &high = cp1252High();
    for (const char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        out->append(QChar(u < 0x80 ? char16_t(u) : high[u - 0x80]));
    }
}

QString decodeReferences(const QString &input)
{
    const QStringView text(input);
    QString out;
    out.reserve(input.size());
    QByteArray bytes; // a run of percent escapes, read together so that UTF-8 sequences stay whole
    qsizetype i = 0;
    qsizetype plainStart = 0;
    auto flushPlain = [&](qsizetype upTo) {
        if (upTo > plainStart)
            out += text.mid(plainStart, upTo - plainStart);
    };
    auto flushBytes = [&] {
        if (!bytes.isEmpty()) {
            appendBytes(&out, bytes);
            bytes.clear();
        }
    };
    while (i < text.size()) {
        const char16_t c = text[i].unicode();
        qsizetype end = 0;
        if (c == u'%') {
            char byte = 0;
            if (percentEscape(text, i, &byte, &end)) {
                flushPlain(i);
                bytes.append(byte);
                i = plainStart = end;
                continue;
            }
        } else if (c == u'&') {
            char16_t ch = 0;
            char32_t code = 0;
            if (namedReference(text, i, &ch, &end)) {
                flushPlain(i);
                flushBytes();
                out += QChar(ch);
                i = plainStart = end;
                continue;
            }
            if (numericReference(text, i, &code, &end)) {
                flushPlain(i);
                flushBytes();
                out += QString::fromUcs4(&code, 1);
                i = plainStart = end;
                continue;
            }
        }
        if (i == plainStart)
            flushBytes();
        ++i;
    }
    flushBytes();
    flushPlain(text.size());
    return out;
}

// ---- Message text ----------------------------------------------------------------------------------

QString joinLines(const QStringList &lines)
{
    return lines.join(u'\n');
}

// The media type of a Content-Type value, without its parameters: a boundary may hold any type's name.
QString mediaType(const QString &contentType)
{
    return contentType.section(u';', 0, 0).trimmed();
}

bool isType(const QString &contentType, const QString &type)
{
    return PosIgnoreCase(type, mediaType(contentType)) > 0;
}

bool holdsText(const QStringList &lines)
{
    for (const QString &line : lines)
        for (const QChar c : line)
            if (!c.isSpace())
                return true;
    return false;
}

// ---- Links -----------------------------------------------------------------------------------------

constexpr std::u16string_view kBareWww = u"www.";
constexpr std::u16string_view kLinkStarts[] = {u"http://", u"https://", u"ftp://", u"mailto:", kBareWww};

bool endsLink(QChar c)
{
    if (c.isSpace() || c.unicode() < 0x20 || c.unicode() == 0x7F)
        return true;
    switch (c.unicode()) {
    case u'<':
    case u'>':
    case u'"':
    case u'\x00AB': // «
    case u'\x00BB': // »
    case u'\x201C': // “
    case u'\x201D': // ”
    case u'\x201E': // „
        return true;
    default:
        return false;
    }
}

// A link starts a word: not inside a word, a host name, an address or a path.
bool startsWord(QStringView text, qsizetype i)
{
    if (i == 0)
        return true;
    const QChar before = text[i - 1];
    return !before.isLetterOrNumber() && before != u'.' && before != u'-' && before != u'_' && before != u'@'
           && before != u'/';
}

// Length of the link starting at text[i] with a prefix of prefixLength characters, 0 when there is none.
qsizetype linkLength(QStringView text, qsizetype i, qsizetype prefixLength, bool bareWww)
{
    qsizetype end = i + prefixLength;
    qsizetype opened[3] = {0, 0, 0}; // ( [ {
    qsizetype closed[3] = {0, 0, 0};
    static constexpr char16_t opens[3] = {u'(', u'[', u'{'};
    static constexpr char16_t closes[3] = {u')', u']', u'}'};
    for (; end < text.size() && !endsLink(text[end]); ++end) {
        const char16_t c = text[end].unicode();
        for (int k = 0; k < 3; ++k) {
            if (c == opens[k])
                ++opened[k];
            else if (c == closes[k])
                ++closed[k];
        }
    }
    // Punctuation that ends the sentence, and a bracket that closes one around the link, are not part of it.
    while (end > i + prefixLength) {
        const char16_t last = text[end - 1].unicode();
        if (std::u16string_view(u".,;:!?'*").find(last) != std::u16string_view::npos) {
            --end;
            continue;
        }
        const int k = last == u')' ? 0 : last == u']' ? 1 : last == u'}' ? 2 : -1;
        if (k >= 0 && closed[k] > opened[k]) {
            --closed[k];
            --end;
            continue;
        }
        break;
    }
    const qsizetype rest = end - i - prefixLength;
    if (rest <= 0)
        return 0;
    if (bareWww && !text[i + prefixLength].isLetterOrNumber()) // "www." needs a name after it
        return 0;
    return end - i;
}

QString htmlEscaped(QStringView text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            out += QLatin1String("&amp;");
            break;
        case u'<':
            out += QLatin1String("&lt;");
            break;
        case u'>':
            out += QLatin1String("&gt;");
            break;
        case u'"':
            out += QLatin1String("&quot;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

QString HtmlToText(const QString &html)
{
    return decodeReferences(dropTags(html));
}

QString ExtractPlainText(const MailMessage &message)
{
    const TMailPart *first = message.Parts.isEmpty() ? nullptr : &message.Parts.first();
    const bool firstIsText = first && first->IsText;
    if (isType(message.ContentType, QStringLiteral("text/plain"))) {
        if (firstIsText && !first->Body.isEmpty())
            return joinLines(first->Body);
        return joinLines(message.Body);
    }
    if (isType(message.ContentType, QStringLiteral("text/html")))
        return HtmlToText(joinLines(firstIsText ? first->Body : message.Body));
    // Every kind of multipart: signed and report messages carry their text in a part just the same.
    if (isType(message.ContentType, QStringLiteral("multipart/"))) {
        for (const TMailPart &part : message.Parts) {
            if (!part.IsText)
                continue;
            if (isType(part.ContentType, QStringLiteral("text/html")))
                return HtmlToText(joinLines(part.Body));
            return joinLines(part.Body);
        }
        // A multipart whose boundary never shows keeps its text in Body.
    }
    return joinLines(message.Body);
}

QString MessagePaneText(const MailMessage &message)
{
    QStringList lines = message.Headers;
    if (holdsText(message.Body))
        lines += message.Body;
    for (const TMailPart &part : message.Parts) {
        if (!part.IsText)
            continue;
        lines += QString();
        lines += part.Headers;
        lines += part.Body;
    }
    return joinLines(lines);
}

QList<TWebLink> FindWebLinks(const QString &input)
{
    QList<TWebLink> links;
    const QStringView text(input);
    qsizetype i = 0;
    while (i < text.size()) {
        qsizetype length = 0;
        bool bareWww = false;
        const char16_t c = text[i].unicode() | 0x20; // ASCII letters in lower case
        if ((c == u'h' || c == u'f' || c == u'm' || c == u'w') && startsWord(text, i)) {
            for (const std::u16string_view start : kLinkStarts) {
                const QStringView prefix(start.data(), qsizetype(start.size()));
                if (text.mid(i).startsWith(prefix, Qt::CaseInsensitive)) {
                    bareWww = start == kBareWww;
                    length = linkLength(text, i, prefix.size(), bareWww);
                    break;
                }
            }
        }
        if (length == 0) {
            ++i;
            continue;
        }
        TWebLink link;
        link.Start = i;
        link.Length = length;
        link.Url = text.mid(i, length).toString();
        if (bareWww)
            link.Url.prepend(QLatin1String("http://"));
        links.append(link);
        i += length;
    }
    return links;
}

QString LinkedHtml(const QString &text)
{
    QString html = QStringLiteral("<html><body><div style=\"white-space: pre-wrap\">");
    qsizetype done = 0;
    for (const TWebLink &link : FindWebLinks(text)) {
        html += htmlEscaped(QStringView(text).mid(done, link.Start - done));
        html += QStringLiteral("<a href=\"") + htmlEscaped(link.Url) + QStringLiteral("\">")
                + htmlEscaped(QStringView(text).mid(link.Start, link.Length)) + QStringLiteral("</a>");
        done = link.Start + link.Length;
    }
    html += htmlEscaped(QStringView(text).mid(done));
    html += QStringLiteral("</div></body></html>");
    return html;
}

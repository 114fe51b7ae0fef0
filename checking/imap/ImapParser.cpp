#include "ImapParser.h"


#include <algorithm>
#include <limits>

namespace {

// Lists nest no deeper than this in any response a client asks for; deeper ones are refused.
constexpr int kMaxDepth = 64;
// JavaScript's exact integers: larger announced lengths are no lengths.
constexpr qint64 kMaxLiteralNumber = (qint64(1) << 53);

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::optional<qint64> wholeNumber(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > 19)
        return std::nullopt;
    qint64 v = 0;
    for (const char c : text) {
        if (!isDigit(c))
            return std::nullopt;
        const int d = c - '0';
        if (v > (std::numeric_limits<qint64>::max() - d) / 10)
            return std::nullopt;
        v = v * 10 + d;
    }
    return v;
}

// Walks the pieces of one response: line pieces at even indexes, literals at odd ones.
class Reader {
public:
    explicit Reader(const QByteArrayList &pieces) : m_pieces(pieces) {}

    QString error;

    char peek() const
    {
        const QByteArray &line = m_pieces.at(m_piece);
        return m_pos < line.size() ? line.at(m_pos) : '\0';
    }
    bool atLineEnd() const { return m_pos >= m_pieces.at(m_piece).size(); }
    bool atEnd() const { return m_piece == m_pieces.size() - 1 && atLineEnd(); }
    void skipSpaces()
    {
        while (peek() == ' ')
            ++m_pos;
    }
    bool expect(char c)
    {
        if (peek() != c)
            return fail(QStringLiteral("'%1' erwartet").arg(QLatin1Char(c)));
        ++m_pos;
        return true;
    }
    bool fail(const QString &why)
    {
        if (error.isEmpty())
            error = QStringLiteral("%1 an Stelle %2").arg(why).arg(m_pos);
        return false;
    }

    // An atom: up to a blank, a parenthesis, a quote or the end, with bracketed parts ("BODY[HEADER]")
    // taken whole; in a response code also up to its ']'.
    QByteArray atom(bool inCode)
    {
        const QByteArray &line = m_pieces.at(m_piece);
        const qsizetype from = m_pos;
        int brackets = 0;
        while (m_pos < line.size()) {
            const char c = line.at(m_pos);
            if (brackets > 0) {
                if (c == '[')
                    ++brackets;
                else if (c == ']')
                    --brackets;
                ++m_pos;
                continue;
            }
            if (c == ' ' || c == '(' || c == ')' || c == '"' || uchar(c) < 0x20 || c == 0x7f
                || (inCode && c == ']'))
                break;
            if (c == '[')
                ++brackets;
            ++m_pos;
        }
        return line.mid(from, m_pos - from);
    }

    bool quoted(QByteArray *out)
    {
        const QByteArray &line = m_pieces.at(m_piece);
        ++m_pos; // the opening quote
        out->clear();
        while (m_pos < line.size()) {
            const char c = line.at(m_pos++);
            if (c == '"')
                return true;
            if (c == '\\') {
                if (m_pos >= line.size())
                    break;
                out->append(line.at(m_pos++));
                continue;
            }
            out->append(c);
        }
        return fail(QStringLiteral("Zeichenkette ohne Ende"));
    }

    // The literal announced at this point, which must end the line piece.
    bool literal(QByteArray *out)
    {
        const QByteArray &line = m_pieces.at(m_piece);
        const qsizetype close = line.indexOf('}', m_pos);
        if (close != line.size() - 1 || m_piece + 1 >= m_pieces.size() - 1)
            return fail(QStringLiteral("Literal nicht am Zeilenende"));
        QByteArray length = line.mid(m_pos + 1, close - m_pos - 1);
        if (length.endsWith('+'))
            length.chop(1);
        const std::optional<qint64> n = wholeNumber(length);
        const QByteArray &data = m_pieces.at(m_piece + 1);
        if (!n || *n != data.size())
            return fail(QStringLiteral("Literal mit falscher Länge"));
        *out = data;
        m_piece += 2;
        m_pos = 0;
        return true;
    }

    bool value(ImapValue *out, int depth, bool inCode)
    {
        const char c = peek();
        if (c == '(') {
            if (depth >= kMaxDepth)
                return fail(QStringLiteral("Listen zu tief verschachtelt"));
            ++m_pos;
            out->kind = ImapValue::List;
            for (;;) {
                skipSpaces();
                if (peek() == ')') {
                    ++m_pos;
                    return true;
                }
                if (atLineEnd())
                    return fail(QStringLiteral("Liste ohne Ende"));
                ImapValue item;
                if (!value(&item, depth + 1, inCode))
                    return false;
                out->items.append(std::move(item));
            }
        }
        if (c == '"') {
            out->kind = ImapValue::String;
            return quoted(&out->text);
        }
        if (c == '{') {
            out->kind = ImapValue::String;
            return literal(&out->text);
        }
        if (c == ')' || (inCode && c == ']'))
            return fail(QStringLiteral("unerwartetes '%1'").arg(QLatin1Char(c)));
        out->text = atom(inCode);
        if (out->text.isEmpty())
            return fail(QStringLiteral("unlesbares Zeichen"));
        out->kind = out->text.compare("NIL", Qt::CaseInsensitive) == 0 ? ImapValue::Nil : ImapValue::Atom;
        return true;
    }

    // The values up to the end of the response.
    bool values(QList<ImapValue> *out)
    {
        for (;;) {
            skipSpaces();
            if (atEnd())
                return true;
            if (atLineEnd())
                return fail(QStringLiteral("Literal ohne Ankündigung"));
            ImapValue v;
            if (!value(&v, 0, false))
                return false;
            out->append(std::move(v));
        }
    }

    // resp-text: an optional "[code args]" and the text; the text is the rest of the line.
    void respText(ImapResponse *r)
    {
        skipSpaces();
        r->fullText = m_pieces.at(m_piece).mid(m_pos);
        if (peek() == '[') {
            const qsizetype start = m_pos;
            const int startPiece = m_piece;
            ++m_pos;
            r->code = atom(true).toUpper();
            bool ok = !r->code.isEmpty();
            while (ok) {
                skipSpaces();
                if (peek() == ']') {
                    ++m_pos;
                    break;
                }
                if (atLineEnd()) {
                    ok = false;
                    break;
                }
                ImapValue v;
                ok = value(&v, 0, true);
                if (ok)
                    r->codeArgs.append(std::move(v));
            }
            if (!ok) {
                // Not a response code after all: all of it is text.
                error.clear();
                r->code.clear();
                r->codeArgs.clear();
                m_piece = startPiece;
                m_pos = start;
            }
            skipSpaces();
        }
        r->text = m_pieces.at(m_piece).mid(m_pos);
        m_pos = m_pieces.at(m_piece).size();
    }

private:
    const QByteArrayList &m_pieces;
    int m_piece = 0;
    qsizetype m_pos = 0;
};

bool isStatusName(const QByteArray &name)
{
    return name == "OK" || name == "NO" || name == "BAD" || name == "BYE" || name == "PREAUTH";
}

} // namespace

bool ImapValue::isAtom(const char *name) const
{
    return kind == Atom && text.compare(name, Qt::CaseInsensitive) == 0;
}

std::optional<qint64> ImapValue::number() const
{
    return kind == Atom ? wholeNumber(text) : std::nullopt;
}

bool ImapResponse::isStatus() const
{
    return isStatusName(name);
}

bool ParseImapResponse(const QByteArrayList &pieces, ImapResponse *response, QString *error)
{
    *response = ImapResponse();
    const auto failed = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (pieces.isEmpty() || pieces.size() % 2 == 0)
        return failed(QStringLiteral("unvollständige Antwort"));
    Reader in(pieces);
    ImapResponse &r = *response;
    r.line = pieces.first();
    if (in.peek() == '+') {
        r.kind = ImapResponse::Continuation;
        in.expect('+');
        in.respText(&r);
        return true;
    }
    if (in.peek() == '*') {
        in.expect('*');
        if (!in.expect(' '))
            return failed(in.error);
        r.kind = ImapResponse::Untagged;
        QByteArray first = in.atom(false);
        if (const std::optional<qint64> n = wholeNumber(first)) {
            r.number = *n;
            if (!in.expect(' '))
                return failed(in.error);
            first = in.atom(false);
        }
        r.name = first.toUpper();
        if (r.name.isEmpty())
            return failed(QStringLiteral("Antwort ohne Schlüsselwort"));
        if (r.number < 0 && r.isStatus()) {
            in.respText(&r);
            return true;
        }
        if (!in.values(&r.values))
            return failed(in.error);
        return true;
    }
    r.kind = ImapResponse::Tagged;
    r.tag = in.atom(false);
    if (r.tag.isEmpty() || !in.expect(' '))
        return failed(QStringLiteral("Antwort ohne Kennung"));
    r.name = in.atom(false).toUpper();
    if (!r.isStatus() || r.name == "PREAUTH")
        return failed(QStringLiteral("abgeschlossene Antwort ohne OK, NO oder BAD"));
    in.respText(&r);
    return true;
}

std::optional<qint64> AnnouncedLiteral(const QByteArray &linePiece)
{
    if (!linePiece.endsWith('}'))
        return std::nullopt;
    const qsizetype open = linePiece.lastIndexOf('{');
    if (open < 0)
        return std::nullopt;
    QByteArray length = linePiece.mid(open + 1, linePiece.size() - open - 2);
    if (length.endsWith('+'))
        length.chop(1);
    if (length.isEmpty() || !std::all_of(length.cbegin(), length.cend(), isDigit))
        return std::nullopt;
    const std::optional<qint64> n = wholeNumber(length);
    return n && *n <= kMaxLiteralNumber ? *n : -1;
}

std::optional<QByteArray> ImapQuoted(const QByteArray &text)
{
    if (text.size() > 1000)
        return std::nullopt;
    bool plainAtom = !text.isEmpty();
    for (const char c : text) {
        const uchar u = uchar(c);
        if (u == 0 || u == '\r' || u == '\n' || u >= 0x80)
            return std::nullopt;
        if (u < 0x20 || u == 0x7f || c == ' ' || c == '(' || c == ')' || c == '{' || c == '%' || c == '*'
            || c == '"' || c == '\\' || c == ']')
            plainAtom = false;
    }
    if (plainAtom && text.compare("NIL", Qt::CaseInsensitive) != 0)
        return text;
    QByteArray out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out.append('\\');
        out.append(c);
    }
    return out + '"';
}

QByteArray EncodeMailboxName(const QString &name)
{
    QByteArray out;
    QString pending; // characters beyond printable ASCII, encoded together
    const auto flush = [&] {
        if (pending.isEmpty())
            return;
        QByteArray utf16;
        for (const QChar c : std::as_const(pending)) {
            utf16.append(char(c.unicode() >> 8));
            utf16.append(char(c.unicode() & 0xff));
        }
        QByteArray b64 = utf16.toBase64(QByteArray::OmitTrailingEquals);
        b64.replace('/', ',');
        out += '&' + b64 + '-';
        pending.clear();
    };
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u <= 0x7e) {
            flush();
            out += u == '&' ? QByteArray("&-") : QByteArray(1, char(u));
        } else {
            pending.append(c);
        }
    }
    flush();
    return out;
}

QString DecodeMailboxName(const QByteArray &wire)
{
    QString out;
    qsizetype i = 0;
    while (i < wire.size()) {
        const char c = wire.at(i);
        if (uchar(c) >= 0x80)
            return QString::fromLatin1(wire);
        if (c != '&') {
            out.append(QLatin1Char(c));
            ++i;
            continue;
        }
        const qsizetype end = wire.indexOf('-', i + 1);
        if (end < 0)
            return QString::fromLatin1(wire);
        if (end == i + 1) {
            out.append(QLatin1Char('&'));
            i = end + 1;
            continue;
        }
        QByteArray b64 = wire.mid(i + 1, end - i - 1);
        b64.replace(',', '/');
        const auto decoded = QByteArray::fromBase64Encoding(b64, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.size() % 2 != 0)
            return QString::fromLatin1(wire);
        for (qsizetype k = 0; k + 1 < decoded.decoded.size(); k += 2)
            out.append(QChar(char16_t((uchar(decoded.decoded.at(k)) << 8) | uchar(decoded.decoded.at(k + 1)))));
        i = end + 1;
    }
    return out;
}

QByteArrayList UidSets(const QList<uint32_t> &ascendingUids, int maxOctets)
{
    QByteArrayList sets;
    QByteArray current;
    for (qsizetype i = 0; i < ascendingUids.size();) {
        qsizetype j = i;
        while (j + 1 < ascendingUids.size() && ascendingUids.at(j + 1) == ascendingUids.at(j) + 1)
            ++j;
        QByteArray range = QByteArray::number(ascendingUids.at(i));
        if (j > i)
            range += ':' + QByteArray::number(ascendingUids.at(j));
        if (!current.isEmpty() && current.size() + 1 + range.size() > maxOctets) {
            sets.append(current);
            current.clear();
        }
        current += (current.isEmpty() ? QByteArray() : QByteArray(",")) + range;
        i = j + 1;
    }
    if (!current.isEmpty())
        sets.append(current);
    return sets;
}

std::optional<QList<uint32_t>> ParseUidSet(const QByteArray &set, qsizetype max)
{
    QList<uint32_t> out;
    const auto uid = [](const QByteArray &text) -> std::optional<uint32_t> {
        const std::optional<qint64> n = wholeNumber(text);
        if (!n || *n < 1 || *n > std::numeric_limits<uint32_t>::max())
            return std::nullopt;
        return uint32_t(*n);
    };
    for (const QByteArray &part : set.split(',')) {
        const qsizetype colon = part.indexOf(':');
        const std::optional<uint32_t> first = uid(colon < 0 ? part : part.left(colon));
        const std::optional<uint32_t> last = colon < 0 ? first : uid(part.mid(colon + 1));
        if (!first || !last)
            return std::nullopt;
        const uint32_t low = std::min(*first, *last), high = std::max(*first, *last);
        if (qint64(high) - low + 1 > max - out.size())
            return std::nullopt;
        for (uint64_t u = low; u <= high; ++u)
            out.append(uint32_t(u));
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

const ImapValue *FetchItem(const QList<ImapValue> &items, const char *key)
{
    for (qsizetype i = 0; i + 1 < items.size(); i += 2)
        if (items.at(i).isAtom(key))
            return &items.at(i + 1);
    return nullptr;
}

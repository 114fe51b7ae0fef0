#include "TextCodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace platform {

bool isValidUtf8(const QByteArray &bytes)
{
    QStringDecoder dec(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString s = dec.decode(bytes);
    return !dec.hasError();
}

QString decode8bit(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = utf8.decode(bytes);
    if (!utf8.hasError())
        return s;
    QStringDecoder cp("windows-1252");
    if (cp.isValid())
        return cp.decode(bytes);
    return QString::fromLatin1(bytes);
}

QByteArray encodeCp1252(const QString &text)
{
    QStringEncoder enc("windows-1252", QStringEncoder::Flag::Stateless);
    if (!enc.isValid())
        return text.toLatin1();
    QByteArray out;
    out.reserve(text.size());
    // Encode character by character so that one unmappable character cannot spoil the rest.
    for (qsizetype i = 0; i < text.size(); ++i) {
        qsizetype len = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        QStringEncoder one("windows-1252", QStringEncoder::Flag::Stateless);
        QByteArray b = one.encode(QStringView(text).mid(i, len));
        if (one.hasError() || b.isEmpty())
            out.append('?');
        else
            out.append(b);
        i += len - 1;
    }
    return out;
}

QString terminalSafe(const QString &text, bool keepLineBreaks)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (keepLineBreaks && c == u'\r' && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
            continue;
        if (keepLineBreaks && c == u'\n')
            out.append(QLatin1Char('\n'));
        else if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
            out.append(QLatin1Char('?'));
        else
            out.append(text.at(i));
    }
    return out;
}

QByteArray terminalSafe(const QByteArray &bytes)
{
    return terminalSafe(decode8bit(bytes)).toUtf8();
}

} // namespace platform

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

} // namespace platform

#include "UIDStore.h"

#include "TextCodec.h"

#include <QFile>
#include <QSaveFile>

QByteArray EscapeUIDLine(const QString &id)
{
    const QByteArray bytes = id.toUtf8();
    QByteArray out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        switch (c) {
        case '\\':
            out.append("\\\\");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\n':
            out.append("\\n");
            break;
        default:
            out.append(c);
        }
    }
    return out;
}

QString UnescapeUIDLine(const QByteArray &line)
{
    // The escapes are ASCII, so the line's text rule can be applied first.
    const QString text = platform::decode8bit(line);
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\\') || i + 1 >= text.size()) {
            out.append(c);
            continue;
        }
        const QChar next = text.at(i + 1);
        if (next == QLatin1Char('\\'))
            out.append(QLatin1Char('\\'));
        else if (next == QLatin1Char('r'))
            out.append(QLatin1Char('\r'));
        else if (next == QLatin1Char('n'))
            out.append(QLatin1Char('\n'));
        else {
            // Not one of ours (a line from an older version): kept as it stands.
            out.append(c);
            continue;
        }
        ++i;
    }
    return out;
}

QByteArray FormatUIDFile(const QStringList &ids)
{
    QByteArray out;
    for (const QString &id : ids) {
        out.append(EscapeUIDLine(id));
        out.append("\r\n");
    }
    return out;
}

QStringList ParseUIDFile(const QByteArray &data)
{
    QStringList ids;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\n', start);
        if (end < 0)
            end = data.size();
        QByteArray line = data.mid(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            ids.append(UnescapeUIDLine(line));
        start = end + 1;
    }
    return ids;
}

QStringList ReadUIDFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ParseUIDFile(file.readAll());
}

bool WriteUIDFile(const QString &path, const QStringList &ids)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Identifiers can be whole header blocks (messages without a Message-ID): for the owner's eyes only.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray data = FormatUIDFile(ids);
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    return file.commit();
}

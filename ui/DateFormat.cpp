#include "DateFormat.h"

#include <QLocale>

namespace {

// The program speaks German whatever the system's locale: its dates do too ("09.12.2026 14:05:09").
const QLocale &programLocale()
{
    static const QLocale locale(QLocale::German, QLocale::Germany);
    return locale;
}

} // namespace

QString FourDigitYearFormat(const QString &format)
{
    if (format.contains(QLatin1String("yyyy"), Qt::CaseInsensitive))
        return format;
    const qsizetype at = format.indexOf(QLatin1String("yy"), 0, Qt::CaseInsensitive);
    if (at < 0)
        return format;
    QString out = format;
    out.insert(at, QStringLiteral("yy"));
    return out;
}

QString ShortDateFormat()
{
    static const QString format = FourDigitYearFormat(programLocale().dateFormat(QLocale::ShortFormat));
    return format;
}

QString WithoutTimeZone(const QString &timeFormat)
{
    QString out;
    bool quoted = false;
    for (const QChar c : timeFormat) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        out += c;
    }
    return out.simplified();
}

QString LongTimeFormat()
{
    static const QString format = WithoutTimeZone(programLocale().timeFormat(QLocale::LongFormat));
    return format;
}

QString LongTimeText(const QTime &time)
{
    return programLocale().toString(time, LongTimeFormat());
}

QString ShortDateLongTime(const QDateTime &when)
{
    if (!when.isValid())
        return QString();
    const QDateTime local = when.toLocalTime();
    return programLocale().toString(local.date(), ShortDateFormat()) + QLatin1Char(' ') + LongTimeText(local.time());
}

#include "DateFormat.h"

#include <QLocale>

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
    static const QString format = FourDigitYearFormat(QLocale().dateFormat(QLocale::ShortFormat));
    return format;
}

QString ShortDateLongTime(const QDateTime &when)
{
    if (!when.isValid())
        return QString();
    const QDateTime local = when.toLocalTime();
    return QLocale().toString(local.date(), ShortDateFormat()) + QLatin1Char(' ')
           + QLocale().toString(local.time(), QLocale::LongFormat);
}

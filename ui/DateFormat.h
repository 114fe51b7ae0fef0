#pragma once
// Dates are German whatever the system's locale (QLocale::German: "09.12.2026 14:05:09") and show
// four-digit years: a short date format with only a two-digit year gets "yy" inserted at the place of
// that "yy".
#include <QDateTime>
#include <QString>

QString FourDigitYearFormat(const QString &shortDateFormat);
// The German short date format with the rule above applied.
QString ShortDateFormat();
// The German long time format without its time-zone field: the clock time as the user reads it
// ("14:05:09", not "14:05:09 CET").
QString LongTimeFormat();
QString WithoutTimeZone(const QString &timeFormat);
QString LongTimeText(const QTime &time);
// "ddddd tt": short date, a blank, long time.
QString ShortDateLongTime(const QDateTime &when);

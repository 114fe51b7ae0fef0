#pragma once
// Dates show four-digit years: a short date format with only a two-digit year gets "yy" inserted at the
// place of that "yy".
#include <QDateTime>
#include <QString>

QString FourDigitYearFormat(const QString &shortDateFormat);
// The user's short date format with the rule above applied.
QString ShortDateFormat();
// "ddddd tt": short date, a blank, long time.
QString ShortDateLongTime(const QDateTime &when);

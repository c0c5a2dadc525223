#include "common/mail_date.h"

#include "common/clock_text.h"

#include <QDateTime>
#include <QHash>
#include <QRegularExpression>

#include <ctime>
#include <limits>

namespace hm {
namespace {

QString withoutComments(const QString& text)
{
    QString out;
    int depth = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\\') && depth > 0) {
            ++i;
            continue;
        }
        if (c == QLatin1Char('('))
            ++depth;
        else if (c == QLatin1Char(')') && depth > 0)
            --depth;
        else if (depth == 0)
            out += c;
    }
    return out;
}

// 1 to 12 for a month's English name or its first three letters; 0 for anything else.
int monthOf(const QString& name)
{
    static const QStringList months{QStringLiteral("january"), QStringLiteral("february"), QStringLiteral("march"),
                                    QStringLiteral("april"),   QStringLiteral("may"),      QStringLiteral("june"),
                                    QStringLiteral("july"),    QStringLiteral("august"),   QStringLiteral("september"),
                                    QStringLiteral("october"), QStringLiteral("november"), QStringLiteral("december")};
    if (name.size() < 3)
        return 0;
    for (qsizetype i = 0; i < months.size(); ++i)
        if (months[i].startsWith(name, Qt::CaseInsensitive))
            return static_cast<int>(i) + 1;
    return 0;
}

// Offset east of UTC in seconds; false for a zone the text does not name. Unknown
// alphabetic zones (military letters among them) count as UTC, as the standard says.
bool zoneOffset(const QString& zone, int* seconds)
{
    if (zone.isEmpty()) {
        *seconds = 0;
        return true;
    }
    if (zone.size() == 5 && (zone[0] == QLatin1Char('+') || zone[0] == QLatin1Char('-'))) {
        bool ok = false;
        const int hhmm = zone.mid(1).toInt(&ok);
        if (!ok || hhmm / 100 > 23 || hhmm % 100 > 59)
            return false;
        *seconds = (zone[0] == QLatin1Char('-') ? -1 : 1) * ((hhmm / 100) * 3600 + (hhmm % 100) * 60);
        return true;
    }
    static const QHash<QString, int> named{
        {QStringLiteral("UT"), 0},   {QStringLiteral("UTC"), 0},  {QStringLiteral("GMT"), 0},
        {QStringLiteral("Z"), 0},    {QStringLiteral("JST"), 9},  {QStringLiteral("KST"), 9},
        {QStringLiteral("EST"), -5}, {QStringLiteral("EDT"), -4}, {QStringLiteral("CST"), -6},
        {QStringLiteral("CDT"), -5}, {QStringLiteral("MST"), -7}, {QStringLiteral("MDT"), -6},
        {QStringLiteral("PST"), -8}, {QStringLiteral("PDT"), -7},
    };
    const QString upper = zone.toUpper();
    if (named.contains(upper)) {
        *seconds = named.value(upper) * 3600;
        return true;
    }
    for (QChar c : zone)
        if (!c.isLetter() || c.unicode() > 0x7f)
            return false;
    *seconds = 0;
    return true;
}

// The moment a Date header names: the day and time as written and the zone's offset east of
// UTC in seconds. False when the text names no moment.
bool readMailDate(const QString& text, QDate* date, QTime* time, int* offset)
{
    // [weekday,] day month year hour:minute[:second] [zone]
    static const QRegularExpression form(
        QStringLiteral(R"(^\s*(?:[A-Za-z]+\s*,?\s*)?(\d{1,2})\s+([A-Za-z]+)\s+(\d{2,4})\s+)"
                       R"((\d{1,2})\s*:\s*(\d{2})(?:\s*:\s*(\d{2}))?\s*([+-]\d{4}|[A-Za-z]+)?\s*$)"));
    const QRegularExpressionMatch m = form.match(text.contains(QLatin1Char('(')) ? withoutComments(text) : text);
    if (!m.hasMatch())
        return false;
    const int month = monthOf(m.captured(2));
    if (month == 0)
        return false;
    int year = m.captured(3).toInt();
    // Two digits: 00-49 are 2000-2049, 50-99 1950-1999; three digits add 1900.
    if (m.captured(3).size() == 2)
        year += year < 50 ? 2000 : 1900;
    else if (m.captured(3).size() == 3)
        year += 1900;
    if (!zoneOffset(m.captured(7), offset))
        return false;
    *date = QDate(year, month, m.captured(1).toInt());
    *time = QTime(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    return date->isValid() && time->isValid();
}

} // namespace

MailDateDisplay::MailDateDisplay()
{
    ::tzset();
}

QString MailDateDisplay::operator()(const QString& text) const
{
    QDate date;
    QTime time;
    int offset = 0;
    if (!readMailDate(text, &date, &time, &offset))
        return text;
    constexpr qint64 kUnixEpochDay = 2440588; // 1970-01-01 as a Julian day
    const qint64 utc = (date.toJulianDay() - kUnixEpochDay) * 86400 + time.msecsSinceStartOfDay() / 1000 - offset;
    // localtime_r uses the zone tzset read. Qt's conversion reads it again for every date,
    // a look at /etc/localtime each: most of the time a full history list took to open. Before
    // 1970 and after 2038 Qt's own rules may differ from the C library's, so Qt converts those.
    if (utc >= 0 && utc <= std::numeric_limits<qint32>::max()) {
        const time_t t = time_t(utc);
        tm local{};
        if (::localtime_r(&t, &local))
            return formatClockText(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                                   local.tm_sec);
    }
    return formatClockText(QDateTime::fromSecsSinceEpoch(utc, Qt::UTC).toLocalTime());
}

QString displayedMailDate(const QString& text)
{
    return MailDateDisplay()(text);
}

} // namespace hm

#include "common/clock_text.h"

#include <QDateTime>

namespace hm {
namespace {
std::function<QString()>& source()
{
    static std::function<QString()> s;
    return s;
}
} // namespace

QString clockText()
{
    return source() ? source()() : formatClockText();
}

void setClockTextSource(std::function<QString()> s)
{
    source() = std::move(s);
}

QString formatClockText()
{
    return formatClockText(QDateTime::currentDateTime());
}

QString formatClockText(const QDateTime& moment)
{
    const QDate d = moment.date();
    const QTime t = moment.time();
    return formatClockText(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

QString formatClockText(int year, int month, int day, int hour, int minute, int second)
{
    // A Japanese system's short formats: 2026/12/07  9:05:03
    return QString::asprintf("%04d/%02d/%02d  %d:%02d:%02d", year, month, day, hour, minute, second);
}
} // namespace hm

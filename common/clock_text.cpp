#include "common/clock_text.h"

#include <QDateTime>
#include <QLocale>

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
    // A Japanese system's short formats: 2026/12/07  9:05:03
    return moment.toString(QStringLiteral("yyyy/MM/dd")) + QStringLiteral("  ") +
           moment.toString(QStringLiteral("H:mm:ss"));
}
} // namespace hm

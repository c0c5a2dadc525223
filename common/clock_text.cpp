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
    // A Japanese system's short formats: 2026/12/07  9:05:03
    const QDateTime now = QDateTime::currentDateTime();
    return now.toString(QStringLiteral("yyyy/MM/dd")) + QStringLiteral("  ") +
           now.toString(QStringLiteral("H:mm:ss"));
}
} // namespace hm

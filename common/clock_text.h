#pragma once
#include <QDateTime>
#include <QString>
#include <functional>

namespace hm {
// The main window's clock text ("date  time"), the date of every sent record. The main window
// registers where it keeps it; without a main window (tests) the current time is formatted.
QString clockText();
void setClockTextSource(std::function<QString()> source);
// The date, two spaces and the time, in the system's short formats.
QString formatClockText();
QString formatClockText(const QDateTime& moment);
QString formatClockText(int year, int month, int day, int hour, int minute, int second);
} // namespace hm

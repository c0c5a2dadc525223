#pragma once
#include <QDateTime>
#include <QString>

namespace hm {
// The moment a mail's Date header names (RFC 5322, with the obsolete forms old and
// Japanese mailers still write: two-digit years, zone names such as JST or GMT, no
// seconds, no weekday, comments). Invalid when the text names no moment.
QDateTime parseMailDate(const QString& text);
// How the program shows a Date header: in its clock format, in local time; a text it
// cannot read is shown as written.
QString displayedMailDate(const QString& text);
} // namespace hm

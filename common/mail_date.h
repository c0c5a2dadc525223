#pragma once
#include <QString>

namespace hm {
// How the program shows a Date header: in its clock format, in local time. The header may be
// in RFC 5322's form or the obsolete ones old and Japanese mailers still write (two-digit
// years, zone names such as JST or GMT, no seconds, no weekday, comments); a text that names
// no moment is shown as written.
QString displayedMailDate(const QString& text);

// The same for many dates in a row (a list of messages): the system's time zone is looked up
// once, when this is made, not once for every date.
class MailDateDisplay {
public:
    MailDateDisplay();
    QString operator()(const QString& text) const;
};
} // namespace hm

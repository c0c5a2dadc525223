#pragma once
#include <QString>

namespace hm::compose {
// Editors hold line breaks as LF; messages and stores keep the CR LF of the system.
inline QString withCrLf(const QString& editorText)
{
    QString t = editorText;
    t.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return t;
}
} // namespace hm::compose

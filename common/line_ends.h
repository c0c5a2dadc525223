#pragma once
#include <QString>

// Editors hold line breaks as LF; files, messages and stores keep the system's CR LF.
namespace hm {

inline QString withCrLf(const QString& editorText)
{
    QString t = editorText;
    t.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return t;
}

// Any CR LF, lone CR or LF becomes the editor's LF.
inline QString withLf(const QString& text)
{
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

// Any CR LF, lone CR or LF becomes CR LF, as files, messages and stores keep them.
QString toCrLf(const QString& text);

// Whether every line end is a CR LF already; with marks, also whether the text is free of the
// marks a rich text editor leaves (paragraph and line separators, frame markers, no-break spaces).
bool onlyCrLf(QStringView text, bool marks = false);

} // namespace hm

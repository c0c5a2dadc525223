#include "common/line_ends.h"

namespace hm {

bool onlyCrLf(QStringView text)
{
    const char16_t* s = text.utf16();
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (s[i] > u'\r')
            continue;
        if (s[i] == u'\r' && i + 1 < n && s[i + 1] == u'\n')
            ++i;
        else if (s[i] == u'\r' || s[i] == u'\n')
            return false;
    }
    return true;
}

QString toCrLf(const QString& text)
{
    // Most texts hold CR LF only already and are returned as they are.
    if (onlyCrLf(text))
        return text;
    const char16_t* s = reinterpret_cast<const char16_t*>(text.utf16());
    const qsizetype n = text.size();
    qsizetype added = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (s[i] == u'\r') {
            if (i + 1 < n && s[i + 1] == u'\n')
                ++i;
            else
                ++added;
        } else if (s[i] == u'\n') {
            ++added;
        }
    }
    QString out(n + added, Qt::Uninitialized);
    char16_t* o = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype i = 0; i < n; ++i) {
        if (s[i] == u'\r' || s[i] == u'\n') {
            if (s[i] == u'\r' && i + 1 < n && s[i + 1] == u'\n')
                ++i;
            *o++ = u'\r';
            *o++ = u'\n';
        } else {
            *o++ = s[i];
        }
    }
    out.truncate(o - reinterpret_cast<char16_t*>(out.data()));
    return out;
}

} // namespace hm

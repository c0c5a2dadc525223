#include "common/line_ends.h"

namespace hm {

QString toCrLf(const QString& text)
{
    // One pass; most texts hold CR LF only already and are returned as they are.
    const char16_t* s = reinterpret_cast<const char16_t*>(text.utf16());
    const qsizetype n = text.size();
    qsizetype added = 0;
    bool same = true;
    for (qsizetype i = 0; i < n; ++i) {
        if (s[i] == u'\r') {
            if (i + 1 < n && s[i + 1] == u'\n') {
                ++i;
            } else {
                same = false;
                ++added;
            }
        } else if (s[i] == u'\n') {
            same = false;
            ++added;
        }
    }
    if (same)
        return text;
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

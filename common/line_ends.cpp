#include "common/line_ends.h"

namespace hm {

bool onlyCrLf(QStringView text)
{
    // Two vectorised searches instead of a look at every character: mail is mostly text
    // between line ends.
    for (qsizetype at = text.indexOf(u'\r'); at >= 0; at = text.indexOf(u'\r', at + 2))
        if (at + 1 >= text.size() || text[at + 1] != u'\n')
            return false;
    for (qsizetype at = text.indexOf(u'\n'); at >= 0; at = text.indexOf(u'\n', at + 1))
        if (at == 0 || text[at - 1] != u'\r')
            return false;
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

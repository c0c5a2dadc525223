#include "common/line_ends.h"

#include "common/char_lanes.h"

namespace hm {

namespace {

bool editorMark(char16_t c)
{
    return c == 0xA0 || c == 0x2028 || c == 0x2029 || c == 0xFDD0 || c == 0xFDD1;
}

// Whether the character at at is a line end in a CR LF pair, or no line end or editor mark.
bool fineAt(const char16_t* s, qsizetype n, qsizetype at, bool marks)
{
    const char16_t c = s[at];
    if (c == u'\r')
        return at + 1 < n && s[at + 1] == u'\n';
    if (c == u'\n')
        return at > 0 && s[at - 1] == u'\r';
    return !marks || !editorMark(c);
}

#if defined(__SSE2__)
// Every LF in v right after a CR and every CR right before an LF, two mask bits a character; a CR
// that ends the block wants an LF to begin the next.
bool pairedLineEnds(__m128i v, unsigned& crBefore)
{
    using namespace lanes;
    const unsigned cr = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(v, same('\r'))));
    const unsigned lf = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(v, same('\n'))));
    if (lf != (((cr << 2) | crBefore) & 0xFFFF))
        return false;
    crBefore = cr >> 14;
    return true;
}

bool holdsMark(__m128i v)
{
    using namespace lanes;
    const __m128i mark = _mm_or_si128(_mm_cmpeq_epi16(v, same(short(0xA0))),
                                      _mm_or_si128(atMost(_mm_sub_epi16(v, same(0x2028)), same(1)),
                                                   atMost(_mm_sub_epi16(v, same(short(0xFDD0))), same(1))));
    return _mm_movemask_epi8(mark) != 0;
}
#endif

} // namespace

bool onlyCrLf(QStringView text, bool marks)
{
    const char16_t* s = text.utf16();
    const qsizetype n = text.size();
    qsizetype i = 0;
#if defined(__SSE2__)
    // Sixteen characters to a step. Most steps hold no control character, and every mark lies
    // above 0x9F, so Latin text needs no closer look at all.
    using namespace lanes;
    unsigned crBefore = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i a = load(s + i), b = load(s + i + 8);
        if (_mm_movemask_epi8(_mm_or_si128(atMost(a, same('\r')), atMost(b, same('\r'))))) {
            if (!pairedLineEnds(a, crBefore) || !pairedLineEnds(b, crBefore))
                return false;
        } else if (crBefore) {
            return false;
        }
        if (marks && _mm_movemask_epi8(_mm_and_si128(atMost(a, same(0x9F)), atMost(b, same(0x9F)))) != 0xFFFF
            && (holdsMark(a) || holdsMark(b)))
            return false;
    }
    for (; i + 8 <= n; i += 8) {
        const __m128i v = load(s + i);
        if (!pairedLineEnds(v, crBefore) || (marks && holdsMark(v)))
            return false;
    }
    if (crBefore && (i == n || s[i] != u'\n'))
        return false;
#endif
    for (; i < n; ++i)
        if (!fineAt(s, n, i, marks))
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

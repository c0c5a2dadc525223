#include "common/line_ends.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hm {

namespace {

bool editorMark(char16_t c)
{
    return c == 0xA0 || c == 0x2028 || c == 0x2029 || c == 0xFDD0 || c == 0xFDD1;
}

// Whether the characters of [from, to) pass: line ends in CR LF pairs, no editor mark.
bool passes(const char16_t* s, qsizetype n, qsizetype from, qsizetype to, bool marks)
{
    for (qsizetype i = from; i < to; ++i) {
        const char16_t c = s[i];
        if ((c == u'\r' && (i + 1 >= n || s[i + 1] != u'\n')) || (c == u'\n' && (i == 0 || s[i - 1] != u'\r'))
            || (marks && editorMark(c)))
            return false;
    }
    return true;
}

} // namespace

bool onlyCrLf(QStringView text, bool marks)
{
    const char16_t* s = text.utf16();
    const qsizetype n = text.size();
    qsizetype i = 0;
#if defined(__SSE2__)
    // Eight characters to an instruction, and only those found are looked at one by one: a
    // received body is mostly text between line ends. "At most k" is "nothing left after taking
    // k away", as SSE2 compares 16-bit lanes signed only.
    constexpr qsizetype kLanes = 8;
    const __m128i zero = _mm_setzero_si128(), cr = _mm_set1_epi16('\r'), one = _mm_set1_epi16(1);
    const __m128i nbsp = _mm_set1_epi16(short(0xA0)), separators = _mm_set1_epi16(0x2028),
                  frames = _mm_set1_epi16(short(0xFDD0));
    const auto atMost = [&](__m128i v, __m128i k) { return _mm_cmpeq_epi16(_mm_subs_epu16(v, k), zero); };
    for (; i + kLanes <= n; i += kLanes) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        __m128i look = atMost(v, cr);
        if (marks)
            look = _mm_or_si128(_mm_or_si128(look, _mm_cmpeq_epi16(v, nbsp)),
                                _mm_or_si128(atMost(_mm_sub_epi16(v, separators), one),
                                             atMost(_mm_sub_epi16(v, frames), one)));
        // Two mask bits a character: only the characters found are looked at.
        for (unsigned found = unsigned(_mm_movemask_epi8(look)); found; found &= found - 1) {
            const qsizetype at = i + __builtin_ctz(found) / 2;
            found &= found - 1;
            const char16_t c = s[at];
            const bool fine = c == u'\r'   ? at + 1 < n && s[at + 1] == u'\n'
                              : c == u'\n' ? at > 0 && s[at - 1] == u'\r'
                                           : c < u'\r' || !marks || !editorMark(c);
            if (!fine)
                return false;
        }
    }
#endif
    return passes(s, n, i, n, marks);
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
